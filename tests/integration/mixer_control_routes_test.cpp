// The mixer driven over HTTP by the built program on the private audio server: status, set,
// devices, start and stop on the verified cable, push-to-talk and the voice test.

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <thread>

#include "api/base64_decode.h"
#include "integration/mixer_api_fixture.h"
#include "support/eventually.h"
#include "support/http_test_client.h"
#include "support/tone_continuity.h"

namespace zennic {
namespace {

using namespace std::chrono_literals;

constexpr double kMicrophoneHz = 440.0;  // the virtual microphone's tone
constexpr int kClipHz = 1000;

class MixerControlRoutes : public testing::MixerApiFixture {
 protected:
  std::filesystem::path Sounds() const { return folder_ / "sounds"; }

  // The verified cable, a profile whose folder holds a looping 48 kHz clip, which is selected;
  // the voice-chat key stays alone (this test does not own the shared display).
  JsonValue ClipSettings() {
    MakeTone(Sounds() / "tone.wav", kClipHz, 2.0);
    JsonValue settings = VerifiedPairSettings();
    settings["hold_voice_key"] = false;
    settings["loop"] = true;
    SelectClipInProfile(&settings, Sounds() / "tone.wav");
    return settings;
  }

  JsonValue Status() { return Post("/api/mixer/status").body["mixer"]; }

  static std::string Code(const Reply& reply) { return reply.body.GetString("code", ""); }
};

std::vector<std::string> Names(const JsonValue& devices) {
  std::vector<std::string> names;
  for (const JsonValue& device : devices.array_value) names.push_back(device.GetString("name", ""));
  return names;
}

TEST_F(MixerControlRoutes, AFreshStartHasNothingChosenAndReportsTheBoundPort) {
  testing::OccupiedLoopbackPort taken;
  for (bool fallback : {false, true}) {
    JsonValue settings = JsonValue::MakeObject();
    if (fallback) settings["server_port"] = static_cast<double>(taken.port());
    WriteSettings(settings);
    StartProgram();
    JsonValue status = Status();
    EXPECT_EQ(status["server_port"].number_value, port_) << "fallback " << fallback;
    EXPECT_FALSE(status["has_file"].bool_value);
    EXPECT_EQ(status["file_compatible_state"].string_value, "none");
    EXPECT_EQ(status["mic_device"].type, JsonValue::Type::Null);
    EXPECT_EQ(status["panic_trigger_key"].type, JsonValue::Type::Null);
    EXPECT_EQ(status["engine_sample_rate"].number_value, 48000);
    EXPECT_FALSE(status["running"].bool_value);
    EXPECT_EQ(status["alerts"].array_value.size(), 0u);
    StopProgram();
    std::filesystem::remove(SettingsFile());
  }
}

TEST_F(MixerControlRoutes, StatusPollersLeaveThreadsAndMemoryAtTheirIdleLevel) {
  WriteSettings(ClipSettings());
  StartProgram();
  auto poll = [&](std::chrono::seconds duration) {
    std::atomic<int> failures{0};
    std::atomic<long> answered{0};
    std::vector<std::thread> pollers;
    auto end = std::chrono::steady_clock::now() + duration;
    for (int i = 0; i < 10; ++i) {
      pollers.emplace_back([&] {
        while (std::chrono::steady_clock::now() < end) {
          if (Post("/api/mixer/status").status != 200) ++failures;
          ++answered;
          // Ten times as often as the web client polls, without starving the other tests.
          std::this_thread::sleep_for(200ms);
        }
      });
    }
    for (std::thread& poller : pollers) poller.join();
    EXPECT_EQ(failures, 0);
    return answered.load();
  };
  poll(3s);  // every cache and every arena the polling needs
  long idle_threads = 0;
  ASSERT_TRUE(testing::Eventually([&] {
    idle_threads = program_->StatusField("Threads");
    std::this_thread::sleep_for(500ms);
    return program_->StatusField("Threads") == idle_threads;
  }, 20s));
  long idle_rss = program_->StatusField("VmRSS");

  long answered = poll(60s);
  EXPECT_GT(answered, 1000);
  EXPECT_TRUE(testing::Eventually([&] { return program_->StatusField("Threads") <= idle_threads; }, 20s))
      << program_->StatusField("Threads") << " threads against " << idle_threads << " idle";
  EXPECT_TRUE(testing::Eventually([&] { return program_->StatusField("VmRSS") < idle_rss + 8192; }, 20s))
      << "RSS " << program_->StatusField("VmRSS") << " KiB against " << idle_rss << " KiB idle";
  std::printf("status polls in a minute: %ld; RSS %ld KiB idle, %ld KiB after\n", answered, idle_rss,
              program_->StatusField("VmRSS"));
  StopProgram();
}

TEST_F(MixerControlRoutes, DevicesOfferNoCableEndpointAsMicrophone) {
  StartProgram();
  Reply devices = Post("/api/mixer/devices");
  ASSERT_EQ(devices.status, 200) << devices.raw;
  EXPECT_EQ(Names(devices.body["inputs"]), std::vector<std::string>{"Microphone (Virtual)"});
  std::vector<std::string> outputs = Names(devices.body["outputs"]);
  EXPECT_NE(std::find(outputs.begin(), outputs.end(), "CABLE Input"), outputs.end());
  EXPECT_TRUE(devices.body.GetBool("vb_cable_detected", false));
  StopProgram();
}

TEST_F(MixerControlRoutes, SetChangesTheSettingsInMemoryOnly) {
  WriteSettings(ClipSettings());
  std::string on_disk = testing::ReadFile(SettingsFile());
  StartProgram();

  Reply set = Post("/api/mixer/set", R"({"loop": false, "mic_volume": "0.5", "sfx_volume": 0.25,
                                         "server_port": 1e999})");
  ASSERT_EQ(set.status, 200) << set.raw;
  EXPECT_FALSE(set.body["mixer"]["loop"].bool_value);
  EXPECT_EQ(set.body["mixer"]["mic_volume"].number_value, 1.0) << "a string is no volume";
  EXPECT_EQ(set.body["mixer"]["sfx_volume"].number_value, 0.25);
  EXPECT_EQ(set.body["mixer"]["server_port"].number_value, port_) << "the bound port stays";
  EXPECT_EQ(set.body["selected_file"]["compatibility_state"].string_value, "unknown");

