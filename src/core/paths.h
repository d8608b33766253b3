#pragma once

#include <filesystem>

namespace zennic {

// Absolute and lexically normal; symbolic links are not resolved and the path need not exist.
// An empty path stays empty.
std::filesystem::path AbsoluteNormalPath(const std::filesystem::path& path);

// Whether `path` is `root` or lies below it, compared as the file system does: exact case and
// "/" only. A root ending in a separator (the file-system root) contains every path below it.
bool IsPathInsideRoot(const std::filesystem::path& path, const std::filesystem::path& root);

// The desired path when nothing exists there, else the first free "<stem>-N<ext>" for N from 2
// to 999. Empty when every name is taken, so no caller overwrites an existing file.
// Throws std::filesystem::filesystem_error when existence cannot be tested.
std::filesystem::path MakeUniqueFilePath(const std::filesystem::path& desired);

// Music, else Documents, else the home folder, else the current folder.
std::filesystem::path FallbackBaseDirectory();
// The sounds folder proposed for a new profile; nothing is created.
std::filesystem::path DefaultSoundsDirectory();

}  // namespace zennic
