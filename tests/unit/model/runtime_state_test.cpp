#include "model/runtime_state.h"

#include <gtest/gtest.h>

#include <atomic>
#include <future>
#include <memory>
#include <thread>

#include "core/app_paths.h"
#include "core/json_value.h"
#include "support/isolated_user.h"
#include "support/temp_folder.h"

namespace zennic {
namespace {

class RuntimeStateTest : public ::testing::Test {
 protected:
  RuntimeStateTest() : paths_(FillAppPaths(data_.path())), state_(SettingsStore(paths_, {}, {})) {}

  JsonValue SavedJson() {
    JsonValue json;
    EXPECT_TRUE(JsonValue::Parse(testing::ReadFile(paths_.settings_file), &json, nullptr));
    return json;
  }

  testing::IsolatedUser user_;
  testing::TempFolder data_;
  AppPaths paths_;
  RuntimeState state_;
};

TEST_F(RuntimeStateTest, LoadsOnceAndNeverRereadsTheFile) {
  testing::WriteFile(paths_.settings_file, R"({"version":3,"server_port":6001})");
  ASSERT_TRUE(state_.LoadSettings(nullptr));
  testing::WriteFile(paths_.settings_file, R"({"version":3,"server_port":6002})");
  ASSERT_TRUE(state_.LoadSettings(nullptr));
  EXPECT_EQ(state_.GetSettings().server_port, 6001);
  SettingsLoadResult load = state_.GetSettingsLoadResult();
  EXPECT_TRUE(load.loaded_from_disk);
  EXPECT_EQ(load.source_path, paths_.settings_file.string());
}

TEST_F(RuntimeStateTest, AFreshStartWritesNothingUntilTheFirstSave) {
  ASSERT_TRUE(state_.LoadSettings(nullptr));
  EXPECT_FALSE(std::filesystem::exists(paths_.settings_file));
  EXPECT_FALSE(state_.GetSettingsLoadResult().loaded_from_disk);

  ASSERT_TRUE(state_.MutateSettings([](MixerSettings&) {}, true, nullptr));
  EXPECT_TRUE(state_.GetSettingsLoadResult().loaded_from_disk);
  std::string text = testing::ReadFile(paths_.settings_file);
  JsonValue json = SavedJson();
  EXPECT_EQ(text, json.Serialize(2)) << "sorted keys, two-space indent, no trailing newline";
  EXPECT_EQ(text.substr(0, 4), "{\n  ");
  EXPECT_EQ(json.GetNumber("version", 0), 3);
  EXPECT_EQ(json.Find("panic_trigger_key")->type, JsonValue::Type::Null);
  EXPECT_EQ(json.Find("profiles")->array_value.size(), 1u);
  EXPECT_EQ(json.GetString("ui_language", ""), "en");
}

TEST_F(RuntimeStateTest, ChangesAreNormalisedBeforeTheyAreSavedAndPutInForce) {
  ASSERT_TRUE(state_.LoadSettings(nullptr));
  ASSERT_TRUE(state_.MutateSettings([](MixerSettings& s) { s.server_port = 80; }, true, nullptr));
  EXPECT_EQ(state_.GetSettings().server_port, 5000);
  EXPECT_EQ(SavedJson().GetNumber("server_port", 0), 5000);

  MixerSettings replacement = state_.GetSettings();
  replacement.mic_volume = 9.0;
  ASSERT_TRUE(state_.ReplaceSettings(replacement, false, nullptr));
  EXPECT_EQ(state_.GetSettings().mic_volume, 2.0);
  EXPECT_EQ(replacement.mic_volume, 9.0) << "the caller's record is not touched";
  EXPECT_EQ(SavedJson().GetNumber("mic_volume", 0), 1.0) << "not persisted";
}

TEST_F(RuntimeStateTest, AFailedSaveLeavesTheOldSettingsInForce) {
  ASSERT_TRUE(state_.LoadSettings(nullptr));
  std::filesystem::create_directories(paths_.settings_file / "blocker");  // rename onto it fails
  std::string error;
  EXPECT_FALSE(state_.MutateSettings([](MixerSettings& s) { s.loop = true; }, true, &error));
  EXPECT_EQ(error.rfind("MoveFileExW failed with error ", 0), 0u) << error;
  EXPECT_FALSE(state_.GetSettings().loop);
  EXPECT_FALSE(state_.GetSettingsLoadResult().loaded_from_disk);

  MixerSettings looping = state_.GetSettings();
  looping.loop = true;
  EXPECT_FALSE(state_.ReplaceSettings(looping, true, &error));
  EXPECT_FALSE(state_.GetSettings().loop);

  // Without persisting, the same change succeeds and the load status stays.
  EXPECT_TRUE(state_.MutateSettings([](MixerSettings& s) { s.loop = true; }, false, &error));
  EXPECT_TRUE(state_.GetSettings().loop);
  EXPECT_FALSE(state_.GetSettingsLoadResult().loaded_from_disk);
}

TEST_F(RuntimeStateTest, AThrowingEditorChangesNothing) {
  ASSERT_TRUE(state_.LoadSettings(nullptr));
  EXPECT_THROW(state_.MutateSettings(
                   [](MixerSettings& s) {
                     s.loop = true;
                     throw std::runtime_error("refused");
                   },
                   true, nullptr),
               std::runtime_error);
  EXPECT_FALSE(state_.GetSettings().loop);
  EXPECT_FALSE(std::filesystem::exists(paths_.settings_file));
  // The mutex was released.
  EXPECT_TRUE(state_.MutateSettings([](MixerSettings& s) { s.loop = true; }, false, nullptr));
}

TEST_F(RuntimeStateTest, ReplacingWithPersistMarksTheSettingsAsFromDisk) {
  ASSERT_TRUE(state_.LoadSettings(nullptr));
  ASSERT_TRUE(state_.ReplaceSettings(MakeDefaultMixerSettings(), true, nullptr));
  EXPECT_TRUE(state_.GetSettingsLoadResult().loaded_from_disk);
  EXPECT_TRUE(std::filesystem::exists(paths_.settings_file));
}

TEST_F(RuntimeStateTest, ResetDeletesTheFileAndClearsTheRunButKeepsTheSession) {
  testing::WriteFile(paths_.settings_file, R"({"version":3,"loop":true})");
  ASSERT_TRUE(state_.LoadSettings(nullptr));
  state_.SetSessionToken("0123456789abcdef0123456789abcdef");
  state_.SetMixerRunning(true);
  state_.SetVoiceKeyActive(true);
  state_.SetDeviceIndices(1, 2, 3);

  ASSERT_TRUE(state_.ResetSettings(nullptr));
  EXPECT_FALSE(std::filesystem::exists(paths_.settings_file));
  SettingsLoadResult load = state_.GetSettingsLoadResult();
  EXPECT_FALSE(load.loaded_from_disk);
  EXPECT_EQ(load.source_path, "");
  EXPECT_EQ(load.backup_path, "");
  RuntimeSnapshot snapshot = state_.GetSnapshot();
  EXPECT_EQ(snapshot.settings, MakeDefaultMixerSettings());
  EXPECT_FALSE(snapshot.mixer_running);
  EXPECT_FALSE(snapshot.ptt_active);
  EXPECT_FALSE(snapshot.mic_index || snapshot.out_index || snapshot.monitor_index);
  EXPECT_EQ(snapshot.session_token, "0123456789abcdef0123456789abcdef");
  EXPECT_EQ(state_.GetSessionToken(), "0123456789abcdef0123456789abcdef");
  EXPECT_TRUE(state_.ResetSettings(nullptr)) << "an absent file counts as deleted";
}

TEST_F(RuntimeStateTest, ReadersDoNotWaitForAChangeUnderWay) {
  ASSERT_TRUE(state_.LoadSettings(nullptr));
  // An editor stands for a save that takes as long as the disk does.
  std::promise<void> read;
  std::future<void> read_done = read.get_future();
  bool read_meanwhile = false;
  std::thread reader([&] {
    state_.GetSettings();
    state_.GetSnapshot();
    state_.GetAudioSettingsView();
    read.set_value();
  });
  ASSERT_TRUE(state_.MutateSettings(
      [&](MixerSettings& s) {
        read_meanwhile = read_done.wait_for(std::chrono::seconds(10)) == std::future_status::ready;
        s.mic_volume = 0.5;
      },
      true, nullptr));
  reader.join();
  EXPECT_TRUE(read_meanwhile);
  EXPECT_EQ(state_.GetAudioSettingsView().mic_volume, 0.5);
}

TEST_F(RuntimeStateTest, AChangeSavedSoonIsInForceAtOnceAndOnDiskBeforeTheStateEnds) {
  auto state = std::make_unique<RuntimeState>(SettingsStore(paths_, {}, {}));
  ASSERT_TRUE(state->LoadSettings(nullptr));
  for (int port : {6010, 6011}) {
    state->MutateSettingsAndSaveSoon([port](MixerSettings& s) { s.server_port = port; });
    EXPECT_EQ(state->GetSettings().server_port, port);
  }
  state.reset();
  EXPECT_EQ(SavedJson().GetNumber("server_port", 0), 6011);
}

TEST_F(RuntimeStateTest, TheAudioViewFollowsEveryChangeAndIsNeverSeenHalfWritten) {
  ASSERT_TRUE(state_.LoadSettings(nullptr));
  state_.SetMixerRunning(true);
  ASSERT_TRUE(state_.MutateSettings(
      [](MixerSettings& s) {
        s.monitor_enabled = false;
        s.voice_effects_enabled = true;
        s.voice_effect_preset = " Radio";
        s.voice_effect_strength = "strong";
      },
      false, nullptr));
  AudioSettingsView view = state_.GetAudioSettingsView();
  EXPECT_TRUE(view.mixer_running);
  EXPECT_FALSE(view.monitor_enabled);
  EXPECT_EQ(view.voice_effect_preset, 5u);
  EXPECT_EQ(view.voice_effect_strength, 2u);

  // Writers put volumes in force that always match each other; a torn read would not.
  std::atomic<bool> done{false};
  std::thread writer([&] {
    for (int i = 0; i < 2000; ++i) {
      double volume = i % 2 == 0 ? 0.5 : 1.5;
      state_.MutateSettings(
          [volume](MixerSettings& s) { s.mic_volume = s.sfx_volume = volume; }, false, nullptr);
    }
    done = true;
  });
  while (!done) {
    AudioSettingsView seen = state_.GetAudioSettingsView();
    if (seen.mic_volume != seen.sfx_volume) {
      ADD_FAILURE() << "a view half written: " << seen.mic_volume << " " << seen.sfx_volume;
      break;
    }
  }
  writer.join();
}

TEST_F(RuntimeStateTest, SnapshotsCarryTheFlagsAndIndicesAsSet) {
  state_.SetMixerRunning(true);
  state_.SetDeviceIndices(0, 4, std::nullopt);
  RuntimeSnapshot snapshot = state_.GetSnapshot();
  EXPECT_TRUE(snapshot.mixer_running);
  EXPECT_FALSE(snapshot.ptt_active);
  EXPECT_EQ(snapshot.mic_index, 0);
  EXPECT_EQ(snapshot.out_index, 4);
  EXPECT_FALSE(snapshot.monitor_index);
}

}  // namespace
}  // namespace zennic
