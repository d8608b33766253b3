#pragma once

#include <filesystem>
#include <string>

namespace zennic {

// The desktop's default programs, started on the display the program runs on. Each returns
// once the program has been started, and fails with the reason when there is no display or
// nothing to open the location with.

// Shows the folder in the desktop's file manager.
bool OpenFolderInFileManager(const std::filesystem::path& folder, std::string* error);

// Opens an "http://" address in the desktop's browser.
bool OpenWebAddress(const std::string& address, std::string* error);

}  // namespace zennic
