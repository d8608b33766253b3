// The voice that reaches the game through the built program, on the virtual cable as users make
// one (a plain null sink, nothing else clocking it): whatever the clocks do, it never jumps and
// never falls silent. A sine's recurrence finds any break, sample by sample.

#include <gtest/gtest.h>

#include <sstream>
#include <string>
#include <thread>

#include "integration/mixer_api_fixture.h"
#include "support/temp_folder.h"
#include "support/tone_continuity.h"

namespace zennic {
namespace {

using namespace std::chrono_literals;

constexpr double kMicrophoneHz = 440.0;  // the virtual microphone's tone
constexpr int kClipHz = 1000;

class VoiceContinuity : public testing::MixerApiFixture {
 protected:
  // What the engine logged meanwhile (late deliveries, stalls), to tell its breaks from others.
  std::string EngineLog() const {
    std::istringstream log(testing::ReadFile(DataFolder() / "logs" / "app.log"));
    std::string lines;
    for (std::string line; std::getline(log, line);) {
      if (line.find("[MixerEngine]") != std::string::npos) lines += "\n  " + line;
    }
    return lines;
  }
};

TEST_F(VoiceContinuity, TheVoiceOnTheCableNeverJumpsOrFallsSilent) {
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
  // The devices' first moments, before any voice was on the cable, are the run's start.
  std::this_thread::sleep_for(1s);
  testing::ToneBreaks voice =
      testing::FindToneBreaks(audio_.Record("cable_output", 30.0), {kMicrophoneHz});
  EXPECT_TRUE(voice.empty()) << "the voice alone: " << voice.Describe() << EngineLog();

  ASSERT_EQ(Post("/api/mixer/monitor_enable", R"({"enabled": true})").status, 200);
  ASSERT_EQ(Post("/api/mixer/ptt/start").status, 200);
  std::this_thread::sleep_for(200ms);
  testing::ToneBreaks mixed = testing::FindToneBreaks(audio_.Record("cable_output", 30.0),
                                                      {kMicrophoneHz, double{kClipHz}});
  EXPECT_TRUE(mixed.empty()) << "with the monitor on and a clip looping: " << mixed.Describe()
                             << EngineLog();
  ASSERT_EQ(Post("/api/mixer/stop").status, 200);
  StopProgram();
}

}  // namespace
}  // namespace zennic
