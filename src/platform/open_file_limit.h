#pragma once

#include <cstddef>

namespace zennic {

// Raises the process's limit of open files towards `wanted` as far as the system allows, and
// returns the limit in force afterwards.
size_t RaiseOpenFileLimit(size_t wanted);

}  // namespace zennic
