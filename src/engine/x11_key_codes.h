#pragma once

#include <cstdint>
#include <optional>

#include "engine/raw_input_window.h"

namespace zennic {

// Translation between the X server's key codes and buttons and the virtual-key and scan codes
// the rest of the program speaks, for a US keyboard layout. X key codes are the kernel's
// input codes plus 8, as every X server with the evdev or libinput driver (and Xvfb) reports.

// The event raw input would report for this key; nothing for a key it has no code for.
// NumLock decides whether a keypad digit reports its digit or its navigation key.
std::optional<RawKeyEvent> RawKeyEventFromXKey(unsigned x_keycode, bool is_down, bool num_lock_on);

// X buttons 1, 3, 2, 8 and 9 are left, right, middle and the two extra buttons; the wheel
// (4 to 7) and any other button give nothing.
std::optional<RawKeyEvent> RawKeyEventFromXButton(unsigned x_button, bool is_down);

// The X key code of the key that sends this make code. `scan_code` may carry its E0 or E1
// prefix in the high byte; without one, `extended` means E0.
std::optional<unsigned> XKeycodeFromScanCode(uint32_t scan_code, bool extended);

// The X button of a mouse-button code (4, 5 or 6; 1 and 2 as well).
std::optional<unsigned> XButtonFromMouseButtonCode(uint32_t code);

}  // namespace zennic
