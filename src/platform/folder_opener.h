#pragma once

#include <filesystem>
#include <string>

namespace zennic {

// Shows the folder in the desktop's file manager and returns once the file manager has been
// asked to. False with the reason when there is no desktop to show it on or nothing to open it
// with.
bool OpenFolderInFileManager(const std::filesystem::path& folder, std::string* error);

}  // namespace zennic
