#include "sound_files/sound_inbox_folder.h"

#include <system_error>

#include "core/paths.h"
#include "core/text.h"
#include "sound_files/audio_decoding.h"

namespace zennic {
namespace fs = std::filesystem;
namespace {

bool Refuse(std::string* code, std::string* message, const char* code_text,
            const char* message_text) {
  if (code != nullptr) *code = code_text;
  if (message != nullptr) *message = message_text;
  return false;
}

// An existing folder in its own right: a link to a folder is refused, as the inbox would
// otherwise watch a place other than the one the user sees.
bool IsRealFolder(const fs::path& folder) {
  std::error_code code;
  const fs::file_status own = fs::symlink_status(folder, code);
  if (code || fs::is_symlink(own)) return false;
  const fs::file_status target = fs::status(folder, code);
  return !code && fs::is_directory(target);
}

}  // namespace

bool ValidateSoundInboxFolder(const MixerSettings& settings, const fs::path& folder,
                              std::string* code, std::string* message) {
  const fs::path inbox = AbsoluteNormalPath(folder);
  if (inbox.empty()) {
    return Refuse(code, message, "sound_inbox_folder_required",
                  "Choose a Sound Inbox folder first");
  }
  if (!IsRealFolder(inbox)) {
    return Refuse(code, message, "sound_inbox_folder_invalid",
                  "Sound Inbox folder must be an existing folder");
  }
  const fs::path canonical_inbox = CanonicalFolderPath(inbox);
  if (IsDriveRootPath(canonical_inbox)) {
    return Refuse(code, message, "sound_inbox_drive_root", "Choose a folder, not a drive root");
  }
  for (const Profile& profile : settings.profiles) {
    if (Trim(profile.audio_dir).empty()) continue;
    const fs::path audio_folder = CanonicalFolderPath(Utf8ToPath(profile.audio_dir));
    if (audio_folder.empty()) continue;
    if (IsPathInsideRoot(canonical_inbox, audio_folder) ||
        IsPathInsideRoot(audio_folder, canonical_inbox)) {
      return Refuse(code, message, "sound_inbox_profile_overlap",
                    "Sound Inbox cannot be inside a Ruzerad profile folder, and profile folders "
                    "cannot be inside the inbox");
    }
  }
  if (code != nullptr) code->clear();
  if (message != nullptr) message->clear();
  return true;
}

fs::path CanonicalFolderPath(const fs::path& path) {
  std::error_code code;
  fs::path resolved = fs::canonical(path, code);
  if (code) resolved = fs::weakly_canonical(path, code);
  if (code) resolved = path;
  return AbsoluteNormalPath(resolved);
}

bool IsDriveRootPath(const fs::path& path) {
  const fs::path normal = AbsoluteNormalPath(path);
  return !normal.empty() && normal == normal.root_path();
}

bool LiesInFolder(const fs::path& file, const fs::path& canonical_folder) {
  std::error_code code;
  const fs::path resolved = fs::canonical(file, code);
  return !code && IsPathInsideRoot(resolved, canonical_folder);
}

bool IsPartialDownloadName(const fs::path& path) {
  const std::string extension = LowerCaseExtension(path);
  return extension == ".tmp" || extension == ".part" || extension == ".crdownload";
}

}  // namespace zennic
