#pragma once

#include <filesystem>
#include <string>

namespace zennic {

// Durable file replacement. Each returns 0 on success or the system error number.

// Forces a folder's entries (a rename into it) to the disk.
int SyncFolderToDisk(const std::filesystem::path& folder);
// Moves a file onto a target, replacing it in one step.
int MoveFileReplacing(const std::filesystem::path& from, const std::filesystem::path& to);
// Moves a file onto a target only when nothing is there; EEXIST otherwise.
int MoveFileWithoutReplacing(const std::filesystem::path& from, const std::filesystem::path& to);

// The system's text for an error number.
std::string SystemErrorText(int error_number);

}  // namespace zennic
