#pragma once

#include <filesystem>

namespace zennic {

// The running program's own file; empty when the system cannot tell.
std::filesystem::path CurrentExecutablePath();

}  // namespace zennic
