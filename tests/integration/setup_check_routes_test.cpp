// The Full Setup Check over HTTP by the built program on a private audio server whose cable
// really carries the test signal: the verdict and its next step, the two fixes, and how the
// check shares the mixer with the other routes.

#include <gtest/gtest.h>

#include <atomic>
#include <future>

#include "integration/mixer_api_fixture.h"
#include "support/eventually.h"
#include "support/run_command.h"

namespace zennic {
namespace {

using namespace std::chrono_literals;

constexpr double kTestMicrophoneDbfs = -6.0;  // its sine at 0.5

class SetupCheckRoutes : public testing::MixerApiFixture {
 protected:
  std::filesystem::path Sounds() const { return folder_ / "sounds"; }

  // A new user's settings: the cable chosen as "Send to game", the test microphone, a playable
  // clip selected in the active profile, no verified pair and no consent yet.
  JsonValue NewUserSettings() {
    MakeTone(Sounds() / "tone.wav", 1000, 1.0);
    JsonValue settings = JsonValue::MakeObject();
    settings["mic_name"] = "Microphone (Virtual)";
    settings["out_name"] = "CABLE Input";
    settings["monitor_name"] = "Headphones (Virtual)";
    settings["hold_voice_key"] = false;
    SelectClipInProfile(&settings, Sounds() / "tone.wav");
    return settings;
  }

  Reply SelfTest(const std::string& scope, const std::string& extra = "") {
    return Post("/api/mixer/audio/self-test",
                R"({"test_scope":")" + scope + R"(","microphone_capture_ms":500)" + extra + "}");
  }

  static std::string Item(const Reply& reply, const std::string& id) {
    for (const JsonValue& item : reply.body.Find("items")->array_value) {
      if (item.GetString("id", "") == id) return item.GetString("status", "");
    }
    return "missing";
  }

  // Where "CABLE Output" stands among the inputs (the device list never offers it).
  static int CableOutputIndex() {
    AudioResult result = audio_result::kOk;
    std::unique_ptr<AudioSystem> system = ConnectAudioSystem(&result);
    std::vector<AudioEndpointDescription> endpoints;
    if (system) system->EnumerateEndpoints(AudioFlow::kCapture, &endpoints);
    for (size_t index = 0; index < endpoints.size(); ++index) {
      if (endpoints[index].friendly_name == "CABLE Output") return static_cast<int>(index);
    }
    ADD_FAILURE() << "no CABLE Output";
    return -1;
  }