  Reply cable = Post("/api/mixer/set", R"({"mic_name": "cable output", "loop": true})");
  EXPECT_EQ(cable.status, 400);
  EXPECT_EQ(Code(cable), "microphone_invalid_cable_output");
  EXPECT_FALSE(Status()["loop"].bool_value) << "a refused set changes nothing";

  // The same cable, written differently, keeps the verified pair: the start still finds it.
  ASSERT_EQ(Post("/api/mixer/set", R"({"out_name": " cable   INPUT"})").status, 200);
  EXPECT_EQ(testing::ReadFile(SettingsFile()), on_disk);
  Reply started = Post("/api/mixer/start");
  ASSERT_EQ(started.status, 200) << started.raw;
  EXPECT_EQ(started.body["settings"]["server_port"].number_value, 5000)
      << "an infinite port is out of range, never an arbitrary one";
  ASSERT_EQ(Post("/api/mixer/stop").status, 200);

  // Another output drops the pair, and the start asks for the setup check again.
  ASSERT_EQ(Post("/api/mixer/set", R"j({"out_name": "Speakers (Virtual)"})j").status, 200);
  Reply refused = Post("/api/mixer/start");
  EXPECT_EQ(refused.status, 409);
  EXPECT_EQ(Code(refused), "audio_setup_required");
  EXPECT_EQ(refused.body["details"]["reason"].string_value, "verified_cable_required");
  StopProgram();
}

TEST_F(MixerControlRoutes, StartRunsOnTheVerifiedCableAndStopPutsTheDefaultsBack) {
  WriteSettings(ClipSettings());
  StartProgram();
  Reply started = Post("/api/mixer/start");
  ASSERT_EQ(started.status, 200) << started.raw;
  EXPECT_TRUE(started.body["running"].bool_value);
  EXPECT_EQ(started.body["mic_index"].type, JsonValue::Type::Number);
  EXPECT_EQ(audio_.DefaultSource(), "cable_output");
  EXPECT_EQ(audio_.DefaultSink(), "headphones") << "the monitor is the default output";

  Reply again = Post("/api/mixer/start", R"({"out_device": 0})");
  EXPECT_EQ(again.status, 200);
  EXPECT_TRUE(again.body["already_running"].bool_value);
  EXPECT_EQ(audio_.DefaultSource(), "cable_output");

  std::vector<float> voice = RecordSource("cable_output", 1.5);
  EXPECT_GT(testing::ToneAmplitude(voice, kMicrophoneHz, 1), 0.01)
      << "the microphone reaches the game";
  EXPECT_LT(testing::ToneAmplitude(voice, kClipHz, 1), 0.005);

  ASSERT_EQ(Post("/api/mixer/ptt/start").status, 200);
  EXPECT_TRUE(Status()["ptt_active"].bool_value);
  std::vector<float> mix = RecordSource("cable_output", 1.5);
  std::vector<float> monitor = RecordSource("headphones.monitor", 1.5);
  // Half of full scale when every block arrives; a busy machine may drop some.
  EXPECT_GT(testing::ToneAmplitude(mix, kClipHz, 1), 0.05) << "the clip reaches the game";
  EXPECT_GT(testing::ToneAmplitude(mix, kMicrophoneHz, 1), 0.01) << "beside the voice";
  EXPECT_GT(testing::ToneAmplitude(monitor, kClipHz, 1), 0.05) << "and the user hears it";
  EXPECT_TRUE(Status()["ptt_active"].bool_value) << "a looping clip plays on";

  ASSERT_EQ(Post("/api/mixer/ptt/stop").status, 200);
  EXPECT_FALSE(Status()["ptt_active"].bool_value);
  // What the devices still had buffered plays out first.
  EXPECT_TRUE(testing::Eventually(
      [&] { return testing::ToneAmplitude(RecordSource("cable_output", 0.5), kClipHz, 1) < 0.005; },
      10s));

  Reply stopped = Post("/api/mixer/stop");
  ASSERT_EQ(stopped.status, 200) << stopped.raw;
  EXPECT_FALSE(stopped.body["running"].bool_value);
  EXPECT_EQ(audio_.DefaultSource(), "test_microphone");
  EXPECT_EQ(audio_.DefaultSink(), "speakers");
  StopProgram();
}

TEST_F(MixerControlRoutes, ARunWhoseAudioServerWentAwayPlaysAgainOnceItIsBack) {
  WriteSettings(ClipSettings());
  StartProgram();
  ASSERT_EQ(Post("/api/mixer/start").status, 200);
  ASSERT_GT(testing::ToneAmplitude(RecordSource("cable_output", 1.0), kMicrophoneHz, 1), 0.01);

  audio_.Stop();
  // Still the user's run, which says at once that its devices stopped, and why.
  ASSERT_TRUE(testing::Eventually([&] { return Status()["devices_stopped"].bool_value; }));
  JsonValue gone = Status();
  EXPECT_TRUE(gone["running"].bool_value);
  EXPECT_FALSE(gone["alerts"].array_value.empty());
  EXPECT_TRUE(testing::Eventually([&] {
    return !Status()["audio_management"]["audio_route_monitoring_active"].bool_value;
  })) << "no monitoring is claimed without a server";

  audio_.Start();
  auto returned = std::chrono::steady_clock::now();
  EXPECT_TRUE(testing::Eventually(
      [&] {
        return testing::ToneAmplitude(RecordSource("cable_output", 0.5), kMicrophoneHz, 1) > 0.01;
      },
      5s))
      << "the microphone reaches the game again within 5 s, without a click from the user";
  std::printf("the cable carried the microphone again %.1f s after the server's return\n",
              std::chrono::duration<double>(std::chrono::steady_clock::now() - returned).count());
  JsonValue back = Status();
  EXPECT_FALSE(back["devices_stopped"].bool_value) << back.Serialize(2);
  EXPECT_TRUE(back["running"].bool_value);
  EXPECT_TRUE(testing::Eventually([&] {
    return Status()["audio_management"]["audio_route_monitoring_active"].bool_value;
  }, 10s)) << "the route monitor listens again";
  std::string log = testing::ReadFile(DataFolder() / "logs/app.log");
  EXPECT_NE(log.find("Mixer output device resumed on CABLE Input"), std::string::npos) << log;
  StopProgram();
}

TEST_F(MixerControlRoutes, StartRefusesWithoutConsentOnACableMicrophoneAndWithoutTheCable) {
  JsonValue settings = ClipSettings();
  settings["mic_name"] = "CABLE Output";
  WriteSettings(settings);
  StartProgram();
  Reply microphone = Post("/api/mixer/start");
  EXPECT_EQ(microphone.status, 400);
  EXPECT_EQ(Code(microphone), "microphone_invalid_cable_output");
  ASSERT_EQ(Post("/api/mixer/set", R"j({"mic_name": "Microphone (Virtual)",
                                       "audio_management_consent_granted": false})j")
                .status,
            200);
  Reply consent = Post("/api/mixer/start");
  EXPECT_EQ(consent.status, 409);
  EXPECT_EQ(Code(consent), "audio_setup_required");
  EXPECT_TRUE(consent.body["setup_required"].bool_value);
  EXPECT_EQ(consent.body["details"]["reason"].string_value, "windows_input_switching_off");

