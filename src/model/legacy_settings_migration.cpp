#include "model/legacy_settings_migration.h"

#include <system_error>

#include "core/app_log.h"
#include "core/files.h"
#include "model/key_catalog.h"
#include "model/mixer_settings_json.h"

namespace zennic {
namespace {

// An older file that cannot be read as settings would stop every start: it is kept aside for
// the user, and the start goes on as if there had been none.
bool StartWithoutDamagedFile(const std::filesystem::path& older_file, const std::string& damage,
                             const AppPaths& paths, SettingsLoadResult* result) {
  std::filesystem::path kept_as;
  std::string move_error;
  if (MoveDamagedFileAside(older_file, &kept_as, &move_error)) {
    WriteLogLine(paths.logs_folder, "SettingsStore",
                 "Set aside the older settings file " + older_file.string() + " as " +
                     kept_as.string() + " and started on default settings: " + damage);
  } else {
    WriteLogLine(paths.logs_folder, "SettingsStore",
                 "Started on default settings: the older settings file " + older_file.string() +
                     " cannot be used (" + damage + ") nor set aside: " + move_error);
  }
  *result = SettingsLoadResult{MakeDefaultMixerSettings(), false, false, {}, kept_as.string()};
  return true;
}

}  // namespace

bool MigrateLegacySettingsJson(const JsonValue& document, MixerSettings* output,
                               std::string* error) {
  if (output == nullptr) {
    if (error) *error = "Migration output settings pointer is null";
    return false;
  }
  if (document.type != JsonValue::Type::Object) {
    if (error) *error = "Legacy settings JSON root is not an object";
    return false;
  }
  MixerSettings settings = MakeDefaultMixerSettings();
  settings.mic_name = document.GetString("mic_name", "");
  settings.out_name = document.GetString("out_name", "");
  settings.monitor_name = document.GetString("monitor_name", "");
  settings.mic_volume = document.GetNumber("mic_volume", 1.0);
  settings.sfx_volume = document.GetNumber("sfx_volume", 1.0);
  settings.hold_voice_key = document.GetBool("hold_k", true);
  settings.loop = document.GetBool("loop", false);
  std::string hotkey = document.GetString("hotkey", "");
  settings.ptt_trigger_key = KeyBindingFromLegacyName(document.GetString("hotkey_label", hotkey),
                                                      document.GetString("hotkey_key", ""));
  settings.voice_chat_key = DefaultVoiceChatKey();
  settings.monitor_enabled = true;
  settings.file_path = document.GetString("file_path", "");
  settings.profiles = {Profile{"default", "Default",
                               document.GetString("audio_dir", DefaultAudioDirUtf8())}};
  settings.selected_profile_id = "default";
  settings.convert_keep_originals = true;
  settings.convert_overwrite_existing = false;
  NormalizeMixerSettings(&settings);
  *output = std::move(settings);
  return true;
}

bool BackupLegacySettingsFile(const std::filesystem::path& older_file, const AppPaths& paths,
                              std::filesystem::path* backup_path, std::string* error) {
  if (!CreateDirectories(paths.migration_folder, error)) return false;
  std::filesystem::path target =
      paths.migration_folder / (older_file.stem().string() + ".v1.backup.json");
  std::error_code code;
  std::filesystem::copy_file(older_file, target,
                             std::filesystem::copy_options::overwrite_existing, code);
  if (code) {
    if (error) *error = "Failed to create legacy settings backup: " + code.message();
    return false;
  }
  if (backup_path) *backup_path = target;
  return true;
}

bool MigrateLegacySettings(const std::vector<std::filesystem::path>& candidates,
                           const AppPaths& paths, SettingsLoadResult* result, std::string* error) {
  if (result == nullptr) {
    if (error) *error = "Migration result pointer is null";
    return false;
  }
  const std::filesystem::path* older_file = nullptr;
  for (const std::filesystem::path& candidate : candidates) {
    // Throws when the file's existence cannot be told; the store recovers from that.
    if (!candidate.empty() && std::filesystem::exists(candidate)) {
      older_file = &candidate;
      break;
    }
  }
  if (older_file == nullptr) {
    *result = SettingsLoadResult{MakeDefaultMixerSettings(), false, false, {}, {}};
    return true;
  }

  std::string text;
  std::string damage;
  JsonValue document;
  MixerSettings settings;
  if (ReadTextFile(*older_file, &text, &damage)) {
    std::string parse_error;
    if (!JsonValue::Parse(text, &document, &parse_error)) {
      damage = "Failed to parse legacy settings JSON: " + parse_error;
    } else {
      MigrateLegacySettingsJson(document, &settings, &damage);
    }
  }
  if (!damage.empty()) return StartWithoutDamagedFile(*older_file, damage, paths, result);
  std::filesystem::path backup;
  std::string step_error;
  if (!BackupLegacySettingsFile(*older_file, paths, &backup, &step_error)) {
    // Such a failure stops every start, so it names the file the user has to move or mend.
    if (error) *error = step_error + " (" + older_file->string() + ")";
    return false;
  }
  if (!WriteTextFileAtomic(paths.settings_file, MixerSettingsToJson(settings).Serialize(2),
                           error)) {
    return false;
  }
  *result = SettingsLoadResult{std::move(settings), true, true, older_file->string(),
                               backup.string()};
  return true;
}

}  // namespace zennic
