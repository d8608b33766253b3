#include "model/settings_store.h"

#include <gtest/gtest.h>

#include "core/json_value.h"
#include "support/isolated_user.h"
#include "support/temp_folder.h"

namespace zennic {
namespace {

class SettingsStoreTest : public ::testing::Test {
 protected:
  SettingsStoreTest() : paths_(FillAppPaths(data_.path())), store_(paths_, {}, {}) {}

  SettingsLoadResult Load() {
    SettingsLoadResult result;
    std::string error = "untouched";
    EXPECT_TRUE(store_.Load(&result, &error)) << error;
    return result;
  }

  std::string Log() { return testing::ReadFile(paths_.logs_folder / "app.log"); }
  std::string Saved() { return testing::ReadFile(paths_.settings_file); }
  JsonValue SavedJson() {
    JsonValue json;
    EXPECT_TRUE(JsonValue::Parse(Saved(), &json, nullptr)) << Saved();
    return json;
  }
  std::filesystem::path Corrupted() const { return data_ / "settings.json.corrupted"; }

  testing::IsolatedUser user_{"sv_SE.UTF-8"};
  testing::TempFolder data_;
  AppPaths paths_;
  SettingsStore store_;
};

TEST_F(SettingsStoreTest, AMissingFileGivesDefaultsAndWritesNothing) {
  SettingsLoadResult result = Load();
  EXPECT_EQ(result.settings, MakeDefaultMixerSettings());
  EXPECT_EQ(result.settings.ui_language, "sv");
  EXPECT_FALSE(result.loaded_from_disk);
  EXPECT_FALSE(result.migrated_from_legacy);
  EXPECT_FALSE(std::filesystem::exists(paths_.settings_file));
  // The default profile's folder is laid out for the user.
  EXPECT_TRUE(std::filesystem::is_directory(user_.SoundsFolder() / "Comedy"));
  EXPECT_TRUE(std::filesystem::is_directory(user_.SoundsFolder() / "Games"));
}

TEST_F(SettingsStoreTest, AnUnparsableFileIsCopiedAsideAndReplacedByDefaults) {
  testing::WriteFile(paths_.settings_file, "{\"a\":1}x");
  SettingsLoadResult result = Load();
  EXPECT_EQ(testing::ReadFile(Corrupted()), "{\"a\":1}x");
  EXPECT_EQ(result.backup_path, Corrupted().string());
  EXPECT_FALSE(result.loaded_from_disk);
  EXPECT_EQ(result.source_path, "");
  EXPECT_EQ(result.settings, MakeDefaultMixerSettings());
  EXPECT_EQ(SavedJson().GetString("ui_language", ""), "sv");
  EXPECT_NE(Log().find("[SettingsStore] Recovered from corrupted settings.json: "),
            std::string::npos)
      << Log();
}

TEST_F(SettingsStoreTest, AnEmptyFileIsDamagedAndALaterRecoveryReplacesTheCopy) {
  testing::WriteFile(paths_.settings_file, "");
  Load();
  EXPECT_TRUE(std::filesystem::exists(Corrupted()));
  EXPECT_EQ(testing::ReadFile(Corrupted()), "");

  testing::WriteFile(paths_.settings_file, "[1,");
  Load();
  EXPECT_EQ(testing::ReadFile(Corrupted()), "[1,");
}

TEST_F(SettingsStoreTest, ValidJsonThatIsNoObjectIsRecoveredNotRefused) {
  for (const char* document : {"[1,2]", "42", "\"text\"", "true", "null"}) {
    testing::WriteFile(paths_.settings_file, document);
    SettingsLoadResult result;
    std::string error;
    ASSERT_TRUE(store_.Load(&result, &error)) << document << ": " << error;
    EXPECT_EQ(testing::ReadFile(Corrupted()), document);
    EXPECT_EQ(result.settings, MakeDefaultMixerSettings());
    EXPECT_EQ(SavedJson().GetNumber("version", 0), 3) << document;
  }
  EXPECT_NE(Log().find("Recovered from corrupted settings.json: the document is not a JSON object"),
            std::string::npos);
}

TEST_F(SettingsStoreTest, WhatCannotBeReadAsAFileIsMovedAsideWhole) {
  // A link to itself exists but cannot be read, also for root.
  std::filesystem::create_symlink("settings.json", paths_.settings_file);
  SettingsLoadResult result = Load();
  EXPECT_EQ(result.settings, MakeDefaultMixerSettings());
  EXPECT_FALSE(result.loaded_from_disk);
  EXPECT_EQ(result.backup_path, Corrupted().string());
  EXPECT_TRUE(std::filesystem::is_symlink(Corrupted()));
  EXPECT_EQ(SavedJson().GetNumber("version", 0), 3) << "defaults written in its place";
  EXPECT_NE(Log().find("[SettingsStore] Recovered from "), std::string::npos) << Log();
}

TEST_F(SettingsStoreTest, WhatCannotBeSetAsideIsLeftInPlace) {
  std::filesystem::create_directories(paths_.settings_file / "inside");
  testing::WriteFile(Corrupted() / "earlier", "a folder set aside before, not empty");
  SettingsLoadResult result = Load();
  EXPECT_EQ(result.settings, MakeDefaultMixerSettings());
  EXPECT_EQ(result.backup_path, "");
  EXPECT_TRUE(std::filesystem::is_directory(paths_.settings_file / "inside")) << "not overwritten";
  std::string log = Log();
  EXPECT_NE(log.find("Failed to back up corrupted settings: Not a regular file: "), std::string::npos) << log;
  EXPECT_NE(log.find("Left settings.json in place because it could not be set aside"), std::string::npos)
      << log;
  EXPECT_NE(log.find("Recovered from unreadable settings.json: Not a regular file: "), std::string::npos)
      << log;
}

TEST_F(SettingsStoreTest, ADamagedFileStaysWhenItsCopyCannotBeWritten) {
  testing::WriteFile(paths_.settings_file, "{\"mic_name\": \"Mine\",");
  testing::WriteFile(Corrupted() / "occupied", "a folder where the copy should go");
  SettingsLoadResult result = Load();
  EXPECT_EQ(result.settings, MakeDefaultMixerSettings());
  EXPECT_EQ(result.backup_path, "");
  EXPECT_EQ(Saved(), "{\"mic_name\": \"Mine\",");
  std::string log = Log();
  size_t backup_line = log.find("Failed to back up corrupted settings: MoveFileExW failed");
  size_t kept_line = log.find("Left settings.json in place");
  size_t reason_line = log.find("Recovered from corrupted settings.json: ");
  EXPECT_NE(backup_line, std::string::npos) << log;
  EXPECT_LT(backup_line, kept_line);
  EXPECT_LT(kept_line, reason_line);
  EXPECT_NE(reason_line, std::string::npos);
}

TEST_F(SettingsStoreTest, CurrentVersionsAreReadAndNotRewritten) {
  for (const char* version : {"-1", "2", "3", "7", "1e12"}) {
    std::string text = std::string(R"({"version":)") + version + R"(,"server_port":6060})";
    testing::WriteFile(paths_.settings_file, text);
    SettingsLoadResult result = Load();
    EXPECT_EQ(result.settings.server_port, 6060) << version;
    EXPECT_EQ(result.settings.version, 3);
    EXPECT_TRUE(result.loaded_from_disk);
    EXPECT_FALSE(result.migrated_from_legacy);
    EXPECT_EQ(result.source_path, paths_.settings_file.string());
    EXPECT_EQ(Saved(), text) << version;
  }
  EXPECT_FALSE(std::filesystem::exists(paths_.migration_folder));
}

TEST_F(SettingsStoreTest, FirstFormatVersionsAreMigratedInPlaceAfterABackup) {
  for (const char* version : {"", R"("version":1,)", R"("version":1.9,)", R"("version":-0.5,)",
                              R"("version":"3",)"}) {
    std::string text = std::string("{") + version +
                       R"("server_port":6060,"mic_volume":0.5,"hotkey_key":"Add",
                          "profiles":[{"id":"mine","name":"Mine","audio_dir":"/m"}]})";
    testing::WriteFile(paths_.settings_file, text);
    SettingsLoadResult result = Load();
    EXPECT_TRUE(result.loaded_from_disk);
    EXPECT_TRUE(result.migrated_from_legacy) << version;
    EXPECT_EQ(result.source_path, paths_.settings_file.string());
    // Only the first format's members survive the mapping, so the original bytes are kept.
    EXPECT_EQ(result.settings.server_port, 5000);
    EXPECT_EQ(result.settings.mic_volume, 0.5);
    EXPECT_EQ(result.settings.ptt_trigger_key.source, "migrated_legacy");
    EXPECT_EQ(result.backup_path, (paths_.migration_folder / "settings.v1.backup.json").string());
    EXPECT_EQ(testing::ReadFile(result.backup_path), text);
    EXPECT_EQ(SavedJson().GetNumber("version", 0), 3);
  }
}

