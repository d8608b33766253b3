#pragma once

#include <filesystem>
#include <string>
#include <vector>

#include "core/app_paths.h"
#include "core/json_value.h"
#include "model/mixer_settings.h"
#include "model/settings_store.h"

namespace zennic {

// Maps a document of the first, flat settings format onto the current settings.
bool MigrateLegacySettingsJson(const JsonValue& document, MixerSettings* output,
                               std::string* error);

// Migrates the first older settings file among `candidates` that exists: backs it up into the
// migration folder, writes settings.json from it and leaves it untouched. With no older file,
// the result holds fresh defaults and nothing is written. One that cannot be read as settings
// is renamed aside ("<name>.corrupted", in `backup_path`), logged, and counts as none.
bool MigrateLegacySettings(const std::vector<std::filesystem::path>& candidates,
                           const AppPaths& paths, SettingsLoadResult* result, std::string* error);

// Copies `older_file` byte for byte into the migration folder as "<stem>.v1.backup.json",
// replacing an earlier copy.
bool BackupLegacySettingsFile(const std::filesystem::path& older_file, const AppPaths& paths,
                              std::filesystem::path* backup_path, std::string* error);

}  // namespace zennic