  JsonValue StoredSettings() const {
    JsonValue settings;
    EXPECT_TRUE(JsonValue::Parse(testing::ReadFile(SettingsFile()), &settings, nullptr));
    return settings;
  }
};

TEST_F(SetupCheckRoutes, ANewUserIsOneFixAwayFromReadyAndThenTheMixerStarts) {
  WriteSettings(NewUserSettings());
  StartProgram();

  Reply first = SelfTest("full");
  ASSERT_EQ(first.status, 200) << first.raw;
  const JsonValue& path = *first.body.Find("virtual_path");
  EXPECT_TRUE(path.GetBool("verified", false)) << first.raw;
  EXPECT_EQ(path.GetString("matching_recording_name", ""), "CABLE Output");
  EXPECT_EQ(path.Find("tested_capture_candidates")->array_value.size(), 1u);
  const JsonValue& microphone = *first.body.Find("microphone_test");
  EXPECT_TRUE(microphone.GetBool("signal_detected", false)) << first.raw;
  EXPECT_NEAR(microphone.GetNumber("peak_dbfs", 0), kTestMicrophoneDbfs, 1.0);
  EXPECT_EQ(first.body.GetString("result", ""), "not_ready");
  EXPECT_EQ(first.body.GetString("next_step", ""), "fix_windows_input");
  EXPECT_EQ(first.body.GetString("primary_action", ""), "fix_it_for_me");
  EXPECT_EQ(Item(first, "windows_input"), "failed");
  EXPECT_EQ(Item(first, "monitor"), "warning");
  EXPECT_EQ(Item(first, "selected_file"), "ok");

  Reply fixed = Post("/api/mixer/audio/fix-windows-input");
  ASSERT_EQ(fixed.status, 200) << fixed.raw;
  EXPECT_FALSE(fixed.body.GetBool("windows_input_changed", true));
  EXPECT_EQ(audio_.DefaultSource(), "test_microphone");
  JsonValue stored = StoredSettings();
  EXPECT_TRUE(stored.GetBool("audio_management_enabled", false));
  EXPECT_EQ(stored.GetString("verified_game_voice_input_id", ""),
            EndpointId(AudioFlow::kCapture, "CABLE Output"));
  EXPECT_EQ(Post("/api/mixer/audio/fix-windows-input").body.GetString("code", ""),
            "verified_cable_required");

  Reply second = SelfTest("full");
  EXPECT_TRUE(second.body.GetBool("ready", false)) << second.raw;
  EXPECT_EQ(second.body.GetString("next_step", "-"), "");
  EXPECT_EQ(second.body.GetString("primary_action", ""), "none");

  Reply started = Post("/api/mixer/start");
  EXPECT_EQ(started.status, 200) << started.raw;
  EXPECT_EQ(Post("/api/mixer/stop").status, 200);
  StopProgram();
}

TEST_F(SetupCheckRoutes, WithoutAClipTheAudioSetUpIsReadyAndTheClipIsWhatIsAsked) {
  WriteSettings(VerifiedPairSettings());
  StartProgram();
  Reply checked = SelfTest("voice_path");
  EXPECT_TRUE(checked.body.GetBool("audio_configuration_ready", false)) << checked.raw;
  EXPECT_FALSE(checked.body.GetBool("ready", true));
  EXPECT_EQ(checked.body.GetString("next_step", ""), "select_ptt_file")
      << "the microphone was not recorded, so nothing speaks against it";
  EXPECT_EQ(Item(checked, "microphone"), "not_checked");
  EXPECT_EQ(Item(checked, "windows_input"), "ok");
  EXPECT_EQ(Item(checked, "selected_file"), "failed");
  StopProgram();
}

TEST_F(SetupCheckRoutes, WhenTheSelectedCableIsSilentTheWorkingPairIsRecommendedOnce) {
  audio_.AddCable("cable16_input", "cable16_output", "CABLE In 16 Ch", "CABLE Out 16 Ch",
                  "channels=16");
  audio_.Pactl("set-source-mute cable_output 1");
  WriteSettings(NewUserSettings());
  StartProgram();

  Reply checked = SelfTest("voice_path");
  const JsonValue& path = *checked.body.Find("virtual_path");
  EXPECT_EQ(path.GetString("failure_code", ""), "selected_pair_failed") << checked.raw;
  EXPECT_EQ(path.GetString("recommended_playback_name", ""), "CABLE In 16 Ch");
  EXPECT_EQ(path.GetString("recommended_capture_name", ""), "CABLE Out 16 Ch");
  const auto& candidates = path.Find("tested_capture_candidates")->array_value;
  ASSERT_EQ(candidates.size(), 4u);
  EXPECT_EQ(candidates.back().GetString("playback_name", ""), "CABLE In 16 Ch");
  EXPECT_EQ(candidates.back().GetString("capture_name", ""), "CABLE Out 16 Ch");
  EXPECT_TRUE(candidates.back().GetBool("signal_detected", false));
  EXPECT_EQ(checked.body.GetString("next_step", ""), "use_working_cable");

  Reply used = Post("/api/mixer/audio/use-recommended-cable");
  ASSERT_EQ(used.status, 200) << used.raw;
  JsonValue stored = StoredSettings();
  EXPECT_EQ(stored.GetString("out_name", ""), "CABLE In 16 Ch");
  EXPECT_EQ(stored.GetString("verified_game_voice_output_id", ""),
            EndpointId(AudioFlow::kRender, "CABLE In 16 Ch"));
  EXPECT_EQ(stored.GetString("verified_game_voice_input_name", ""), "CABLE Out 16 Ch");
  Reply again = Post("/api/mixer/audio/use-recommended-cable");
  EXPECT_EQ(again.status, 409);
  EXPECT_EQ(again.body.GetString("code", ""), "recommended_cable_required");
  StopProgram();
}

TEST_F(SetupCheckRoutes, TheMicrophoneAloneIsNeverReadyAndTheCableIsNoMicrophone) {
  WriteSettings(NewUserSettings());
  StartProgram();

  Reply heard = SelfTest("microphone");
  EXPECT_TRUE(heard.body.GetBool("microphone_step_passed", false)) << heard.raw;
  EXPECT_FALSE(heard.body.GetBool("ready", true));
  EXPECT_EQ(Item(heard, "virtual_path"), "not_checked");
  EXPECT_EQ(heard.body.Find("virtual_path")->GetString("failure_code", ""), "not_run");

  Reply cable = SelfTest("full", R"(,"mic_device":)" + std::to_string(CableOutputIndex()));
  const JsonValue& microphone = *cable.body.Find("microphone_test");
  EXPECT_EQ(microphone.GetString("error_code", ""), "selected_microphone_is_virtual_cable")
      << cable.raw;
  EXPECT_FALSE(microphone.GetBool("attempted", true));
  EXPECT_TRUE(cable.body.GetBool("setup_required", false));
  EXPECT_EQ(cable.body.GetString("primary_action", ""), "back_to_audio_devices");

  Reply unknown = SelfTest("everything");
  EXPECT_EQ(unknown.status, 400);
  EXPECT_EQ(unknown.body.GetString("code", ""), "invalid_test_scope");
  StopProgram();
}

TEST_F(SetupCheckRoutes, ACableLeftAsTheDefaultInputAsksForRestoreMySound) {
  WriteSettings(NewUserSettings());
  audio_.Pactl("set-default-source cable_output");
  StartProgram();
  Reply checked = SelfTest("windows_input");
  EXPECT_EQ(Item(checked, "audio_safety"), "failed") << checked.raw;
  EXPECT_TRUE(checked.body.GetBool("audio_recovery_required", false));
  EXPECT_EQ(checked.body.GetString("next_step", ""), "restore_my_sound");
  EXPECT_EQ(checked.body.GetString("primary_action", ""), "restore_my_sound");
  StopProgram();
}

TEST_F(SetupCheckRoutes, StatusIsAnsweredDuringACheckAndAStartWaitsForIt) {
  JsonValue settings = NewUserSettings();
  JsonValue verified = VerifiedPairSettings();
  for (const auto& [key, value] : verified.object_value) settings[key] = value;
  WriteSettings(settings);
  StartProgram();

  std::atomic<bool> check_done = false;
  auto check = std::async(std::launch::async, [&] {
    Reply reply = Post("/api/mixer/audio/self-test", R"({"microphone_capture_ms":3000})");
    check_done = true;
    return reply;
  });
  // Once the check records the microphone it holds the mixer for seconds more.
  ASSERT_TRUE(testing::Eventually([&] {
    return audio_.Pactl("list source-outputs").find("media.name = \"Ruzerad\"") !=
           std::string::npos;
  }));
  Reply status = Post("/api/mixer/status");
  EXPECT_EQ(status.status, 200);
  EXPECT_FALSE(check_done) << "status waited for the check";
  Reply started = Post("/api/mixer/start");
  EXPECT_TRUE(check_done) << "the start did not wait for the check";
  EXPECT_EQ(started.status, 200) << started.raw;
  EXPECT_EQ(check.get().status, 200);
  EXPECT_EQ(Post("/api/mixer/stop").status, 200);
  StopProgram();
}

}  // namespace
}  // namespace zennic
