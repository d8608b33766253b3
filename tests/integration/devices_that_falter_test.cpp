// The clip while another device of the run falters: a microphone that stops delivering, a monitor
// whose headphones are unplugged and plugged back, a cable that stops taking its audio. What the
// player's friends and the player hear of the clip never breaks, and the status counts the breaks
// where they were.

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <thread>
#include <vector>

#include "integration/mixer_api_fixture.h"
#include "support/run_command.h"
#include "support/tone_continuity.h"

namespace zennic {
namespace {

using namespace std::chrono_literals;

constexpr double kMicrophoneHz = 440.0;  // the virtual microphone's tone, the same on both sides
constexpr double kClipHz = 1000.0;
// The shell keeps the single quotes for the module's own argument parser.
const char kHeadphones[] =
    "module-null-sink sink_name=headphones rate=48000 channels=2 "
    "\"sink_properties='device.description=\\\"Headphones (Virtual)\\\"'\"";

// One side of a stereo recording, as the left of a new one (the tone checks read the left).
std::vector<float> Side(const std::vector<float>& stereo, bool minus_right_from_left) {
  std::vector<float> side(stereo.size(), 0.0f);
  for (size_t i = 0; i + 1 < stereo.size(); i += 2) {
    side[i] = minus_right_from_left ? stereo[i] - stereo[i + 1] : stereo[i + 1];
  }
  return side;
}

class VoiceContinuityWhenDevicesFalter : public testing::MixerApiFixture {
 protected:
  // The clip loops on the left side alone, the monitor on, the voice at half volume: on the
  // cable, left less right is the clip alone and right is the voice alone.
  void StartLoopingClip() {
    std::filesystem::path clip = folder_ / "sounds" / "left.wav";
    std::filesystem::create_directories(clip.parent_path());
    // Two seconds hold whole cycles of the tone: it loops without a break of its own.
    testing::RunFfmpeg({"-f", "lavfi", "-i", "aevalsrc=0.5*sin(2*PI*1000*t)|0:s=48000:d=2",
                        clip.string()});
    JsonValue settings = VerifiedPairSettings();
    SelectClipInProfile(&settings, clip);
    settings["hold_voice_key"] = false;
    settings["loop"] = true;
    settings["mic_volume"] = 0.5;
    settings["sfx_volume"] = 0.5;
    settings["monitor_enabled"] = true;
    WriteSettings(settings);
    StartProgram();
    ASSERT_EQ(Post("/api/mixer/start").status, 200);
    ASSERT_EQ(Post("/api/mixer/ptt/start").status, 200);
    // The clip's own start is a jump in the tones, not a break.
    std::this_thread::sleep_for(1s);
  }

  JsonValue Dropouts() {
    Reply status = Post("/api/mixer/status");
    const JsonValue* dropouts = status.body["mixer"].Find("dropouts");
    EXPECT_NE(dropouts, nullptr) << status.raw;
    return dropouts != nullptr ? *dropouts : JsonValue::MakeObject();
  }

  // `seconds` of `source` while `meanwhile` runs beside the recording.
  std::vector<float> RecordWhile(const std::string& source, double seconds,
                                 const std::function<void()>& meanwhile) {
    std::vector<float> recording;
    std::thread recorder([&] { recording = audio_.Record(source, seconds); });
    meanwhile();
    recorder.join();
    return recording;
  }

