#pragma once

#include <filesystem>
#include <string>
#include <vector>

#include "core/app_paths.h"
#include "core/json_value.h"
#include "model/mixer_settings.h"

namespace zennic {

// The settings obtained at start-up, and how.
struct SettingsLoadResult {
  MixerSettings settings;
  bool loaded_from_disk = false;      // from settings.json or a migrated older file
  bool migrated_from_legacy = false;  // converted from the first format
  std::string source_path;            // the file the settings came from
  std::string backup_path;            // the copy made on the way (older or damaged file)
};

// Keeps settings.json in the data folder: loads it once (migrating an older file, recovering
// from a damaged one), saves it atomically, deletes it on a reset. Has no lock of its own: the
// runtime state calls it under its disk mutex.
class SettingsStore {
 public:
  // An empty `default_audio_dir` means the default Sounds folder.
  SettingsStore(AppPaths paths, std::vector<std::filesystem::path> legacy_candidates,
                std::filesystem::path default_audio_dir);

  // False only when no settings could be established; a damaged file is set aside and the
  // program runs on defaults.
  bool Load(SettingsLoadResult* result, std::string* error);
  bool Save(const MixerSettings& settings, std::string* error) const;
  // Deletes settings.json; an absent file counts as deleted.
  bool Reset(std::string* error);
  // A line in the program's log.
  void Log(const std::string& message) const;

 private:
  bool LoadFromDisk(SettingsLoadResult* result, std::string* error);
  bool LoadFirstFormatInPlace(const JsonValue& document, SettingsLoadResult* result,
                              std::string* error);
  bool RecoverWithDefaults(const std::string& message, SettingsLoadResult* result);
  // Copies the damaged file to settings.json.corrupted, or moves it there when it cannot be
  // read; true when settings.json may be written afresh.
  bool SetDamagedFileAside(SettingsLoadResult* result) const;
  static std::filesystem::path CorruptBackupPath(const std::filesystem::path& settings_file);
  std::filesystem::path DefaultAudioDirectory() const;
  void PointDefaultProfilesAtDefaultFolder(MixerSettings* settings) const;
  bool EnsureSoundsLayout(const MixerSettings& settings, std::string* error) const;

  AppPaths paths_;
  std::vector<std::filesystem::path> legacy_candidates_;
  std::filesystem::path default_audio_dir_;
};

}  // namespace zennic
