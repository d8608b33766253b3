#pragma once

#include <filesystem>
#include <functional>
#include <string>

#include "platform/confined_folder.h"

namespace zennic {

// How the file routes reach a path below an audio folder. The path and the root are resolved
// once by the file system (a link that stays inside the root is followed), and the result is
// then reached from the root's own opened folder one real folder at a time: a folder swapped
// for a link after the check is refused, not followed out, and whatever is then done happens
// in the folder that was checked. An empty root sets no bound. Each returns 0 or the system's
// error number; ELOOP (or ENOTDIR) means the path leads out of the root.

// A file's place: the opened folder it lies in and its name there.
struct FilePlace {
  ConfinedFolder folder;
  std::string name;
};

int OpenFolderInside(const std::filesystem::path& root, const std::filesystem::path& folder,
                     ConfinedFolder* out);
// The place of `path`: an entry to remove or rename as it is, not followed.
int OpenParentInside(const std::filesystem::path& root, const std::filesystem::path& path,
                     FilePlace* place);
// `folder` below the root, its missing folders made on the way, none of them through a link.
int CreateFolderInside(const std::filesystem::path& root, const std::filesystem::path& folder,
                       ConfinedFolder* out);
// Visits every entry below `root` through opened folders only, so that a folder swapped for a
// link while the walk runs is never entered; `visit` gets each entry's folder, name, type and
// path relative to the root, and tells whether to enter a folder. Links are never entered. A
// folder that cannot be opened (gone, no longer a folder, not ours to read) is passed over.
// 0, or the error number of opening or reading the root itself.
using ConfinedWalkVisitor =
    std::function<bool(const ConfinedFolder& folder, const std::string& name, EntryType type,
                       const std::filesystem::path& relative)>;
int WalkInside(const std::filesystem::path& root, const ConfinedWalkVisitor& visit);
// The regular file `path` leads to, opened for reading.
int OpenFileInside(const std::filesystem::path& root, const std::filesystem::path& path,
                   OpenFile* file);

}  // namespace zennic