  ASSERT_EQ(Post("/api/mixer/set", R"({"audio_management_consent_granted": true})").status, 200);
  audio_.UnloadModuleWith("source_name=cable_output");
  Reply gone = Post("/api/mixer/start");
  EXPECT_EQ(gone.status, 409) << gone.raw;
  EXPECT_EQ(Code(gone), "audio_setup_required");
  EXPECT_EQ(gone.body["details"]["reason"].string_value, "verified_cable_unavailable");
  EXPECT_FALSE(Status()["running"].bool_value);
  EXPECT_EQ(audio_.DefaultSource(), "test_microphone") << "no refusal touches the defaults";
  StopProgram();
}

TEST_F(MixerControlRoutes, AStopWhoseRestoreFailsStillStopsTheMixer) {
  WriteSettings(ClipSettings());
  StartProgram();
  ASSERT_EQ(Post("/api/mixer/start").status, 200);
  // A backup that cannot even be opened as a file; a damaged one would only be set aside.
  std::filesystem::remove(DataFolder() / "audio_backup.json");
  std::filesystem::create_directory(DataFolder() / "audio_backup.json");
  Reply stopped = Post("/api/mixer/stop");
  EXPECT_EQ(stopped.status, 500);
  EXPECT_EQ(Code(stopped), "audio_restore_failed");
  EXPECT_FALSE(Status()["running"].bool_value);
  StopProgram();
}

