#pragma once

#include <filesystem>
#include <string>

namespace zennic {

// Moves a file to a path where nothing is, never replacing what is there, also from one file
// system to another (a copy written to a new work file beside the target, forced to disk and
// published without replacing, then the source removed). On failure the source is where it
// was and `error` ends in the system's error number.
bool MoveFileWithMessage(const std::filesystem::path& from, const std::filesystem::path& to,
                         std::string* error);

}  // namespace zennic
