#pragma once

#include <cstdint>

namespace zennic {

// The keyboard scan code that produces a virtual-key code on the running system's layout, with
// 0xE0 in the high byte for an extended key (Right Ctrl is 0xE01D). 0 when the layout has no
// key for it.
int32_t VirtualKeyToScanCode(uint32_t vk);

}  // namespace zennic