TEST_F(MixerControlRoutes, PushToTalkRefusesWhatCannotPlay) {
  MakeTone(Sounds() / "tone.mp3", kClipHz, 1.0);
  MakeTone(Sounds() / "gone.wav", kClipHz, 1.0);
  JsonValue settings = ClipSettings();
  settings["file_path"] = "";
  WriteSettings(settings);
  StartProgram();
  auto set = [&](const char* key, const std::filesystem::path& clip) {
    JsonValue body = JsonValue::MakeObject();
    body[key] = clip.string();
    return Post("/api/mixer/set", body.Serialize(0));
  };
  auto select = [&](const std::filesystem::path& clip) {
    ASSERT_EQ(set("file_path", clip).status, 200);
  };

  Reply none = Post("/api/mixer/ptt/start");
  EXPECT_EQ(std::make_pair(none.status, Code(none)), std::make_pair(400, std::string("file_not_selected")));
  // A stale list offers files deleted since: choosing one is refused, and one deleted after it
  // was chosen is reported missing.
  Reply never = set("file_path", Sounds() / "never.wav");
  EXPECT_EQ(std::make_pair(never.status, Code(never)), std::make_pair(404, std::string("file_not_found")));
  Reply panic = set("panic_file_path", Sounds() / "never.wav");
  EXPECT_EQ(std::make_pair(panic.status, Code(panic)), std::make_pair(409, std::string("path_unavailable")));
  select(Sounds() / "gone.wav");
  std::filesystem::remove(Sounds() / "gone.wav");
  EXPECT_FALSE(Status()["has_file"].bool_value);
  EXPECT_EQ(Status()["file_compatible_state"].string_value, "missing");
  Reply missing = Post("/api/mixer/ptt/start");
  EXPECT_EQ(std::make_pair(missing.status, Code(missing)), std::make_pair(404, std::string("file_not_found")));
  EXPECT_EQ(Post("/api/mixer/set", R"({"loop": false})").status, 200) << "the clip in force stays";
  select(Sounds() / "tone.mp3");
  Reply mp3 = Post("/api/mixer/ptt/start");
  EXPECT_EQ(std::make_pair(mp3.status, Code(mp3)),
            std::make_pair(409, std::string("file_requires_conversion")));
  EXPECT_EQ(mp3.body["details"]["path"].string_value, (Sounds() / "tone.mp3").string());
  EXPECT_FALSE(mp3.body["details"]["issues"].array_value.empty());
  select(Sounds() / "tone.wav");
  Reply stopped = Post("/api/mixer/ptt/start");
  EXPECT_EQ(std::make_pair(stopped.status, Code(stopped)),
            std::make_pair(409, std::string("mixer_not_running")));
  EXPECT_FALSE(Status()["ptt_active"].bool_value);
  StopProgram();
}