TEST_F(SettingsStoreTest, AFirstFormatFileIsNotRewrittenWhenItsBackupFails) {
  testing::WriteFile(paths_.migration_folder, "a file where the migration folder belongs");
  testing::WriteFile(paths_.settings_file, R"({"mic_volume":0.5})");
  SettingsLoadResult result;
  std::string error;
  EXPECT_FALSE(store_.Load(&result, &error));
  EXPECT_EQ(error.rfind("Failed to create directory: ", 0), 0u) << error;
  EXPECT_EQ(Saved(), R"({"mic_volume":0.5})");
}

TEST_F(SettingsStoreTest, ProfilesInTheDefaultSoundsFolderGetItsCanonicalPath) {
  std::string sounds = user_.SoundsFolder().string();
  testing::WriteFile(paths_.settings_file, R"({"version":3,"profiles":[
      {"id":"a","name":"A","audio_dir":""},
      {"id":"b","name":"B","audio_dir":")" + user_.home().string() + R"(/Documents/x/../Ruzerad//Sounds"},
      {"id":"c","name":"C","audio_dir":"relative/folder"},
      {"id":"d","name":"D","audio_dir":")" + sounds + R"(/"}]})");
  SettingsLoadResult result = Load();
  ASSERT_EQ(result.settings.profiles.size(), 4u);
  EXPECT_EQ(result.settings.profiles[0].audio_dir, sounds);
  EXPECT_EQ(result.settings.profiles[1].audio_dir, sounds);
  EXPECT_EQ(result.settings.profiles[2].audio_dir, "relative/folder");
  EXPECT_EQ(result.settings.profiles[3].audio_dir, sounds + "/");
}

