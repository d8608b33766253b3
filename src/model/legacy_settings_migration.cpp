#include "model/legacy_settings_migration.h"

#include <system_error>

#include "core/files.h"
#include "model/key_catalog.h"
#include "model/mixer_settings_json.h"

namespace zennic {

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
  if (!ReadTextFile(*older_file, &text, error)) return false;
  // Such a failure stops every start, so it names the file the user has to move or mend.
  auto fail_naming_file = [&](const std::string& message) {
    if (error) *error = message + " (" + older_file->string() + ")";
    return false;
  };
  JsonValue document;
  std::string parse_error;
  if (!JsonValue::Parse(text, &document, &parse_error)) {
    return fail_naming_file("Failed to parse legacy settings JSON: " + parse_error);
  }
  MixerSettings settings;
  std::string step_error;
  if (!MigrateLegacySettingsJson(document, &settings, &step_error)) return fail_naming_file(step_error);
  std::filesystem::path backup;
  if (!BackupLegacySettingsFile(*older_file, paths, &backup, &step_error)) {
    return fail_naming_file(step_error);
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
