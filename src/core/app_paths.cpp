#include "core/app_paths.h"

#include "core/paths.h"
#include "platform/known_folders.h"

namespace zennic {

AppPaths FillAppPaths(const std::filesystem::path& root) {
  AppPaths paths;
  paths.root = AbsoluteNormalPath(root);
  paths.settings_file = paths.root / "settings.json";
  paths.audio_backup_file = paths.root / "audio_backup.json";
  paths.sound_inbox_state_file = paths.root / "sound_inbox_state.json";
  paths.logs_folder = paths.root / "logs";
  paths.migration_folder = paths.root / "migration";
  return paths;
}

bool ResolveAppPaths(const std::string& folder_name, AppPaths* output, std::string* error) {
  if (output == nullptr) {
    if (error) *error = "AppPaths output pointer is null";
    return false;
  }
  std::filesystem::path app_data = GetKnownFolderPath(KnownFolder::LocalAppData);
  if (app_data.empty()) {
    if (error) *error = "SHGetKnownFolderPath(FOLDERID_LocalAppData) failed";
    return false;
  }
  *output = FillAppPaths(app_data / folder_name);
  return true;
}

std::vector<std::filesystem::path> LegacySettingsCandidates(
    const std::filesystem::path& executable_folder, const std::filesystem::path& working_folder) {
  std::vector<std::filesystem::path> candidates;
  candidates.push_back(AbsoluteNormalPath(executable_folder / "data" / "mixer_settings.json"));
  std::filesystem::path second = AbsoluteNormalPath(working_folder / "data" / "mixer_settings.json");
  if (second != candidates.front()) candidates.push_back(second);
  return candidates;
}

}  // namespace zennic
