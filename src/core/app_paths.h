#pragma once

#include <filesystem>
#include <string>
#include <vector>

namespace zennic {

// The per-user data folder and the files the program keeps in it; all absolute.
struct AppPaths {
  std::filesystem::path root;
  std::filesystem::path settings_file;           // settings.json
  std::filesystem::path audio_backup_file;       // audio_backup.json
  std::filesystem::path sound_inbox_state_file;  // sound_inbox_state.json
  std::filesystem::path logs_folder;             // logs
  std::filesystem::path migration_folder;        // migration
};

// Builds the set under `root`, which is made absolute and normal first.
AppPaths FillAppPaths(const std::filesystem::path& root);

// The set under the user's application-data folder + `folder_name`. Fails when the system
// names no such folder; `output` is then left untouched.
bool ResolveAppPaths(const std::string& folder_name, AppPaths* output, std::string* error);

// Where an older settings file may lie: "data/mixer_settings.json" beside the executable, and
// under the working folder when that is another place.
std::vector<std::filesystem::path> LegacySettingsCandidates(
    const std::filesystem::path& executable_folder, const std::filesystem::path& working_folder);

}  // namespace zennic
