// Restore My Sound over HTTP from the built program: it stops the mixer, turns automatic audio
// management off on disk, puts real devices back as the defaults, and says what it did, also
// when the settings cannot be saved.

#include <gtest/gtest.h>

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

}  // namespace
}  // namespace zennic
