// The clip while another device of the run falters: a microphone that stops delivering, a monitor
// whose headphones are unplugged and plugged back, a cable that stops taking its audio. What the
// player's friends and the player hear of the clip never breaks, and the status counts the breaks
// where they were. A break the machine made (its cores stopped under a device's threads longer
// than the queue covers) is set aside and printed, as in the listening test.

#include <gtest/gtest.h>
#include <signal.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <functional>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "integration/listening_fixture.h"
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

class VoiceContinuityWhenDevicesFalter : public testing::ListeningFixture {
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
    StartFollowedProgram();
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

  // What a device carried, timed, with the queue the engine kept on it.
  struct Heard {
    std::unique_ptr<testing::TimedRecording> recording;
    std::unique_ptr<testing::QueuePoll> queue;
    std::vector<float> samples;
  };

  // `seconds` of `source` (the device the status names `status_device`) while `meanwhile` runs
  // beside the recording.
  Heard RecordWhile(const std::string& source, const char* status_device, double seconds,
                    const std::function<void()>& meanwhile) {
    Heard heard{nullptr, PollQueue(status_device), {}};
    heard.recording = std::make_unique<testing::TimedRecording>(source);
    const auto started = std::chrono::steady_clock::now();
    meanwhile();
    std::this_thread::sleep_until(started + std::chrono::duration<double>(seconds));
    heard.samples = heard.recording->Finish();
    // The program may stop before the breaks are laid beside its queue.
    heard.queue->Stop();
    return heard;
  }

  // The breaks of one tone, as ExpectNoBreakButTheMachines; `side` is a side of `heard`'s.
  std::vector<testing::BreakBesideStop> ExpectWhole(const std::string& what, const Heard& heard,
                                                    const std::vector<float>& side,
                                                    double frequency, const testing::Road& road) {
    return ExpectNoBreakButTheMachines(what, testing::FindToneBreaks(side, {frequency}),
                                       *heard.recording, road, *heard.queue);
  }

  // A device's count of breaks: `expected`, and more where the machine broke its audio.
  void ExpectCount(const JsonValue& dropouts, const char* device, double expected,
                   size_t machine_breaks) const {
    const JsonValue* count = dropouts.Find(device);
    ASSERT_NE(count, nullptr) << device;
    if (machine_breaks == 0) {
      EXPECT_EQ(count->number_value, expected) << device << EngineLog();
    } else {
      EXPECT_GE(count->number_value, expected) << device;
    }
  }

  // Twice, `device` held still for 300 ms: the server stops taking its audio or giving it. How
  // long each pause lasted at the most, from before the first command to after the second (a
  // busy machine is slow to start them).
  std::vector<double> SuspendTwice(const std::string& what, const std::string& device) {
    std::vector<double> paused_ms;
    for (int pause = 0; pause < 2; ++pause) {
      std::this_thread::sleep_for(1500ms);
      const auto suspended = std::chrono::steady_clock::now();
      audio_.Pactl("suspend-" + what + " " + device + " 1");
      std::this_thread::sleep_for(300ms);
      audio_.Pactl("suspend-" + what + " " + device + " 0");
      paused_ms.push_back(std::chrono::duration<double, std::milli>(
                              std::chrono::steady_clock::now() - suspended)
                              .count());
    }
    return paused_ms;
  }

  // The program held still, as a stop of the cores under all its threads while the server plays
  // on; 27 ms leave both outputs some of their 44 ms queue, less the server's lead and a pass.
  void HoldProgramStill() {
    ::kill(program_->pid(), SIGSTOP);
    std::this_thread::sleep_for(27ms);
    ::kill(program_->pid(), SIGCONT);
  }
};

TEST_F(VoiceContinuityWhenDevicesFalter, AMicrophoneThatStopsSilencesOnlyTheVoice) {
  StartLoopingClip();
  std::vector<double> paused_ms;
  Heard heard = RecordWhile("cable_output", "output", 6.0, [&] {
    paused_ms = SuspendTwice("source", "test_microphone");
  });
  const std::vector<float>& cable = heard.samples;

  // The clip plays on whole through both pauses.
  const std::vector<testing::BreakBesideStop> clip_breaks =
      ExpectWhole("the clip", heard, Side(cable, true), kClipHz, testing::kCableRoad);
  EXPECT_GT(testing::ToneAmplitude(Side(cable, true), kClipHz), 0.2);
  // The voice is silent once a pause, and back within 100 ms of the microphone's return: its
  // silence lasts the pause, the few it takes to call the microphone stopped, and less than 100 ms
  // more. Where the machine broke the clip, it broke the voice too.
  testing::ToneBreaks voice = testing::FindToneBreaks(Side(cable, false), {kMicrophoneHz});
  std::vector<testing::ToneBreaks::Silence> pauses;
  for (const testing::ToneBreaks::Silence& silence : voice.silences) {
    if (std::none_of(clip_breaks.begin(), clip_breaks.end(), [&](const auto& beside) {
          return beside.MachineCaused() && beside.heard.from_seconds <= silence.at_seconds &&
                 silence.at_seconds <= beside.heard.to_seconds;
        })) {
      pauses.push_back(silence);
    }
  }
  ASSERT_EQ(pauses.size(), 2u) << "the voice: " << voice.Describe() << EngineLog();
  for (size_t i = 0; i < pauses.size(); ++i) {
    EXPECT_GE(pauses[i].milliseconds, 250.0);
    EXPECT_LE(pauses[i].milliseconds, paused_ms[i] + 100.0) << "the pause lasted at most "
                                                             << paused_ms[i] << " ms";
  }
  JsonValue dropouts = Dropouts();
  ExpectCount(dropouts, "microphone", 2.0, clip_breaks.size());
  ExpectCount(dropouts, "output", 0.0, clip_breaks.size());
  EXPECT_EQ(dropouts["monitor"].number_value, 0.0) << EngineLog();
  StopProgram();
}