TEST_F(MixerControlRoutes, TheVoiceTestRecordsFiveSecondsOfTheRunningMicrophone) {
  WriteSettings(ClipSettings());
  StartProgram();
  for (const char* body : {R"({"duration_seconds": 10})", R"({"duration_seconds": "5"})", "{}"}) {
    Reply refused = Post("/api/mixer/voice-test/record", body);
    EXPECT_EQ(refused.status, 400) << body;
    EXPECT_EQ(Code(refused), "invalid_voice_test_duration");
  }
  EXPECT_EQ(Post("/api/mixer/voice-test/latest").status, 404);
  EXPECT_EQ(Code(Post("/api/mixer/voice-test/record", R"({"duration_seconds": 5})")),
            "voice_test_record_failed")
      << "the mixer is not running";

  ASSERT_EQ(Post("/api/mixer/start").status, 200);
  Reply recorded = Post("/api/mixer/voice-test/record", R"({"duration_seconds": 5.00005})");
  ASSERT_EQ(recorded.status, 200) << recorded.raw.substr(0, 300);
  JsonValue& test = recorded.body["test"];
  EXPECT_EQ(test["size_bytes"].number_value, 960044);
  EXPECT_EQ(test["sample_rate"].number_value, 48000);
  EXPECT_EQ(test["channels"].number_value, 2);
  EXPECT_EQ(test["duration_seconds"].number_value, 5.0);
  std::string wav;
  ASSERT_TRUE(Base64Decode(test["wav_base64"].string_value, &wav));
  ASSERT_EQ(wav.size(), 960044u);
  EXPECT_EQ(wav.substr(0, 4), "RIFF");
  EXPECT_EQ(wav.substr(8, 8), "WAVEfmt ");
  EXPECT_EQ(static_cast<uint8_t>(wav[22]), 2) << "stereo";
  EXPECT_EQ(static_cast<uint8_t>(wav[24]) | static_cast<uint8_t>(wav[25]) << 8, 48000 & 0xFFFF);
  EXPECT_EQ(static_cast<uint8_t>(wav[34]), 16) << "16-bit";

  Reply latest = Post("/api/mixer/voice-test/latest");
  ASSERT_EQ(latest.status, 200);
  EXPECT_EQ(latest.body["test"]["wav_base64"].string_value, test["wav_base64"].string_value);
  EXPECT_TRUE(Post("/api/mixer/voice-test/clear").body["cleared"].bool_value);
  Reply cleared = Post("/api/mixer/voice-test/latest");
  EXPECT_EQ(std::make_pair(cleared.status, Code(cleared)),
            std::make_pair(404, std::string("voice_test_not_found")));
  StopProgram();
}

}  // namespace
}  // namespace zennic