TEST_F(SettingsStoreTest, CategoryFoldersAreMadeOnlyWhenAProfileUsesTheDefaultFolder) {
  testing::WriteFile(paths_.settings_file,
                     R"({"version":3,"profiles":[{"id":"a","name":"A","audio_dir":"/nowhere/a"}]})");
  Load();
  EXPECT_FALSE(std::filesystem::exists(user_.SoundsFolder()));

  testing::TempFolder elsewhere;
  SettingsStore custom(paths_, {}, elsewhere / "Clips");
  testing::WriteFile(paths_.settings_file, R"({"version":3,"profiles":[{"id":"a"}]})");
  SettingsLoadResult result;
  ASSERT_TRUE(custom.Load(&result, nullptr));
  EXPECT_EQ(result.settings.profiles[0].audio_dir, (elsewhere / "Clips").string());
  EXPECT_TRUE(std::filesystem::is_directory(elsewhere / "Clips/Movies"));
  EXPECT_FALSE(std::filesystem::exists(user_.SoundsFolder()));
}

TEST_F(SettingsStoreTest, ALayoutFailureIsOnlyLogged) {
  testing::WriteFile(user_.SoundsFolder(), "a file where the folder belongs");
  SettingsLoadResult result = Load();
  EXPECT_EQ(result.settings, MakeDefaultMixerSettings());
  EXPECT_NE(Log().find("Failed to create default Sounds layout during startup: "),
            std::string::npos);
}

TEST_F(SettingsStoreTest, SaveWritesANormalisedCopyAndResetDeletesTheFile) {
  MixerSettings settings;
  settings.server_port = 1;
  ASSERT_TRUE(store_.Save(settings, nullptr));
  EXPECT_EQ(settings.server_port, 1);
  EXPECT_EQ(SavedJson().GetNumber("server_port", 0), 5000);
  EXPECT_FALSE(std::filesystem::exists(paths_.settings_file.string() + ".tmp"));

  ASSERT_TRUE(store_.Reset(nullptr));
  EXPECT_FALSE(std::filesystem::exists(paths_.settings_file));
  EXPECT_TRUE(store_.Reset(nullptr));

  testing::WriteFile(paths_.settings_file / "inside", "x");
  std::string error;
  EXPECT_FALSE(store_.Reset(&error));
  EXPECT_EQ(error.rfind("Failed to delete settings.json: ", 0), 0u) << error;
}

TEST_F(SettingsStoreTest, ANullResultIsRefused) {
  std::string error;
  EXPECT_FALSE(store_.Load(nullptr, &error));
  EXPECT_EQ(error, "Settings load result pointer is null");
}

}  // namespace
}  // namespace zennic
