// The voice that reaches the game through the built program, on the virtual cable as users make
// one (a plain null sink, nothing else clocking it): whatever the clocks do, it never jumps and
// never falls silent, on a quiet machine and on one whose every core is busy; nor does the clip
// on the monitor beside it, and the counts in the status are the breaks heard. A sine's
// recurrence finds any break, sample by sample. The one break set aside is one the machine made:
// the cores a device's threads ran on stopped, one after another, longer than the queue the
// engine kept could cover; it is printed with the threads that stood still, how long, and the
// queue.

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "integration/listening_fixture.h"
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

class VoiceContinuity : public testing::ListeningFixture {
 protected:
  // A device the test listens to: the source that records it, what it carries, and where the
  // status keeps its queue and its count.
  struct Ear {
    const char* source;
    const char* status_device;
    const testing::Road* road;
    std::vector<double> tones;
  };
  // What one ear heard: its recording and its breaks, those clear of the counts' reads apart
  // from those near one, which may have been counted on either side of it.
  struct Heard {
    std::vector<float> samples;
    size_t breaks = 0;
    size_t breaks_near_a_read = 0;
  };
  // The devices' counts of breaks in the status.
  struct Counts {
    double microphone = 0, output = 0, monitor = 0;
    Counts operator-(const Counts& before) const {
      return {microphone - before.microphone, output - before.output, monitor - before.monitor};
    }
    void operator+=(const Counts& more) {
      microphone += more.microphone;
      output += more.output;
      monitor += more.monitor;
    }
  };

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
    StartFollowedProgram();
    ASSERT_EQ(Post("/api/mixer/start").status, 200);
    const Ear voice{"cable_output", "output", &testing::kCableRoad, {kMicrophoneHz}};
    // What the counts gained while the test listened: a break between the two halves is counted
    // but not heard.
    Counts counted;
    Heard cable_heard = Listen("the voice alone", {voice}, &counted)[0];

    ASSERT_EQ(Post("/api/mixer/monitor_enable", R"({"enabled": true})").status, 200);
    ASSERT_EQ(Post("/api/mixer/ptt/start").status, 200);
    // The clip's own start is a jump in the tones, not a break.
    std::this_thread::sleep_for(200ms);
    const Ear cable{"cable_output", "output", &testing::kCableRoad,
                    {kMicrophoneHz, double{kClipHz}}};
    const Ear monitor{"headphones.monitor", "monitor", &testing::kMonitorRoad, {double{kClipHz}}};
    std::vector<Heard> heard =
        Listen("with the monitor on and a clip looping", {cable, monitor}, &counted);
    cable_heard.breaks += heard[0].breaks;
    cable_heard.breaks_near_a_read += heard[0].breaks_near_a_read;
    // Each at half its half-scale level: 0.25 on the cable.
    EXPECT_GT(testing::ToneAmplitude(heard[0].samples, kClipHz), 0.2) << "the clip";
    EXPECT_GT(testing::ToneAmplitude(heard[0].samples, kMicrophoneHz), 0.2)
        << "the voice beside it";
    ExpectBreakCounts(counted, cable_heard, heard[1]);
    Reply stopped = Post("/api/mixer/stop");
    ASSERT_EQ(stopped.status, 200) << stopped.raw;
    StopProgram();
  }

  // Thirty seconds of each of `ears` at once: any break fails, but one the machine caused, which
  // is printed. Adds what the counts gained meanwhile to `counted`.
  std::vector<Heard> Listen(const char* what, const std::vector<Ear>& ears, Counts* counted) {
    // A break is counted up to a queue before it is heard (a late microphone, when the tick is
    // mixed) or a little after (an output that ran dry). The counts are read well inside the
    // recordings, so that every break counted is on them.
    constexpr auto kCountToEar = 250ms;
    std::vector<std::unique_ptr<testing::QueuePoll>> queues;
    std::vector<std::unique_ptr<testing::TimedRecording>> recordings;
    for (const Ear& ear : ears) {
      queues.push_back(PollQueue(ear.status_device));
      recordings.push_back(std::make_unique<testing::TimedRecording>(ear.source));
    }
    std::this_thread::sleep_for(2 * kCountToEar);
    const auto counted_from = testing::TimedRecording::Clock::now();
    const Counts before = ReadCounts();
    std::this_thread::sleep_for(30s);
    *counted += ReadCounts() - before;
    const auto counted_until = testing::TimedRecording::Clock::now();
    std::this_thread::sleep_for(2 * kCountToEar);
    std::vector<Heard> heard(ears.size());
    for (size_t i = 0; i < ears.size(); ++i) heard[i].samples = recordings[i]->Finish();
    for (size_t i = 0; i < ears.size(); ++i) {
      const Ear& ear = ears[i];
      EXPECT_GE(heard[i].samples.size(), size_t{2 * 48000 * 30}) << what << ", " << ear.source;
      for (const testing::BreakBesideStop& found : ExpectNoBreakButTheMachines(
               std::string(what) + ", " + ear.source,
               testing::FindToneBreaks(heard[i].samples, ear.tones), *recordings[i], *ear.road,
               *queues[i])) {
        const auto at = recordings[i]->TimeOf(found.heard.from_seconds);
        const bool clear_of_the_reads =
            at > counted_from + kCountToEar && at < counted_until - kCountToEar;
        ++(clear_of_the_reads ? heard[i].breaks : heard[i].breaks_near_a_read);
      }
    }
    return heard;
  }

  // Each device's count of breaks is in the status, and the total is theirs.
  Counts ReadCounts() const {
    JsonValue status = Post("/api/mixer/status").body;
    const Counts counts{StatusNumber(status, {"dropouts", "microphone"}),
                        StatusNumber(status, {"dropouts", "output"}),
                        StatusNumber(status, {"dropouts", "monitor"})};
    // A count missing from the status is NaN, which equals nothing.
    EXPECT_EQ(StatusNumber(status, {"dropouts", "total"}),
              counts.microphone + counts.output + counts.monitor)
        << "the status's dropouts";
    return counts;
  }

  // Each road's count answers what was heard on it: none where nothing broke, and where it
  // broke clear of the counts' reads, the engine saw it. The cable carries the microphone's
  // breaks as well as its own.
  void ExpectBreakCounts(const Counts& counted, const Heard& cable, const Heard& monitor) const {
    auto expect_road = [this](const char* road, double count, const Heard& heard) {
      if (heard.breaks > 0) {
        EXPECT_GE(count, 1.0) << "the breaks heard on " << road << " went uncounted";
      } else if (heard.breaks_near_a_read == 0) {
        EXPECT_EQ(count, 0.0) << road << " had no break" << EngineLog();
      }
    };
    expect_road("the cable", counted.microphone + counted.output, cable);
    expect_road("the monitor", counted.monitor, monitor);
  }
};

TEST_F(VoiceContinuity, TheVoiceOnTheCableNeverJumpsOrFallsSilent) { ListenForBreaks(); }

TEST_F(VoiceContinuity, EveryCoreBusyLeavesTheVoiceWhole) {
  BusyCores busy;
  ListenForBreaks();
}

}  // namespace
}  // namespace zennic
