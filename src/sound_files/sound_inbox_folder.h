#pragma once

#include <filesystem>
#include <string>

#include "model/mixer_settings.h"

namespace zennic {

// Whether a folder may be the Sound Inbox: an existing folder (not a link to one), not the root
// of a drive, and neither inside a profile's audio folder nor holding one, so that prepared
// clips are never taken in again. On failure `code` and `message` say why; on success both are
// emptied.
bool ValidateSoundInboxFolder(const MixerSettings& settings, const std::filesystem::path& folder,
                              std::string* code, std::string* message);

// The canonical path when it can be resolved, else the weakly canonical one, else the path as
// given; absolute and lexically normal in every case.
std::filesystem::path CanonicalFolderPath(const std::filesystem::path& path);
// The path names only the root of a file system.
bool IsDriveRootPath(const std::filesystem::path& path);
// The file, its links followed, lies in the folder (given in its canonical form): a link in the
// inbox that points elsewhere brings nothing in from there.
bool LiesInFolder(const std::filesystem::path& file, const std::filesystem::path& canonical_folder);
// A download still in progress, by its extension: ".tmp", ".part" or ".crdownload".
bool IsPartialDownloadName(const std::filesystem::path& path);

}  // namespace zennic
