// The engine on a real PulseAudio server with the virtual devices: the test microphone's tone
// and a clip's tone reach the cable at the levels the volumes set, the monitor carries the clip
// alone, the voice test gives a real WAV, and devices that vanish mid-run do no harm.

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cmath>
#include <complex>
#include <cstring>
#include <numbers>
#include <thread>

#include "core/app_paths.h"
#include "engine/key_binding_service.h"
#include "engine/mixer_engine.h"
#include "model/profile_service.h"
#include "model/runtime_state.h"
#include "sound_files/analyzer_service.h"
#include "sound_files/wav_file.h"
#include "support/isolated_user.h"
#include "support/marked_clip.h"
#include "support/private_audio_server.h"
#include "support/run_command.h"
#include "support/temp_folder.h"

namespace zennic {
namespace {

using namespace std::chrono_literals;

constexpr double kMicrophoneTone = 440.0;  // the test microphone's, at 0.5
constexpr double kClipTone = 1000.0;

// The amplitude of a tone (a whole number of cycles per 100 ms) in the left channel: the median
// over 100 ms windows, so that the run's first moments in a recording do not count.
double ToneLevel(const std::vector<float>& samples, double frequency) {
  constexpr size_t kWindow = 4800;
  std::vector<double> levels;
  for (size_t start = 0; (start + kWindow) * 2 <= samples.size(); start += kWindow) {
    std::complex<double> sum;
    for (size_t i = 0; i < kWindow; ++i) {
      sum += static_cast<double>(samples[2 * (start + i)]) *
             std::polar(1.0, -2.0 * std::numbers::pi * frequency * static_cast<double>(i) / 48000);
    }
    levels.push_back(2.0 * std::abs(sum) / static_cast<double>(kWindow));
  }
  if (levels.empty()) return 0.0;
  std::nth_element(levels.begin(), levels.begin() + levels.size() / 2, levels.end());
  return levels[levels.size() / 2];
}

double Peak(const std::vector<float>& samples) {
  double peak = 0;
  for (float sample : samples) peak = std::max(peak, std::abs(static_cast<double>(sample)));
  return peak;
}

class MixerEngineAudioTest : public ::testing::Test {
 protected:
  MixerEngineAudioTest()
      : paths_(FillAppPaths(data_.path())),
        state_(SettingsStore(paths_, {}, {})),
        key_bindings_(&state_),
        analyzer_(AnalyzerServiceOptions()),
        profiles_(&state_),
        engine_(&state_, &key_bindings_, &analyzer_, &profiles_) {}

  void SetUp() override {
    ASSERT_TRUE(state_.LoadSettings(nullptr));
    std::filesystem::path sounds = data_.path() / "sounds";
    std::filesystem::create_directories(sounds);
    // Three seconds of a 1 kHz tone at 0.5.
    std::vector<int16_t> tone;
    for (int i = 0; i < 3 * 48000; ++i) {
      auto value = static_cast<int16_t>(
          std::lround(16384 * std::sin(2 * std::numbers::pi * kClipTone * i / 48000)));
      tone.push_back(value);
      tone.push_back(value);
    }
    std::string error;
    ASSERT_TRUE(WriteWavFile(sounds / "tone.wav", 48000, 2, tone, &error)) << error;
    ASSERT_TRUE(state_.MutateSettings(
        [&sounds](MixerSettings& settings) {
          settings.profiles.front().audio_dir = sounds.string();
          settings.file_path = (sounds / "tone.wav").string();
          settings.monitor_name = "Headphones (Virtual)";
          settings.hold_voice_key = false;
          settings.mic_volume = 0.5;
          settings.sfx_volume = 0.5;
        },
        true, &error))
        << error;
  }

  // Lets the run settle before anything is recorded.
  bool Start(std::vector<std::string>* notes = nullptr) {
    std::string error;
    bool started = engine_.Start({}, notes, &error);
    EXPECT_TRUE(started) << error;
    std::this_thread::sleep_for(500ms);
    return started;
  }

