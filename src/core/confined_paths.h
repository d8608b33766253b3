#pragma once

#include <filesystem>
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
// The regular file `path` leads to, opened for reading.
int OpenFileInside(const std::filesystem::path& root, const std::filesystem::path& path,
                   OpenFile* file);

}  // namespace zennic
