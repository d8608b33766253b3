// Restore My Sound over HTTP from the built program: it stops the mixer, turns automatic audio
// management off on disk, puts real devices back as the defaults, and says what it did, also
// when the settings cannot be saved. Damaged state files are set aside rather than blocking the
// start or a restore.

#include <gtest/gtest.h>
#include <signal.h>

#include "integration/mixer_api_fixture.h"

namespace zennic {
namespace {

class AudioManagementRoutes : public testing::MixerApiFixture {
 protected:
  void StartMixer() {
    JsonValue settings = VerifiedPairSettings();
    settings["hold_voice_key"] = false;
    WriteSettings(settings);
    StartProgram();
    ASSERT_EQ(Post("/api/mixer/start").status, 200);
    ASSERT_EQ(audio_.DefaultSource(), "cable_output");
  }

  static std::vector<std::string> Messages(JsonValue& reply) {
    std::vector<std::string> texts;
    for (const JsonValue& text : reply["messages"].array_value) texts.push_back(text.string_value);
    return texts;
  }
};

TEST_F(AudioManagementRoutes, RestoreMySoundStopsTheMixerAndTurnsManagementOffOnDisk) {
  StartMixer();
  Reply restored = Post("/api/mixer/audio/restore-my-sound");
  ASSERT_EQ(restored.status, 200) << restored.raw;
  EXPECT_TRUE(restored.body["mixer_stopped"].bool_value);
  EXPECT_FALSE(restored.body["running"].bool_value);
  EXPECT_FALSE(restored.body["mixer"]["running"].bool_value);
  EXPECT_TRUE(restored.body["audio_management_disable_persisted"].bool_value);
  EXPECT_TRUE(restored.body["restore_fully_saved"].bool_value);
  std::vector<std::string> messages = Messages(restored.body);
  ASSERT_GE(messages.size(), 2u);
  EXPECT_EQ(messages[messages.size() - 2], "Mixer stopped. Start Mixer again when you are ready.");
  EXPECT_EQ(messages.back(), "Automatic Windows audio management was turned off for safety.");
  EXPECT_EQ(audio_.DefaultSource(), "test_microphone");
  EXPECT_EQ(audio_.DefaultSink(), "speakers");

  JsonValue saved;
  ASSERT_TRUE(JsonValue::Parse(testing::ReadFile(SettingsFile()), &saved, nullptr));
  EXPECT_FALSE(saved.GetBool("audio_management_enabled", true));
  StopProgram();
}

TEST_F(AudioManagementRoutes, RestoreMySoundStillRestoresWhenTheSettingsCannotBeSaved) {
  StartMixer();
  // Nothing can be moved over a folder of that name.
  std::filesystem::remove(SettingsFile());
  std::filesystem::create_directory(SettingsFile());
  Reply restored = Post("/api/mixer/audio/restore-my-sound");
  ASSERT_EQ(restored.status, 200) << restored.raw;
  EXPECT_TRUE(restored.body["audio_management_disabled"].bool_value);
  EXPECT_FALSE(restored.body["audio_management_disable_persisted"].bool_value);
  EXPECT_FALSE(restored.body["restore_fully_saved"].bool_value);
  EXPECT_FALSE(restored.body["settings"]["audio_management_enabled"].bool_value);
  std::string unsaved =
      "Automatic Windows audio management was turned off for this run, but the setting could "
      "not be saved and may turn on again after restart: ";
  std::string last = Messages(restored.body).back();
  EXPECT_EQ(last.substr(0, unsaved.size()), unsaved);
  EXPECT_GT(last.size(), unsaved.size()) << "the save error is named";
  EXPECT_EQ(audio_.DefaultSource(), "test_microphone");
  StopProgram();
}

TEST_F(AudioManagementRoutes, DamagedStateFilesAreSetAsideSoStartsAndRestoresGoOnAndNothingIsLost) {
  using namespace std::chrono_literals;
  const std::string damaged = R"({"session_active": tru)";
  std::filesystem::path legacy = folder_ / "work/data/mixer_settings.json";
  testing::WriteFile(legacy, damaged);
  options_.working_folder = folder_ / "work";
  {
    std::filesystem::create_directories(folder_ / "first");
    testing::ProgramProcess first(options_, folder_ / "first");
    ASSERT_TRUE(first.Start());
    ASSERT_TRUE(first.WaitForStderr("Ruzerad started", 10s)) << first.Stderr();
    EXPECT_NE(first.Stderr().find("Set aside the older settings file " + legacy.string()),
              std::string::npos)
        << first.Stderr();
    first.Signal(SIGTERM);
    ASSERT_EQ(first.WaitForExit(10s), 0);
  }

  JsonValue settings = VerifiedPairSettings();
  settings["hold_voice_key"] = false;
  WriteSettings(settings);
  StartProgram();
  std::filesystem::path backup = DataFolder() / "audio_backup.json";
  int set_aside = 0;
  // Each route meets a freshly damaged backup, keeps it under the next free name and says so.
  auto expect_set_aside = [&](const std::string& route, Reply reply) {
    std::string aside = "audio_backup.json" +
                        (++set_aside == 1 ? std::string() : "-" + std::to_string(set_aside)) +
                        ".corrupted";
    EXPECT_NE(reply.raw.find("was set aside as " + aside), std::string::npos) << route << reply.raw;
    EXPECT_EQ(testing::ReadFile(DataFolder() / aside), damaged) << route;
    return reply;
  };
  auto post_over_damage = [&](const std::string& route) {
    testing::WriteFile(backup, damaged);
    return expect_set_aside(route, Post(route));
  };

  EXPECT_EQ(post_over_damage("/api/mixer/start").status, 200);
  EXPECT_EQ(audio_.DefaultSource(), "cable_output");
  EXPECT_EQ(Post("/api/mixer/stop").status, 200);
  EXPECT_EQ(audio_.DefaultSource(), "test_microphone");
  EXPECT_EQ(post_over_damage("/api/mixer/audio/restore-session").status, 200);
  Reply without_snapshot = post_over_damage("/api/mixer/audio/restore-last-known-good");
  EXPECT_EQ(without_snapshot.status, 500);
  EXPECT_NE(without_snapshot.raw.find("No last known good Windows audio backup is available"),
            std::string::npos);
  EXPECT_EQ(post_over_damage("/api/mixer/start").status, 200);
  EXPECT_EQ(audio_.DefaultSource(), "cable_output");
  EXPECT_EQ(post_over_damage("/api/mixer/audio/restore-my-sound").status, 200);
  EXPECT_EQ(audio_.DefaultSource(), "test_microphone");
  StopProgram();

  EXPECT_EQ(testing::ReadFile(legacy.string() + ".corrupted"), damaged);
  EXPECT_EQ(set_aside, 5);
}

}  // namespace
}  // namespace zennic