// The sound server itself, and then the microphone alone, held still for less than the cable's
// queue, three times each: the microphone's audio comes late (with the cable's requests, or while
// the server runs on); the voice is waited for, not given up as a stopped microphone's. The
// microphone's holds (15 ms) are short of what a tick can wait for its voice, from its making down
// to the cable's floor, less the microphone's period a tick may already wait for (about 20 ms);
// with the microphone called stopped after 5 ms, they broke the voice.
TEST_F(VoiceContinuityWhenDevicesFalter,
       AServerOrMicrophoneHeldStillShorterThanTheQueueBreaksNothing) {
  StartLoopingClip();
  Heard heard = RecordWhile("cable_output", "output", 9.5, [this] {
    for (int stop = 0; stop < 6; ++stop) {
      std::this_thread::sleep_for(1500ms);
      if (stop % 2 == 0) {
        audio_.HoldStill(25ms);
      } else {
        audio_.HoldMicrophoneStill(15ms);
      }
    }
  });
  // The microphone came late where the test held it, not where the machine did.
  testing::Road road = testing::kCableRoad;
  road.microphone_late_by_machine = false;
  const size_t breaks =
      ExpectWhole("the clip", heard, Side(heard.samples, true), kClipHz, road).size() +
      ExpectWhole("the voice", heard, Side(heard.samples, false), kMicrophoneHz, road).size();
  ExpectCount(Dropouts(), "total", 0.0, breaks);
  StopProgram();
}

// The program itself held still, three times for 27 ms, as a stop of the cores under all its
// threads while the server plays on: the cable's thread and the monitor's wake together with
// their queues near their floors, and neither plays silence for the clip the other has yet to
// make. (The voice may break: 27 ms is more than a tick can wait for it, down to the floor.)
TEST_F(VoiceContinuityWhenDevicesFalter, TheProgramHeldStillShorterThanTheQueueBreaksNothing) {
  StartLoopingClip();
  Heard cable{std::make_unique<testing::TimedRecording>("cable_output"), PollQueue("output"), {}};
  Heard monitor = RecordWhile("headphones.monitor", "monitor", 6.0, [this] {
    for (int stop = 0; stop < 3; ++stop) {
      std::this_thread::sleep_for(1500ms);
      HoldProgramStill();
    }
  });
  cable.samples = cable.recording->Finish();
  cable.queue->Stop();
  const size_t monitor_breaks =
      ExpectWhole("the monitor", monitor, monitor.samples, kClipHz, testing::kMonitorRoad).size();
  const size_t cable_breaks =
      ExpectWhole("the clip", cable, Side(cable.samples, true), kClipHz, testing::kCableRoad)
          .size();
  JsonValue dropouts = Dropouts();
  ExpectCount(dropouts, "monitor", 0.0, monitor_breaks);
  ExpectCount(dropouts, "output", 0.0, cable_breaks);
  StopProgram();
}

TEST_F(VoiceContinuityWhenDevicesFalter, HeadphonesUnpluggedAndPluggedBackLeaveTheCableWhole) {
  StartLoopingClip();
  Heard heard = RecordWhile("cable_output", "output", 5.0, [this] {
    std::this_thread::sleep_for(1s);
    audio_.UnloadModuleWith("sink_name=headphones");
    std::this_thread::sleep_for(1500ms);
    audio_.LoadModule(kHeadphones);
  });
  const size_t breaks = ExpectNoBreakButTheMachines(
      "the cable", testing::FindToneBreaks(heard.samples, {kMicrophoneHz, kClipHz}),
      *heard.recording, testing::kCableRoad, *heard.queue).size();
  JsonValue dropouts = Dropouts();
  ExpectCount(dropouts, "output", 0.0, breaks);
  ExpectCount(dropouts, "microphone", 0.0, breaks);
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
  Heard heard = RecordWhile("headphones.monitor", "monitor", 6.0,
                            [this] { SuspendTwice("sink", "cable_input"); });
  const size_t breaks =
      ExpectWhole("the monitor", heard, heard.samples, kClipHz, testing::kMonitorRoad).size();
  EXPECT_GT(testing::ToneAmplitude(heard.samples, kClipHz), 0.2);
  ExpectCount(Dropouts(), "monitor", 0.0, breaks);

  // What the cable did not take while it stalled is not owed to it afterwards: the clip stopped
  // then ends on the cable when it ends on the monitor (the two recorders start a few
  // milliseconds apart; a suspended cable records nothing, so only a recording after the stalls
  // compares).
  std::vector<float> cable;
  std::thread cable_recorder([&] { cable = audio_.Record("cable_output", 2.0); });
  std::vector<float> headphones = RecordWhile("headphones.monitor", "monitor", 2.0, [this] {
    std::this_thread::sleep_for(1s);
    EXPECT_EQ(Post("/api/mixer/ptt/stop").status, 200);
  }).samples;
  cable_recorder.join();
  EXPECT_NEAR(ClipEndSeconds(Side(cable, true)), ClipEndSeconds(headphones), 0.1) << EngineLog();
  StopProgram();
}

}  // namespace
}  // namespace zennic
