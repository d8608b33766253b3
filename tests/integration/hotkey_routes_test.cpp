// The built program on the test display: key capture over HTTP with a real key press, and an
// ending by SIGTERM in the middle of a clip, which must leave no key held and no default
// switched.

#include <gtest/gtest.h>

#include <thread>

#include "integration/mixer_api_fixture.h"
#include "support/eventually.h"
#include "unit/engine/second_x_client.h"

namespace zennic {
namespace {

using namespace std::chrono_literals;

constexpr unsigned kXKeyK = 45;  // the default voice-chat key

class HotkeyRoutes : public testing::MixerApiFixture {
 protected:
  HotkeyRoutes() { testing::ShowOnTestDisplay(&options_, folder_.path()); }
};

TEST_F(HotkeyRoutes, AKeyPressedDuringACaptureBecomesTheBinding) {
  StartProgram();
  Reply started = Post("/api/mixer/keycapture/start", R"({"target": " ptt "})");
  ASSERT_EQ(started.status, 200) << started.raw;
  EXPECT_EQ(started.body["timeout_ms"].number_value, 10000);
  std::string id = started.body["capture_id"].string_value;
  std::string status_body = R"({"capture_id": ")" + id + R"("})";
  EXPECT_EQ(Post("/api/mixer/keycapture/status", status_body).body["binding"].type,
            JsonValue::Type::Null);
  JsonValue captured;
  // Raw input may still be settling just after start-up, so the key is pressed until it counts.
  ASSERT_TRUE(testing::Eventually(
      [&] {
        testing::RunXdotool("key F9");
        std::this_thread::sleep_for(100ms);
        captured = Post("/api/mixer/keycapture/status", status_body).body;
        return captured.GetString("status", "") != "waiting";
      },
      8s))
      << program_->Stderr();
  EXPECT_EQ(captured["status"].string_value, "captured");
  EXPECT_EQ(captured["binding"]["vk"].number_value, 120) << captured.Serialize(2);
  EXPECT_EQ(Post("/api/mixer/status").body["mixer"]["ptt_trigger_key"]["vk"].number_value, 120);

  Reply target = Post("/api/mixer/keycapture/start", R"({"target": "mouse"})");
  EXPECT_EQ(target.status, 400);
  EXPECT_EQ(target.body.GetString("code", ""), "invalid_capture_target");
  Reply unknown = Post("/api/mixer/keycapture/status", R"({"capture_id": "never-issued"})");
  EXPECT_EQ(unknown.status, 404);
  EXPECT_EQ(unknown.body.GetString("code", ""), "invalid_capture");

  Reply brief = Post("/api/mixer/keycapture/start", R"({"target": "voice", "timeout_ms": 1})");
  ASSERT_EQ(brief.status, 200);
  std::this_thread::sleep_for(50ms);
  JsonValue expired = Post("/api/mixer/keycapture/status",
                           R"({"capture_id": ")" + brief.body["capture_id"].string_value + R"("})")
                          .body;
  EXPECT_EQ(expired["status"].string_value, "timeout");
  EXPECT_EQ(expired["binding"].type, JsonValue::Type::Null);
  StopProgram();
}

TEST_F(HotkeyRoutes, SigtermDuringAClipRestoresTheDefaultsAndReleasesTheVoiceKey) {
  testing::SecondXClient observer;
  ASSERT_TRUE(observer.connected());
  std::filesystem::path clip = folder_ / "sounds/tone.wav";
  MakeTone(clip, 1000, 1.0);
  JsonValue settings = VerifiedPairSettings();
  settings["loop"] = true;
  settings["hold_voice_key"] = true;
  SelectClipInProfile(&settings, clip);
  WriteSettings(settings);
  StartProgram();
  ASSERT_EQ(Post("/api/mixer/start").status, 200);
  Reply ptt = Post("/api/mixer/ptt/start");
  ASSERT_EQ(ptt.status, 200) << ptt.raw << program_->Stderr();
  EXPECT_TRUE(observer.IsKeyDown(kXKeyK)) << "the game's voice-chat key is held for the clip";
  ASSERT_EQ(audio_.DefaultSource(), "cable_output");

  StopProgram();
  EXPECT_FALSE(observer.IsKeyDown(kXKeyK));
  EXPECT_EQ(audio_.DefaultSource(), "test_microphone");
  EXPECT_EQ(audio_.DefaultSink(), "speakers");
}

TEST_F(HotkeyRoutes, ATriggerKeyWhoseClipCannotPlaySaysWhyInTheLog) {
  std::filesystem::path clip = folder_ / "sounds/broken.wav";
  std::filesystem::create_directories(clip.parent_path());
  testing::WriteFile(clip, "not a sound");
  JsonValue settings = VerifiedPairSettings();
  SelectClipInProfile(&settings, clip);
  WriteSettings(settings);
  StartProgram();
  ASSERT_EQ(Post("/api/mixer/start").status, 200);
  // Raw input may still be settling just after start-up, so the key is pressed until it counts.
  EXPECT_TRUE(testing::Eventually(
      [&] {
        testing::RunXdotool("key KP_Add");
        std::this_thread::sleep_for(100ms);
        return program_->Stderr().find("The clip " + clip.string() + " could not be played: ") !=
               std::string::npos;
      },
      8s))
      << program_->Stderr();
  StopProgram();
}

}  // namespace
}  // namespace zennic
