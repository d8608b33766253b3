#pragma once

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <string>
#include <string_view>

#include "core/confined_paths.h"
#include "platform/confined_folder.h"

namespace zennic {

// Whole-file reading and writing. Each returns false with an English sentence in `error`
// (when given) on failure.

// No text file of the program is anywhere near this large; a larger one is damaged, and
// reading it whole could take all the memory there is.
inline constexpr size_t kMaxTextFileBytes = 64 << 20;

// Reads the bytes unchanged: no newline or encoding conversion, a byte-order mark stays. Only a
// regular file of at most kMaxTextFileBytes is read.
bool ReadTextFile(const std::filesystem::path& path, std::string* output, std::string* error);
// Writes through a work file beside the target, published over it (see PublishWorkFile), so a
// reader sees either the whole old file or the whole new one.
bool WriteTextFileAtomic(const std::filesystem::path& path, std::string_view text,
                         std::string* error);

// Work files: every file the program produces is written under a work name and then published.
// A work file lies beside its target under a name that no other writer can hold,
// "<target name>.zennic-<process id>-<random>.tmp" (listings and the inbox pass over ".tmp"
// names), so two writers of one target never share a work file, and one that its writer left
// unfinished (a crash, a kill, a power cut) is known as such and swept away. The work file is
// made in an opened folder and kept open, so that what is written and published stays in that
// folder whatever happens to the names on the way to it.
struct WorkFile {
  ConfinedFolder folder;
  std::string name;
  OpenFile file;
  // Where a writer that takes a path writes this very file.
  std::filesystem::path path() const { return file.ReopenPath(); }
};
// Sweeps the folder first (SweepAbandonedWorkFiles). Fails with "Unable to open temp file for
// writing: " and the name tried.
bool CreateExclusiveWorkFile(const ConfinedFolder& folder, const std::string& target_name,
                             WorkFile* work, std::string* error);
// Makes a finished work file the target of its folder: the file forced to disk, moved onto the
// target in one step (over an existing file only when `replace_existing`), then the folder
// forced to disk. On failure `error` gets the system's text and `error_number` (when given) its
// number, the work file is removed and the target is as it was; true means the target holds
// the work file.
bool PublishWorkFile(const WorkFile& work, const std::string& target_name, bool replace_existing,
                     std::string* error, int* error_number = nullptr);
// Removes a work file that will not be published; a file already gone is no failure.
void DiscardWorkFile(const WorkFile& work);
// The same for the program's own files, by path: the work file lies beside `target`.
bool CreateExclusiveWorkFile(const std::filesystem::path& target, std::filesystem::path* work,
                             std::string* error);
bool PublishWorkFile(const std::filesystem::path& work, const std::filesystem::path& target,
                     bool replace_existing, std::string* error, int* error_number = nullptr);
void DiscardWorkFile(const std::filesystem::path& work);
// Removes the work files of the folder that no running process is writing, and, when
// `including_own` (at start, before this run writes anything), this process's too.
void SweepAbandonedWorkFiles(const ConfinedFolder& folder, bool including_own);
// The same at start, in the folder and, when `recursive`, every folder below it but links.
void SweepAbandonedWorkFiles(const std::filesystem::path& folder, bool recursive);
// Copies a file to a place where nothing is, through a work file beside it published without
// replacing. 0 or the error number.
int CopyFileToPlace(const FilePlace& from, const FilePlace& to);
// Moves a file to a place where nothing is, never replacing what is there, also from one file
// system to another: then as a copy written to a work file beside the target, published without
// replacing, and the source removed only after. 0 or the error number; on failure the source is
// where it was.
int MoveFileToPlace(const FilePlace& from, const FilePlace& to);
// Keeps a damaged file for the user while freeing its place: renames it beside itself as
// "<name>.corrupted", or "<name>-2.corrupted" up to "-999" when that is taken, never over
// another file. `kept_as` (when given) gets the new path.
bool MoveDamagedFileAside(const std::filesystem::path& file, std::filesystem::path* kept_as,
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
