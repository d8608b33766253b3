#include "windows_audio/tone_detection.h"

#include <gtest/gtest.h>

#include <cmath>
#include <numbers>
#include <random>

namespace zennic {
namespace {

// `seconds` of the test signal as the cable would deliver it, `delay_ms` late.
std::vector<float> Recording(uint32_t rate, double seconds, int delay_ms) {
  std::vector<float> samples(static_cast<size_t>(rate * seconds));
  size_t delay = size_t{rate} * static_cast<size_t>(delay_ms) / 1000;
  for (size_t i = delay; i < samples.size(); ++i) {
    samples[i] = TwoToneTestSignalValue(i - delay, rate);
  }
  return samples;
}

// The first 600 ms of the signal with its two halves swapped, or one of them silenced.
std::vector<float> Rearranged(uint32_t rate, bool swap, bool drop_second) {
  std::vector<float> signal = Recording(rate, 0.95, 0);
  size_t half = size_t{rate} * 275 / 1000;  // between the tones
  std::vector<float> result(signal.size(), 0.0f);
  for (size_t i = 0; i < half; ++i) {
    result[swap ? i + half : i] = signal[i];
    if (!drop_second) result[swap ? i : i + half] = signal[i + half];
  }
  return result;
}

std::vector<float> WhiteNoise(uint32_t rate, double rms) {
  std::mt19937 generator(7);
  std::normal_distribution<float> noise(0.0f, static_cast<float>(rms));
  std::vector<float> samples(rate);
  for (float& sample : samples) sample = noise(generator);
  return samples;
}

TEST(ToneDetection, FindsBothTonesInOrderAndNothingElse) {
  struct Case {
    const char* what;
    std::vector<float> samples;
    int64_t rate;
    bool detected;
  };
  const Case cases[] = {
      {"48 kHz", Recording(48000, 0.95, 40), 48000, true},
      {"44.1 kHz", Recording(44100, 0.95, 120), 44100, true},
      {"only the first tone", Rearranged(48000, false, true), 48000, false},
      {"the tones reversed", Rearranged(48000, true, false), 48000, false},
      {"white noise", WhiteNoise(48000, 0.01), 48000, false},
      {"silence", std::vector<float>(48000, 0.0f), 48000, false},
      {"empty", {}, 48000, false},
      {"shorter than a third of a second", Recording(48000, 0.3, 0), 48000, false},
      {"no rate", Recording(48000, 0.95, 0), 0, false},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(DetectTwoToneSequence(c.samples, c.rate), c.detected) << c.what;
  }
}

TEST(ToneDetection, TheBinMeasuresASineAtItsAmplitude) {
  std::vector<float> samples(4800);
  for (size_t i = 0; i < samples.size(); ++i) {
    samples[i] = 0.25f * static_cast<float>(std::sin(2 * std::numbers::pi * 1000.0 * i / 48000));
  }
  samples[10] = NAN;
  double rms = 0;
  EXPECT_NEAR(MeasureToneBin(samples, 0, 4800, 48000, 1000.0, &rms), 0.25, 0.001);
  EXPECT_NEAR(rms, 0.25 / std::sqrt(2.0), 0.001);
  EXPECT_LT(MeasureToneBin(samples, 0, 4800, 48000, 1500.0, nullptr), 0.001);
  EXPECT_EQ(MeasureToneBin(samples, 4000, 801, 48000, 1000.0, &rms), 0.0);
  EXPECT_EQ(rms, 0.0);
}

}  // namespace
}  // namespace zennic
