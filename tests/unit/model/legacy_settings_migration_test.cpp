#include "model/legacy_settings_migration.h"

#include <gtest/gtest.h>

#include "model/key_catalog.h"
#include "support/isolated_user.h"
#include "support/temp_folder.h"

namespace zennic {
namespace {

class LegacyMigration : public ::testing::Test {
 protected:
  LegacyMigration() : paths_(FillAppPaths(folder_ / "data")) {}

  MixerSettings Map(const std::string& text) {
    JsonValue document;
    EXPECT_TRUE(JsonValue::Parse(text, &document, nullptr)) << text;
    MixerSettings settings;
    std::string error;
    EXPECT_TRUE(MigrateLegacySettingsJson(document, &settings, &error)) << error;
    return settings;
  }

  testing::IsolatedUser user_{"it_IT.UTF-8"};
  testing::TempFolder folder_;
  AppPaths paths_;
};

TEST_F(LegacyMigration, TheOlderHotkeyNamesFindTheirCatalogueKey) {
  KeyBinding add = Map(R"({"hotkey_key":"Add"})").ptt_trigger_key;
  EXPECT_EQ(add.id, "numpad_add");
  EXPECT_EQ(add.source, "migrated_legacy");
  EXPECT_EQ(Map(R"({"hotkey":"K"})").ptt_trigger_key.id, "key_k");
  EXPECT_EQ(Map(R"({"hotkey_key":"nope","hotkey_label":"F7","hotkey":"K"})").ptt_trigger_key.id,
            "f7");
  KeyBinding fallback = Map(R"({"hotkey_key":"nope","hotkey_label":"never"})").ptt_trigger_key;
  EXPECT_EQ(fallback, DefaultPttTriggerKey());
  EXPECT_EQ(Map(R"({"hotkey_key":"Add"})").voice_chat_key, DefaultVoiceChatKey());
}

TEST_F(LegacyMigration, ValuesAreTakenOnlyWithTheirOwnTypeAndNormalised) {
  MixerSettings settings = Map(R"({"mic_volume":3.5,"sfx_volume":"0.5","mic_name":"Mic",
      "file_path":"/s/a.wav","server_port":7000,"hold_k":"no"})");
  EXPECT_EQ(settings.mic_volume, 2.0);
  EXPECT_EQ(settings.sfx_volume, 1.0);
  EXPECT_EQ(settings.mic_name, "Mic");
  EXPECT_EQ(settings.file_path, "/s/a.wav");
  EXPECT_EQ(settings.server_port, 5000);  // not a member of the first format
  EXPECT_TRUE(settings.hold_voice_key);
  EXPECT_FALSE(settings.loop);
  EXPECT_EQ(settings.ui_language, "it");
}

TEST_F(LegacyMigration, TheOneProfileTakesTheOlderAudioFolder) {
  MixerSettings without = Map("{}");
  ASSERT_EQ(without.profiles.size(), 1u);
  EXPECT_EQ(without.profiles[0], DefaultProfile());
  MixerSettings with = Map(R"({"audio_dir":"/old/clips"})");
  ASSERT_EQ(with.profiles.size(), 1u);
  EXPECT_EQ(with.profiles[0], (Profile{"default", "Default", "/old/clips"}));
  EXPECT_EQ(with.selected_profile_id, "default");
}

TEST_F(LegacyMigration, OnlyTheFirstExistingCandidateIsMigratedAndBackedUp) {
  std::string beside_program = R"({"hotkey_key":"Add","mic_name":"First"})";
  testing::WriteFile(folder_ / "bin/data/mixer_settings.json", beside_program);
  testing::WriteFile(folder_ / "work/data/mixer_settings.json", R"({"mic_name":"Second"})");
  SettingsLoadResult result;
  std::string error;
  ASSERT_TRUE(MigrateLegacySettings({"", folder_ / "bin/data/mixer_settings.json",
                                     folder_ / "work/data/mixer_settings.json"},
                                    paths_, &result, &error))
      << error;
  EXPECT_TRUE(result.loaded_from_disk);
  EXPECT_TRUE(result.migrated_from_legacy);
  EXPECT_EQ(result.settings.mic_name, "First");
  EXPECT_EQ(result.source_path, (folder_ / "bin/data/mixer_settings.json").string());
  std::filesystem::path backup = paths_.migration_folder / "mixer_settings.v1.backup.json";
  EXPECT_EQ(result.backup_path, backup.string());
  EXPECT_EQ(testing::ReadFile(backup), beside_program);
  EXPECT_EQ(testing::ReadFile(folder_ / "bin/data/mixer_settings.json"), beside_program);

  JsonValue written;
  ASSERT_TRUE(JsonValue::Parse(testing::ReadFile(paths_.settings_file), &written, nullptr));
  EXPECT_EQ(written.GetString("mic_name", ""), "First");
  EXPECT_EQ(written.Find("ptt_trigger_key")->GetString("source", ""), "migrated_legacy");
}

TEST_F(LegacyMigration, NoOlderFileGivesDefaultsAndWritesNothing) {
  SettingsLoadResult result;
  ASSERT_TRUE(MigrateLegacySettings({folder_ / "absent.json"}, paths_, &result, nullptr));
  EXPECT_EQ(result.settings, MakeDefaultMixerSettings());
  EXPECT_FALSE(result.loaded_from_disk);
  EXPECT_FALSE(std::filesystem::exists(paths_.root));
}

TEST_F(LegacyMigration, AnOlderFileThatIsNoSettingsIsSetAsideAndTheStartGoesOnWithDefaults) {
  std::filesystem::path older = folder_ / "data/mixer_settings.json";
  for (const char* text : {"[1]", "{\"mic_name\":"}) {
    testing::WriteFile(older, text);
    SettingsLoadResult result;
    std::string error;
    ASSERT_TRUE(MigrateLegacySettings({older}, paths_, &result, &error)) << text << ": " << error;
    EXPECT_EQ(result.settings, MakeDefaultMixerSettings()) << text;
    EXPECT_FALSE(result.loaded_from_disk) << text;
    EXPECT_EQ(testing::ReadFile(result.backup_path), text);
    EXPECT_FALSE(std::filesystem::exists(older)) << text;
  }
  EXPECT_TRUE(std::filesystem::exists(folder_ / "data/mixer_settings.json-2.corrupted"));
  EXPECT_FALSE(std::filesystem::exists(paths_.migration_folder));
  EXPECT_FALSE(std::filesystem::exists(paths_.settings_file));

  std::string error;
  EXPECT_FALSE(MigrateLegacySettings({older}, paths_, nullptr, &error));
  EXPECT_EQ(error, "Migration result pointer is null");
  EXPECT_FALSE(MigrateLegacySettingsJson(JsonValue::MakeObject(), nullptr, &error));
  EXPECT_EQ(error, "Migration output settings pointer is null");
}

TEST_F(LegacyMigration, AStoreMigratesOnceAndThenReadsItsOwnFile) {
  std::filesystem::path older = folder_ / "bin/data/mixer_settings.json";
  testing::WriteFile(older, R"({"hotkey_key":"Add","loop":true})");
  SettingsStore store(paths_, {older}, {});
  SettingsLoadResult first;
  ASSERT_TRUE(store.Load(&first, nullptr));
  EXPECT_TRUE(first.migrated_from_legacy);
  std::filesystem::path backup = paths_.migration_folder / "mixer_settings.v1.backup.json";
  auto backup_time = std::filesystem::last_write_time(backup);

  testing::WriteFile(older, R"({"loop":false})");
  SettingsLoadResult second;
  ASSERT_TRUE(store.Load(&second, nullptr));
  EXPECT_FALSE(second.migrated_from_legacy);
  EXPECT_TRUE(second.settings.loop);
  EXPECT_EQ(second.source_path, paths_.settings_file.string());
  EXPECT_EQ(std::filesystem::last_write_time(backup), backup_time);
}

}  // namespace
}  // namespace zennic
