#pragma once

#include <cstddef>

namespace zennic {

// Fills the buffer from the system's cryptographic random source. False when that source
// fails; there is deliberately no weaker fallback.
bool FillSecureRandom(unsigned char* buffer, size_t size);

}  // namespace zennic
