// The voice that reaches the game through the built program, on the virtual cable as users make
// one (a plain null sink, nothing else clocking it): whatever the clocks do, it never jumps and
// never falls silent, on a quiet machine and on one whose every core is busy. A sine's
// recurrence finds any break, sample by sample. The one break set aside is one the machine made:
// the core a device thread ran on stopped longer than the queue the engine kept, less the
// server's lead; it is printed with the stop, the core and the queue.

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cmath>
#include <cstdio>
#include <limits>
#include <string>
#include <thread>
#include <vector>

#include "integration/mixer_api_fixture.h"
#include "support/break_beside_stop.h"
#include "support/machine_stall_probe.h"
#include "support/temp_folder.h"
#include "support/timed_recording.h"
#include "support/tone_continuity.h"

namespace zennic {
namespace {

using namespace std::chrono_literals;

constexpr double kMicrophoneHz = 440.0;  // the virtual microphone's tone
constexpr int kClipHz = 1000;

// One process a core spinning at normal priority, as a game and its launcher keep them busy.
class BusyCores {
 public:
  BusyCores() {
    for (unsigned i = 0; i < std::max(1u, std::thread::hardware_concurrency()); ++i) {
      pid_t pid = ::fork();
      if (pid == 0) {
        volatile uint64_t spin = 0;
        while (true) spin = spin + 1;
      }
      if (pid > 0) children_.push_back(pid);
    }
  }
  ~BusyCores() {
    for (pid_t pid : children_) ::kill(pid, SIGKILL);
    for (pid_t pid : children_) ::waitpid(pid, nullptr, 0);
  }
  BusyCores(const BusyCores&) = delete;
  BusyCores& operator=(const BusyCores&) = delete;

 private:
  std::vector<pid_t> children_;
};

class VoiceContinuity : public testing::MixerApiFixture {
 protected:
  // Thirty seconds of the voice alone, then thirty with the monitor on and a clip looping.
  void ListenForBreaks() {
    // Two seconds of the clip hold whole cycles of its tone: it loops without a break of its own.
    MakeTone(folder_ / "sounds" / "tone.wav", kClipHz, 2.0);
    JsonValue settings = VerifiedPairSettings();
    SelectClipInProfile(&settings, folder_ / "sounds" / "tone.wav");
    settings["hold_voice_key"] = false;
    settings["loop"] = true;
    settings["mic_volume"] = 0.5;
    settings["sfx_volume"] = 0.5;
    settings["monitor_enabled"] = false;
    WriteSettings(settings);
    StartProgram();
    // The threads whose stops reach the cable: its own, the microphone's and the server's.
    probe_.FollowThreads(program_->pid(), testing::kCableRoad.AllThreads());
    testing::FollowAudioServer(&probe_, testing::kCableRoad.AllThreads());
    ASSERT_EQ(Post("/api/mixer/start").status, 200);
    size_t machine_breaks = ListenOnCable("the voice alone", {kMicrophoneHz}, nullptr);

    ASSERT_EQ(Post("/api/mixer/monitor_enable", R"({"enabled": true})").status, 200);
    ASSERT_EQ(Post("/api/mixer/ptt/start").status, 200);
    // The clip's own start is a jump in the tones, not a break.
    std::this_thread::sleep_for(200ms);
    std::vector<float> recording;
    machine_breaks += ListenOnCable("with the monitor on and a clip looping",
                                    {kMicrophoneHz, double{kClipHz}}, &recording);
    // Each at half its half-scale level: 0.25 on the cable.
    EXPECT_GT(testing::ToneAmplitude(recording, kClipHz), 0.2) << "the clip";
    EXPECT_GT(testing::ToneAmplitude(recording, kMicrophoneHz), 0.2) << "the voice beside it";
    ExpectBreakCounts(machine_breaks);
    Reply stopped = Post("/api/mixer/stop");
    ASSERT_EQ(stopped.status, 200) << stopped.raw;
    StopProgram();
  }

  // Thirty seconds of "CABLE Output": any break fails, but one the machine caused, which is
  // printed; returns how many those were.
  size_t ListenOnCable(const char* what, const std::vector<double>& tones,
                       std::vector<float>* recording) {
    std::vector<float> samples;
    std::vector<testing::BreakBesideStop> breaks;
    {
      testing::QueuePoll queue([this] {
        return StatusNumber(Post("/api/mixer/status").body, {"audio_road", "output", "queue_ms"});
      });
      testing::TimedRecording cable("cable_output");
      std::this_thread::sleep_for(30s);
      samples = cable.Finish();
      breaks = testing::LayBesideStops(testing::FindToneBreaks(samples, tones), cable,
                                       testing::kCableRoad, probe_, queue);
    }
    EXPECT_GE(samples.size(), size_t{2 * 48000 * 29}) << what;
    size_t machine_breaks = 0;
    std::string engine_breaks;
    for (const testing::BreakBesideStop& beside : breaks) {
      if (beside.MachineCaused()) {
        ++machine_breaks;
        std::printf("%s: a break the machine caused: %s\n", what, beside.Describe().c_str());
      } else {
        engine_breaks += "\n  " + beside.Describe();
      }
    }
    EXPECT_TRUE(engine_breaks.empty()) << what << ":" << engine_breaks << EngineLog();
    if (recording != nullptr) *recording = std::move(samples);
    return machine_breaks;
  }

  // A number of the status, by its path under "mixer"; NaN when it is not there.
  static double StatusNumber(const JsonValue& status, std::initializer_list<const char*> path) {
    const JsonValue* value = status.Find("mixer");
    for (const char* key : path) value = value != nullptr ? value->Find(key) : nullptr;
    if (value == nullptr || value->type != JsonValue::Type::Number) {
      return std::numeric_limits<double>::quiet_NaN();
    }
    return value->number_value;
  }

  // Each device's count of breaks is in the status, and the total is theirs: none at all, or,
  // where the machine broke the voice, the engine saw it.
  void ExpectBreakCounts(size_t machine_breaks) const {
    JsonValue status = Post("/api/mixer/status").body;
    double counted[4];
    const char* devices[] = {"microphone", "output", "monitor", "total"};
    for (size_t i = 0; i < 4; ++i) {
      counted[i] = StatusNumber(status, {"dropouts", devices[i]});
      ASSERT_FALSE(std::isnan(counted[i])) << "the status has no dropouts." << devices[i];
    }
    EXPECT_EQ(counted[3], counted[0] + counted[1] + counted[2]);
    if (machine_breaks == 0) {
      EXPECT_EQ(counted[3], 0.0) << EngineLog();
    } else {
      EXPECT_GE(counted[0] + counted[1], 1.0) << "the breaks the machine caused went uncounted";
    }
  }

  testing::MachineStallProbe probe_;
};

TEST_F(VoiceContinuity, TheVoiceOnTheCableNeverJumpsOrFallsSilent) { ListenForBreaks(); }

TEST_F(VoiceContinuity, EveryCoreBusyLeavesTheVoiceWhole) {
  BusyCores busy;
  ListenForBreaks();
}

}  // namespace
}  // namespace zennic
