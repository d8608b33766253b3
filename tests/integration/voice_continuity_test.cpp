// The voice that reaches the game through the built program, on the virtual cable as users make
// one (a plain null sink, nothing else clocking it): whatever the clocks do, it never jumps and
// never falls silent, on a quiet machine and on one whose every core is busy. A sine's
// recurrence finds any break, sample by sample.

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "integration/mixer_api_fixture.h"
#include "support/temp_folder.h"
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
    ASSERT_EQ(Post("/api/mixer/start").status, 200);
    testing::ToneBreaks voice =
        testing::FindToneBreaks(audio_.Record("cable_output", 30.0), {kMicrophoneHz});
    EXPECT_TRUE(voice.empty()) << "the voice alone: " << voice.Describe() << EngineLog();

    ASSERT_EQ(Post("/api/mixer/monitor_enable", R"({"enabled": true})").status, 200);
    ASSERT_EQ(Post("/api/mixer/ptt/start").status, 200);
    // The clip's own start is a jump in the tones, not a break.
    std::this_thread::sleep_for(200ms);
    std::vector<float> recording = audio_.Record("cable_output", 30.0);
    testing::ToneBreaks mixed =
        testing::FindToneBreaks(recording, {kMicrophoneHz, double{kClipHz}});
    EXPECT_TRUE(mixed.empty()) << "with the monitor on and a clip looping: " << mixed.Describe()
                               << EngineLog();
    // The clip plays at half its half-scale level: 0.25 on the cable.
    EXPECT_GT(testing::ToneAmplitude(recording, kClipHz), 0.2);
    EXPECT_EQ(Post("/api/mixer/status").body["mixer"]["dropouts"]["total"].number_value, 0.0)
        << EngineLog();
    Reply stopped = Post("/api/mixer/stop");
    ASSERT_EQ(stopped.status, 200) << stopped.raw;
    StopProgram();
  }

  // What the engine logged meanwhile (breaks by cause, margins), to tell its breaks from others.
  std::string EngineLog() const {
    std::istringstream log(testing::ReadFile(DataFolder() / "logs" / "app.log"));
    std::string lines;
    for (std::string line; std::getline(log, line);) {
      if (line.find("[MixerEngine]") != std::string::npos) lines += "\n  " + line;
    }
    return lines;
  }
};

TEST_F(VoiceContinuity, TheVoiceOnTheCableNeverJumpsOrFallsSilent) { ListenForBreaks(); }

TEST_F(VoiceContinuity, EveryCoreBusyLeavesTheVoiceWhole) {
  BusyCores busy;
  ListenForBreaks();
}

}  // namespace
}  // namespace zennic
