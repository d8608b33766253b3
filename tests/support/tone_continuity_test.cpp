// The listener the listening tests and the latency benchmark share: a break it splits in two is
// laid beside the wrong stop and counted twice against the engine's one.

#include "support/tone_continuity.h"

#include <gtest/gtest.h>

#include <cmath>
#include <numbers>
#include <vector>

namespace zennic::testing {
namespace {

constexpr double kRate = 48000.0;

// Two seconds of a 440 Hz voice and a 1 kHz clip at a quarter scale each, stereo; `voice_at`
// gives the voice's own frame for each frame of the recording, or -1 where it is gone, and
// `clip_plays` whether the clip is there.
template <typename VoiceAt, typename ClipPlays>
std::vector<float> VoiceAndClip(VoiceAt voice_at, ClipPlays clip_plays) {
  std::vector<float> stereo;
  for (long frame = 0; frame < 2 * 48000; ++frame) {
    double value = 0.0;
    if (double voice = voice_at(frame); voice >= 0) {
      value += 0.25 * std::sin(2 * std::numbers::pi * 440.0 * voice / kRate);
    }
    if (clip_plays(frame)) {
      value += 0.25 * std::sin(2 * std::numbers::pi * 1000.0 * static_cast<double>(frame) / kRate);
    }
    stereo.push_back(static_cast<float>(value));
    stereo.push_back(static_cast<float>(value));
  }
  return stereo;
}

TEST(ToneContinuity, AToneGapUnderTheOtherToneIsOneBreak) {
  constexpr long kGapStart = 48000, kGapFrames = 1248;  // 26 ms
  auto in_gap = [](long frame) { return frame >= kGapStart && frame < kGapStart + kGapFrames; };
  auto always = [](long) { return true; };
  struct Case {
    const char* what;
    std::vector<float> recording;
    size_t heard;
    double missing_tone;  // of the first heard break; 0 for none
  } cases[] = {
      {"the voice gone 26 ms, back at its place",
       VoiceAndClip([&](long frame) { return in_gap(frame) ? -1 : frame; }, always), 1, 440.0},
      {"the voice gone 26 ms, back realigned 7 ms on",
       VoiceAndClip(
           [&](long frame) { return in_gap(frame) ? -1 : frame < kGapStart ? frame : frame + 336; },
           always),
       1, 440.0},
      {"the clip gone 40 ms under the voice",
       VoiceAndClip([](long frame) { return frame; },
                    [](long frame) { return frame < kGapStart || frame >= kGapStart + 1920; }),
       1, 1000.0},
      {"two jumps of the voice 40 ms apart, the voice whole between them",
       VoiceAndClip(
           [](long frame) {
             return frame < kGapStart ? frame : frame < kGapStart + 1920 ? frame + 100 : frame + 250;
           },
           always),
       2, 0.0},
      {"two jumps of the voice 1.5 s apart, the voice read a turn of its phase fast between them",
       VoiceAndClip(
           [](long frame) {
             return frame < 14400   ? frame
                    : frame < 86400 ? 14500 + (frame - 14400) * (1.0 + 1.0 / (440.0 * 1.5))
                                    : frame + 400.0;
           },
           always),
       2, 0.0},
  };
  for (const Case& one : cases) {
    std::vector<HeardBreak> heard = HeardBreaks(FindToneBreaks(one.recording, {440.0, 1000.0}));
    ASSERT_EQ(heard.size(), one.heard) << one.what;
    if (one.missing_tone == 0.0) {
      EXPECT_EQ(heard.front().tone_missing_ms, 0.0) << one.what;
      continue;
    }
    EXPECT_EQ(heard.front().missing_tones, std::vector<double>{one.missing_tone}) << one.what;
    EXPECT_NEAR(heard.front().to_seconds - heard.front().from_seconds,
                static_cast<double>(one.missing_tone == 440.0 ? kGapFrames : 1920) / kRate, 0.002)
        << one.what;
  }
}

}  // namespace
}  // namespace zennic::testing
