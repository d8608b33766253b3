#pragma once

#include <string_view>

namespace zennic {

// Hands a finished line to the system's debugger output; on Linux that is standard error.
void WriteDebugOutput(std::string_view text);

}  // namespace zennic
