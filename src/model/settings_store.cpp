#include "model/settings_store.h"

#include <cstdint>
#include <system_error>

#include "core/app_log.h"
#include "core/files.h"
#include "model/legacy_settings_migration.h"
#include "model/mixer_settings_json.h"
#include "core/paths.h"
#include "core/text.h"
#include "platform/file_sync.h"

namespace zennic {
namespace {

constexpr char kLogTag[] = "SettingsStore";

// Settings name folders by their UTF-8 text, but a folder's name need not be UTF-8 here (a home
// folder named in another encoding): its bytes are stored as they are and name the same folder.
std::filesystem::path FolderOfSetting(const std::string& text) {
  return IsValidUtf8(text) ? Utf8ToPath(text) : std::filesystem::path(text);
}

// Versions 0 and 1, and a missing or non-numeric version, are the first, flat format.
bool IsFirstFormat(const JsonValue& document) {
  int32_t version = JsonNumberToInt32(document.GetNumber("version", 0.0));
  return static_cast<uint32_t>(version) <= 1;
}

}  // namespace

SettingsStore::SettingsStore(AppPaths paths, std::vector<std::filesystem::path> legacy_candidates,
                             std::filesystem::path default_audio_dir)
    : paths_(std::move(paths)),
      legacy_candidates_(std::move(legacy_candidates)),
      default_audio_dir_(std::move(default_audio_dir)) {}

bool SettingsStore::Load(SettingsLoadResult* result, std::string* error) {
  if (result == nullptr) {
    if (error) *error = "Settings load result pointer is null";
    return false;
  }
  try {
    std::filesystem::path sounds = DefaultAudioDirectory();
    if (!IsValidUtf8(sounds.string())) {
      Log("The default Sounds folder's name is not UTF-8 text, so the web client shows it only "
          "approximately: " + sounds.string());
    }
    if (std::filesystem::exists(paths_.settings_file)) return LoadFromDisk(result, error);
    if (!MigrateLegacySettings(legacy_candidates_, paths_, result, error)) return false;
    PointDefaultProfilesAtDefaultFolder(&result->settings);
    std::string layout_error;
    if (!EnsureSoundsLayout(result->settings, &layout_error)) {
      Log("Failed to create default Sounds layout during startup: " + layout_error);
    }
    return true;
  } catch (const std::filesystem::filesystem_error& failure) {
    if (error) error->clear();
    return RecoverWithDefaults(
        std::string("Recovered from filesystem failure while loading settings: ") +
            failure.what(),
        result);
  } catch (const std::exception& failure) {
    if (error) error->clear();
    return RecoverWithDefaults(
        std::string("Recovered from unexpected settings failure: ") + failure.what(), result);
  } catch (...) {
    if (error) error->clear();
    return RecoverWithDefaults("Recovered from unknown settings failure during startup", result);
  }
}

bool SettingsStore::LoadFromDisk(SettingsLoadResult* result, std::string* error) {
  std::string text;
  std::string read_error;
  if (!ReadTextFile(paths_.settings_file, &text, &read_error)) {
    if (error) error->clear();
    std::string reason = read_error.empty() ? "Failed to read settings.json" : read_error;
    return RecoverWithDefaults("Recovered from unreadable settings.json: " + reason, result);
  }
  JsonValue document;
  std::string parse_error;
  if (!JsonValue::Parse(text, &document, &parse_error)) {
    if (error) error->clear();
    return RecoverWithDefaults("Recovered from corrupted settings.json: " + parse_error, result);
  }
  // Valid JSON that is no object holds no settings either; refusing it would refuse every
  // start until the user found and removed the file.
  if (document.type != JsonValue::Type::Object) {
    if (error) error->clear();
    return RecoverWithDefaults(
        "Recovered from corrupted settings.json: the document is not a JSON object", result);
  }
  if (IsFirstFormat(document)) return LoadFirstFormatInPlace(document, result, error);

  MixerSettings settings;
  MixerSettingsFromJson(document, &settings, nullptr);
  PointDefaultProfilesAtDefaultFolder(&settings);
  std::string layout_error;
  if (!EnsureSoundsLayout(settings, &layout_error)) {
    Log("Failed to create default Sounds layout while loading settings: " + layout_error);
  }
  *result = SettingsLoadResult{std::move(settings), true, false, paths_.settings_file.string(), {}};
  return true;
}

bool SettingsStore::LoadFirstFormatInPlace(const JsonValue& document, SettingsLoadResult* result,
                                           std::string* error) {
  // The mapping keeps only the first format's members, so whatever else the file held (a
  // current file that lost its version, say) must survive somewhere before it is rewritten.
  std::filesystem::path backup;
  if (!BackupLegacySettingsFile(paths_.settings_file, paths_, &backup, error)) return false;
  MixerSettings settings;
  if (!MigrateLegacySettingsJson(document, &settings, error)) return false;
  if (!Save(settings, error)) return false;
  PointDefaultProfilesAtDefaultFolder(&settings);
  std::string layout_error;
  if (!EnsureSoundsLayout(settings, &layout_error)) {
    Log("Failed to create default Sounds layout after migration: " + layout_error);
  }
  *result = SettingsLoadResult{std::move(settings), true, true, paths_.settings_file.string(),
                               backup.string()};
  return true;
}

bool SettingsStore::RecoverWithDefaults(const std::string& message, SettingsLoadResult* result) {
  // Start-up falls back on this, so nothing in it may throw: a step that fails is logged and
  // the program runs on the defaults in memory.
  try {
    MixerSettings defaults = MakeDefaultMixerSettings();
    PointDefaultProfilesAtDefaultFolder(&defaults);
    *result = SettingsLoadResult{defaults, false, false, {}, {}};
    bool place_free = SetDamagedFileAside(result);
    std::string layout_error;
    if (!EnsureSoundsLayout(defaults, &layout_error)) {
      Log("Failed to create default Sounds layout: " + layout_error);
    }
    // A file that could not be set aside may still hold the user's only settings.
    if (place_free) {
      std::string save_error;
      if (!Save(defaults, &save_error)) Log("Failed to rewrite fresh default settings: " + save_error);
    } else {
      Log("Left settings.json in place because it could not be set aside; running on defaults "
          "until the next save");
    }
  } catch (const std::exception& failure) {
    Log(std::string("Settings recovery stopped short: ") + failure.what());
  } catch (...) {
    Log("Settings recovery stopped short");
  }
  Log(message);
  return true;
}

bool SettingsStore::SetDamagedFileAside(SettingsLoadResult* result) const {
  std::filesystem::path backup = CorruptBackupPath(paths_.settings_file);
  std::error_code status_error;
  if (std::filesystem::symlink_status(paths_.settings_file, status_error).type() ==
      std::filesystem::file_type::not_found) {
    return true;
  }
  std::string bytes;
  std::string read_error;
  if (ReadTextFile(paths_.settings_file, &bytes, &read_error)) {
    std::string write_error;
    if (!WriteTextFileAtomic(backup, bytes, &write_error)) {
      Log("Failed to back up corrupted settings: " + write_error);
      return false;
    }
    result->backup_path = backup.string();
    return true;
  }
  // What cannot be read as a file (a folder, a file too large to read) is moved aside whole.
  std::error_code ignored;
  if (!std::filesystem::is_directory(std::filesystem::symlink_status(backup, ignored))) {
    std::filesystem::remove(backup, ignored);
  }
  if (int code = MoveFileReplacing(paths_.settings_file, backup); code != 0) {
    Log("Failed to back up corrupted settings: " + read_error + "; moving it aside failed: " +
        SystemErrorText(code));
    return false;
  }
  result->backup_path = backup.string();
  return true;
}

bool SettingsStore::Save(const MixerSettings& settings, std::string* error) const {
  MixerSettings copy = settings;
  NormalizeMixerSettings(&copy);
  return WriteTextFileAtomic(paths_.settings_file, MixerSettingsToJson(copy).Serialize(2), error);
}

bool SettingsStore::Reset(std::string* error) {
  std::error_code code;
  std::filesystem::remove(paths_.settings_file, code);
  if (!code || code == std::errc::no_such_file_or_directory || code == std::errc::not_a_directory) {
    return true;
  }
  if (error) *error = "Failed to delete settings.json: " + code.message();
  return false;
}

std::filesystem::path SettingsStore::CorruptBackupPath(const std::filesystem::path& settings_file) {
  return settings_file.parent_path() / (settings_file.filename().string() + ".corrupted");
}

std::filesystem::path SettingsStore::DefaultAudioDirectory() const {
  if (!default_audio_dir_.empty()) return AbsoluteNormalPath(default_audio_dir_);
  return AbsoluteNormalPath(DefaultSoundsDirectory());
}

void SettingsStore::PointDefaultProfilesAtDefaultFolder(MixerSettings* settings) const {
  std::filesystem::path target = DefaultAudioDirectory();
  std::filesystem::path sounds = AbsoluteNormalPath(DefaultSoundsDirectory());
  for (Profile& profile : settings->profiles) {
    if (profile.audio_dir.empty() ||
        AbsoluteNormalPath(FolderOfSetting(profile.audio_dir)) == sounds) {
      profile.audio_dir = WideToUtf8(target);
    }
  }
}

bool SettingsStore::EnsureSoundsLayout(const MixerSettings& settings, std::string* error) const {
  std::filesystem::path folder = DefaultAudioDirectory();
  for (const Profile& profile : settings.profiles) {
    if (AbsoluteNormalPath(FolderOfSetting(profile.audio_dir)) == folder) {
      return EnsureAudioFolderLayout(folder, error);
    }
  }
  return true;
}

void SettingsStore::Log(const std::string& message) const {
  WriteLogLine(paths_.logs_folder, kLogTag, message);
}

}  // namespace zennic