  // Twice, `device` held still for 300 ms: the server stops taking its audio or giving it.
  void SuspendTwice(const std::string& what, const std::string& device) {
    for (int pause = 0; pause < 2; ++pause) {
      std::this_thread::sleep_for(1500ms);
      audio_.Pactl("suspend-" + what + " " + device + " 1");
      std::this_thread::sleep_for(300ms);
      audio_.Pactl("suspend-" + what + " " + device + " 0");
    }
  }
};

TEST_F(VoiceContinuityWhenDevicesFalter, AMicrophoneThatStopsSilencesOnlyTheVoice) {
  StartLoopingClip();
  std::vector<float> cable =
      RecordWhile("cable_output", 6.0, [this] { SuspendTwice("source", "test_microphone"); });

  // The clip plays on whole through both pauses.
  testing::ToneBreaks clip = testing::FindToneBreaks(Side(cable, true), {kClipHz});
  EXPECT_TRUE(clip.empty()) << "the clip: " << clip.Describe();
  EXPECT_GT(testing::ToneAmplitude(Side(cable, true), kClipHz), 0.2);
  // The voice is silent once a pause, and back within 100 ms of the microphone's return: its
  // silence lasts the 300 ms pause, the few it takes to call the microphone stopped, and less
  // than 100 ms more.
  testing::ToneBreaks voice = testing::FindToneBreaks(Side(cable, false), {kMicrophoneHz});
  ASSERT_EQ(voice.silences.size(), 2u) << "the voice: " << voice.Describe() << EngineLog();
  for (const testing::ToneBreaks::Silence& silence : voice.silences) {
    EXPECT_GE(silence.milliseconds, 250.0);
    EXPECT_LE(silence.milliseconds, 400.0);
  }
  JsonValue dropouts = Dropouts();
  EXPECT_EQ(dropouts["microphone"].number_value, 2.0) << EngineLog();
  EXPECT_EQ(dropouts["output"].number_value, 0.0) << EngineLog();
  EXPECT_EQ(dropouts["monitor"].number_value, 0.0) << EngineLog();
  EXPECT_EQ(dropouts["total"].number_value, 2.0);
  StopProgram();
}

// The sound server itself, and then the microphone alone, held still for less than the cable's
// queue, three times each: the microphone's audio comes late (with the cable's requests, or while
// the server runs on); the voice is waited for, not given up as a stopped microphone's.
TEST_F(VoiceContinuityWhenDevicesFalter,
       AServerOrMicrophoneHeldStillShorterThanTheQueueBreaksNothing) {
  StartLoopingClip();
  std::vector<float> cable = RecordWhile("cable_output", 9.5, [this] {
    for (int stop = 0; stop < 6; ++stop) {
      std::this_thread::sleep_for(1500ms);
      if (stop % 2 == 0) {
        audio_.HoldStill(25ms);
      } else {
        audio_.HoldMicrophoneStill(25ms);
      }
    }
  });
  testing::ToneBreaks clip = testing::FindToneBreaks(Side(cable, true), {kClipHz});
  EXPECT_TRUE(clip.empty()) << "the clip: " << clip.Describe();
  testing::ToneBreaks voice = testing::FindToneBreaks(Side(cable, false), {kMicrophoneHz});
  EXPECT_TRUE(voice.empty()) << "the voice: " << voice.Describe() << EngineLog();
  EXPECT_EQ(Dropouts()["total"].number_value, 0.0) << EngineLog();
  StopProgram();
}

TEST_F(VoiceContinuityWhenDevicesFalter, HeadphonesUnpluggedAndPluggedBackLeaveTheCableWhole) {
  StartLoopingClip();
  std::vector<float> cable = RecordWhile("cable_output", 5.0, [this] {
    std::this_thread::sleep_for(1s);
    audio_.UnloadModuleWith("sink_name=headphones");
    std::this_thread::sleep_for(1500ms);
    audio_.LoadModule(kHeadphones);
  });
  testing::ToneBreaks breaks = testing::FindToneBreaks(cable, {kMicrophoneHz, kClipHz});
  EXPECT_TRUE(breaks.empty()) << breaks.Describe();
  JsonValue dropouts = Dropouts();
  EXPECT_EQ(dropouts["output"].number_value, 0.0) << EngineLog();
  EXPECT_EQ(dropouts["microphone"].number_value, 0.0) << EngineLog();
  StopProgram();
}

// Seconds into a recording of the clip where it last sounds.
double ClipEndSeconds(const std::vector<float>& clip) {
  size_t last = 0;
  for (size_t i = 0; i < clip.size(); i += 2) {
    if (std::abs(clip[i]) > 0.05f) last = i / 2;
  }
  return static_cast<double>(last) / 48000.0;
}

TEST_F(VoiceContinuityWhenDevicesFalter, ACableThatStallsLeavesTheMonitorWhole) {
  StartLoopingClip();
  std::vector<float> headphones =
      RecordWhile("headphones.monitor", 6.0, [this] { SuspendTwice("sink", "cable_input"); });
  testing::ToneBreaks clip = testing::FindToneBreaks(headphones, {kClipHz});
  EXPECT_TRUE(clip.empty()) << "the clip: " << clip.Describe();
  EXPECT_GT(testing::ToneAmplitude(headphones, kClipHz), 0.2);
  EXPECT_EQ(Dropouts()["monitor"].number_value, 0.0) << EngineLog();

  // What the cable did not take while it stalled is not owed to it afterwards: the clip stopped
  // then ends on the cable when it ends on the monitor (the two recorders start a few
  // milliseconds apart; a suspended cable records nothing, so only a recording after the stalls
  // compares).
  std::vector<float> cable;
  std::thread cable_recorder([&] { cable = audio_.Record("cable_output", 2.0); });
  headphones = RecordWhile("headphones.monitor", 2.0, [this] {
    std::this_thread::sleep_for(1s);
    EXPECT_EQ(Post("/api/mixer/ptt/stop").status, 200);
  });
  cable_recorder.join();
  EXPECT_NEAR(ClipEndSeconds(Side(cable, true)), ClipEndSeconds(headphones), 0.1) << EngineLog();
  StopProgram();
}

}  // namespace
}  // namespace zennic