  testing::PrivateAudioServer server_;
  testing::TempFolder data_;
  testing::IsolatedUser user_;
  AppPaths paths_;
  RuntimeState state_;
  KeyBindingService key_bindings_;
  AnalyzerService analyzer_;
  ProfileService profiles_;
  MixerEngine engine_;
};

TEST_F(MixerEngineAudioTest, TheCableCarriesVoiceAndClipAndTheMonitorTheClipAlone) {
  ASSERT_TRUE(Start());
  MixerSettings settings = state_.GetSettings();
  EXPECT_EQ(settings.mic_name, "Microphone (Virtual)");
  EXPECT_EQ(settings.out_name, "CABLE Input");
  EXPECT_EQ(settings.monitor_name, "Headphones (Virtual)");

  std::string error;
  ASSERT_TRUE(engine_.StartPtt(true, &error)) << error;
  std::this_thread::sleep_for(300ms);
  std::vector<float> cable = server_.Record("cable_output", 1.0);
  std::vector<float> monitor = server_.Record("headphones.monitor", 1.0);
  ASSERT_TRUE(state_.GetSnapshot().ptt_active) << "the clip ended before the recordings did";
  EXPECT_NEAR(ToneLevel(cable, kMicrophoneTone), 0.25, 0.025);
  EXPECT_NEAR(ToneLevel(cable, kClipTone), 0.25, 0.025);
  EXPECT_NEAR(ToneLevel(monitor, kClipTone), 0.25, 0.025);
  EXPECT_LT(ToneLevel(monitor, kMicrophoneTone), 0.002);

  ASSERT_TRUE(engine_.StopPtt(&error)) << error;
  std::this_thread::sleep_for(200ms);
  cable = server_.Record("cable_output", 1.0);
  EXPECT_NEAR(ToneLevel(cable, kMicrophoneTone), 0.25, 0.025);
  EXPECT_LT(ToneLevel(cable, kClipTone), 0.002);

  // The monitor switched off is silent while a clip plays.
  ASSERT_TRUE(engine_.SetMonitorEnabled(false, &error)) << error;
  ASSERT_TRUE(engine_.StartPtt(true, &error)) << error;
  std::this_thread::sleep_for(200ms);
  monitor = server_.Record("headphones.monitor", 1.0);
  EXPECT_LT(Peak(monitor), 0.001);
  engine_.Stop(nullptr);
}

TEST_F(MixerEngineAudioTest, TheVoiceTestGivesFiveSecondsOfTheMicrophoneAsA48kStereoWav) {
  ASSERT_TRUE(Start());
  VoiceTestResult result;
  std::string error;
  ASSERT_TRUE(engine_.RecordVoiceTest(5, &result, &error)) << error;
  engine_.Stop(nullptr);

  testing::TempFolder folder;
  std::filesystem::path file = folder / "voice.wav";
  testing::WriteFile(file, std::string(result.wav_bytes.begin(), result.wav_bytes.end()));
  DecodedWavData decoded;
  ASSERT_TRUE(DecodeWavFile(file, &decoded, &error)) << error;
  EXPECT_EQ(decoded.sample_rate, 48000u);
  EXPECT_EQ(decoded.channels, 2);
  EXPECT_EQ(decoded.bits_per_sample, 16u);
  EXPECT_EQ(decoded.frame_count, 240000u);
  // The microphone before its volume: the tone at its own 0.5.
  std::vector<float> last_second(decoded.samples.end() - 96000, decoded.samples.end());
  EXPECT_NEAR(ToneLevel(last_second, kMicrophoneTone), 0.5, 0.05);
  std::string info;
  ASSERT_EQ(testing::RunCommand({"soxi", file.string()}, &info), 0) << info;
}

TEST_F(MixerEngineAudioTest, DevicesThatVanishMidRunEndOnlyTheirOwnPartAndTheNextStartMovesOn) {
  ASSERT_TRUE(Start());
  server_.UnloadModuleWith("sink_name=headphones");
  std::this_thread::sleep_for(200ms);
  // The voice still reaches the game.
  EXPECT_NEAR(ToneLevel(server_.Record("cable_output", 1.0), kMicrophoneTone), 0.25, 0.025);

  auto before = std::chrono::steady_clock::now();
  EXPECT_TRUE(engine_.Stop(nullptr));
  EXPECT_LT(std::chrono::steady_clock::now() - before, 2s);
  std::vector<std::string> notes;
  ASSERT_TRUE(Start(&notes));
  EXPECT_EQ(notes, (std::vector<std::string>{"Saved monitor device Headphones (Virtual) was "
                                             "unavailable. Using Speakers (Virtual) instead."}));

  // The cable itself gone mid-run: its output ends, the engine stops and starts elsewhere.
  server_.UnloadModuleWith("source_name=cable_output");
  server_.UnloadModuleWith("sink_name=cable_input");
  std::this_thread::sleep_for(100ms);
  EXPECT_TRUE(engine_.Stop(nullptr));
  ASSERT_TRUE(Start(&notes));
  EXPECT_EQ(notes, (std::vector<std::string>{
                       "Saved output device CABLE Input was unavailable. Using Speakers (Virtual) "
                       "instead.",
                       "Saved monitor device Headphones (Virtual) was unavailable. Monitor output "
                       "was disabled because no separate speaker or headphone device was found."}));
  EXPECT_NEAR(ToneLevel(server_.Record("speakers.monitor", 1.0), kMicrophoneTone), 0.25, 0.025);
  engine_.Stop(nullptr);
}

TEST_F(MixerEngineAudioTest, SettingsSavedAllTheWhileLeaveNoGapOnTheCable) {
  std::filesystem::path clip = data_.path() / "sounds" / "marked.wav";
  std::string error;
  ASSERT_TRUE(WriteWavFile(clip, 48000, 2, testing::MarkedClipSamples(), &error)) << error;
  // Thousands of profiles make each save long, as a slow disk would.
  ASSERT_TRUE(state_.MutateSettings(
      [&clip](MixerSettings& settings) {
        for (int i = 0; i < 4000; ++i) {
          std::string id = "profile-" + std::to_string(i);
          settings.profiles.push_back({id, "Profile " + std::to_string(i), "/nowhere/" + id});
        }
        settings.file_path = clip.string();
        settings.loop = true;
        settings.mic_volume = 0.0;
        settings.sfx_volume = 1.0;
      },
      true, &error))
      << error;
  ASSERT_TRUE(Start());
  ASSERT_TRUE(engine_.StartPtt(true, &error)) << error;

  std::atomic<bool> recording{true};
  int saves = 0;
  std::thread saver([&] {
    while (recording) {
      state_.MutateSettings([&](MixerSettings& s) { s.ui_language = saves % 2 ? "de" : "en"; },
                            true, nullptr);
      ++saves;
    }
  });
  std::vector<float> cable = server_.Record("cable_output", 3.0);
  recording = false;
  saver.join();
  engine_.Stop(nullptr);
  EXPECT_GT(saves, 5);

  EXPECT_EQ(testing::FindMarkedClipGaps(cable), std::vector<std::string>())
      << "over " << saves << " saves";
}

TEST_F(MixerEngineAudioTest, ADeviceWith24BitsInA32BitContainerPlaysAtTheRightLevel) {
  server_.LoadModule("module-null-sink sink_name=deep format=s24-32le rate=48000 channels=2 "
                     "sink_properties=device.description=Deep-Cable");
  std::string error;
  ASSERT_TRUE(state_.MutateSettings([](MixerSettings& settings) { settings.out_name = "Deep-Cable"; },
                                    true, &error));
  ASSERT_TRUE(Start());
  std::this_thread::sleep_for(200ms);
  EXPECT_NEAR(ToneLevel(server_.Record("deep.monitor", 1.0), kMicrophoneTone), 0.25, 0.025);
  engine_.Stop(nullptr);
}

}  // namespace
}  // namespace zennic
