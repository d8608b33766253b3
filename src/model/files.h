#pragma once

#include <cstdint>
#include <filesystem>
#include <string>
#include <string_view>

namespace zennic {

// Whole-file reading and writing. Each returns false with an English sentence in `error`
// (when given) on failure.

// Reads the bytes unchanged: no newline or encoding conversion, a byte-order mark stays.
bool ReadTextFile(const std::filesystem::path& path, std::string* output, std::string* error);
// Writes through "<name>.tmp" in the same folder, forced to disk, then renamed over the target,
// so a reader sees either the whole old file or the whole new one.
bool WriteTextFileAtomic(const std::filesystem::path& path, std::string_view text,
                         std::string* error);
// Creates the folder and its missing parents; an existing folder and an empty path succeed.
bool CreateDirectories(const std::filesystem::path& path, std::string* error);
bool EnsureParentDirectory(const std::filesystem::path& file, std::string* error);
// The audio folder and its category sub-folders.
bool EnsureAudioFolderLayout(const std::filesystem::path& folder, std::string* error);

// A file time as 100-nanosecond intervals since 1601-01-01 UTC, the form the program's own files
// keep, so a stored time means the same on every system.
int64_t FileTimeToTicks(std::filesystem::file_time_type time);

}  // namespace zennic
