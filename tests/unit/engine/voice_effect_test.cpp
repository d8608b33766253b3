#include "engine/voice_effect.h"

#include <gtest/gtest.h>

#include <cctype>
#include <cmath>
#include <complex>
#include <fstream>
#include <limits>
#include <numbers>
#include <sstream>
#include <vector>

namespace zennic {
namespace {

// The section's gain at one frequency, from its coefficients.
double GainAt(const BiquadSection& s, double frequency) {
  std::complex<double> z = std::polar(1.0, -2.0 * std::numbers::pi * frequency / 48000.0);
  std::complex<double> numerator = s.b0 + s.b1 * z + s.b2 * z * z;
  std::complex<double> denominator = 1.0 + s.a1 * z + s.a2 * z * z;
  return std::abs(numerator / denominator);
}

double Decibels(double gain) { return 20.0 * std::log10(gain); }

MixerSettings Effect(const std::string& preset, const std::string& strength = "medium") {
  MixerSettings settings;
  settings.voice_effects_enabled = true;
  settings.voice_effect_preset = preset;
  settings.voice_effect_strength = strength;
  return settings;
}

std::vector<float> Sine(double frequency, float amplitude, uint32_t frames) {
  std::vector<float> samples;
  for (uint32_t i = 0; i < frames; ++i) {
    auto value = static_cast<float>(amplitude * std::sin(2 * std::numbers::pi * frequency * i / 48000));
    samples.push_back(value);
    samples.push_back(value);
  }
  return samples;
}

std::vector<float> Processed(const MixerSettings& settings, std::vector<float> samples) {
  VoiceEffectProcessor processor;
  ApplyVoiceEffect(&processor, samples.data(), static_cast<uint32_t>(samples.size() / 2), settings);
  return samples;
}

TEST(VoiceEffectSections, TheDesignersShapeTheSpectrumTheWayTheirNamesSay) {
  BiquadSection high_pass = MakeHighPass(1000, 0.707);
  EXPECT_LT(Decibels(GainAt(high_pass, 100)), -35);
  EXPECT_NEAR(Decibels(GainAt(high_pass, 1000)), -3.0, 0.1);
  EXPECT_NEAR(GainAt(high_pass, 15000), 1.0, 0.01);

  BiquadSection low_pass = MakeLowPass(1000, 0.707);
  EXPECT_NEAR(GainAt(low_pass, 20), 1.0, 0.01);
  EXPECT_LT(Decibels(GainAt(low_pass, 10000)), -35);

  EXPECT_NEAR(Decibels(GainAt(MakePeakingEq(1000, 1.0, 6.0), 1000)), 6.0, 0.01);
  EXPECT_NEAR(Decibels(GainAt(MakePeakingEq(1000, 1.0, -6.0), 1000)), -6.0, 0.01);
  EXPECT_NEAR(GainAt(MakePeakingEq(1000, 1.0, 6.0), 20000), 1.0, 0.02);

  BiquadSection low_shelf = MakeLowShelf(200, 1.0, 6.0);
  EXPECT_NEAR(Decibels(GainAt(low_shelf, 20)), 6.0, 0.1);
  EXPECT_NEAR(Decibels(GainAt(low_shelf, 10000)), 0.0, 0.1);
  BiquadSection high_shelf = MakeHighShelf(5000, 1.0, -6.0);
  EXPECT_NEAR(Decibels(GainAt(high_shelf, 100)), 0.0, 0.1);
  EXPECT_NEAR(Decibels(GainAt(high_shelf, 20000)), -6.0, 0.3);
}

TEST(VoiceEffectSections, FlatOrDegenerateDesignsPassThrough) {
  EXPECT_FALSE(MakePeakingEq(1000, 1.0, 0.00001).enabled);
  EXPECT_FALSE(MakeLowShelf(1000, 1.0, 0.0).enabled);
  EXPECT_FALSE(SetBiquadCoefficients(1, 2, 3, 0, 1, 1).enabled);
  EXPECT_FALSE(SetBiquadCoefficients(1, 2, 3, std::numeric_limits<double>::infinity(), 1, 1).enabled);
  // Out-of-range frequencies and Q are brought into range rather than producing NaN.
  BiquadSection extreme = MakeHighPass(1e9, 0.0);
  EXPECT_TRUE(extreme.enabled);
  EXPECT_TRUE(std::isfinite(extreme.b0) && std::isfinite(extreme.a1));
}

TEST(VoiceEffect, OffOrAnUnknownPresetLeavesTheMicrophoneUntouched) {
  std::vector<float> loud = Sine(440, 1.5f, 480);
  MixerSettings off = Effect("radio");
  off.voice_effects_enabled = false;
  EXPECT_EQ(Processed(off, loud), loud);
  EXPECT_EQ(Processed(Effect("robot"), loud), loud);

  // Turning the effect off after it ran passes the next block through unchanged.
  VoiceEffectProcessor processor;
  std::vector<float> block = loud;
  ApplyVoiceEffect(&processor, block.data(), 480, Effect("radio"));
  block = loud;
  ApplyVoiceEffect(&processor, block.data(), 480, off);
  EXPECT_EQ(block, loud);
}

TEST(VoiceEffect, NamesAreReadTrimmedInAnyCaseWithTheOlderStrengthNames) {
  EXPECT_EQ(VoiceEffectPresetIndex(Effect("  Radio ")), 5u);
  EXPECT_EQ(VoiceEffectPresetIndex(Effect("CUSTOM")), 6u);
  EXPECT_EQ(VoiceEffectStrengthIndex("subtle"), 0u);
  EXPECT_EQ(VoiceEffectStrengthIndex(" Strong"), 2u);
  EXPECT_EQ(VoiceEffectStrengthIndex("extreme"), 1u);
  std::vector<float> voice = Sine(700, 0.5f, 960);
  EXPECT_EQ(Processed(Effect(" WARM ", "Subtle"), voice), Processed(Effect("warm", "low"), voice));
}

TEST(VoiceEffect, EveryPresetAndStrengthKeepsTheOutputWithinTheLimit) {
  std::vector<float> voice = Sine(180, 1.0f, 4800);
  for (size_t i = 0; i < voice.size(); i += 97) voice[i] = 1.0f;  // sharp peaks on top
  for (const char* preset : {"clean", "warm", "bright", "deep", "radio", "custom"}) {
    for (const char* strength : {"low", "medium", "high"}) {
      MixerSettings settings = Effect(preset, strength);
      settings.voice_effect_custom_values = {0.0, 1.0, 1.0, 1.0, 1.0};
      for (float sample : Processed(settings, voice)) {
        ASSERT_LE(std::abs(sample), 0.98f) << preset << " " << strength;
      }
    }
  }
}

TEST(VoiceEffect, ASampleThatIsNotFiniteBecomesSilenceWithoutHarmingWhatFollows) {
  std::vector<float> voice = Sine(300, 0.4f, 960);
  std::vector<float> with_nan = voice;
  with_nan[200] = std::numeric_limits<float>::quiet_NaN();
  with_nan[201] = std::numeric_limits<float>::infinity();
  std::vector<float> with_zero = voice;
  with_zero[200] = 0.0f;
  with_zero[201] = 0.0f;
  std::vector<float> a = Processed(Effect("deep"), with_nan);
  std::vector<float> b = Processed(Effect("deep"), with_zero);
  EXPECT_EQ(a[200], b[200]);
  EXPECT_EQ(a, b);
  for (float sample : a) EXPECT_TRUE(std::isfinite(sample));
}

TEST(VoiceEffect, CustomValuesChooseTheSectionsAndAreClampedOrDefaulted) {
  VoiceEffectProcessor processor;
  ConfigureVoiceEffect(&processor, 6, 1, {0.5, 0.0, 0.5, 0.02, 0.5});
  EXPECT_FALSE(processor.sections[1].enabled);
  ConfigureVoiceEffect(&processor, 6, 1, {0.5, 0.0, 0.5, 0.5, 0.5});
  EXPECT_TRUE(processor.sections[1].enabled);
  BiquadSection expected = MakePeakingEq(1150, 0.8, 6.5 * 0.5 + 8.0 * 0.5);
  EXPECT_DOUBLE_EQ(processor.sections[3].b0, expected.b0);
  EXPECT_DOUBLE_EQ(processor.sections[3].a1, expected.a1);

  const double nan = std::numeric_limits<double>::quiet_NaN();
  VoiceEffectProcessor odd;
  ConfigureVoiceEffect(&odd, 6, 1, {nan, nan, 1.7, nan, -3.0});
  VoiceEffectProcessor plain;
  ConfigureVoiceEffect(&plain, 6, 1, {0.5, 0.0, 1.0, 0.0, 0.0});
  EXPECT_EQ(odd.custom_values, plain.custom_values);
  EXPECT_DOUBLE_EQ(odd.dynamics.ratio, plain.dynamics.ratio);
  EXPECT_DOUBLE_EQ(odd.dynamics.output_gain, 0.65);

  // The strength plays no part in "custom".
  VoiceEffectProcessor strong;
  ConfigureVoiceEffect(&strong, 6, 2, {0.5, 0.0, 1.0, 0.0, 0.0});
  EXPECT_DOUBLE_EQ(strong.sections[2].b0, plain.sections[2].b0);
}

TEST(VoiceEffect, OnlyAChangedSettingRestartsTheFilters) {
  VoiceEffectProcessor processor;
  std::vector<float> voice = Sine(250, 0.5f, 480);
  std::vector<float> block = voice;
  ApplyVoiceEffect(&processor, block.data(), 480, Effect("warm"));
  ASSERT_NE(processor.sections[1].z1[0], 0.0);

  // The same settings again: the filters keep their memory.
  double kept = processor.sections[1].z1[0];
  ConfigureVoiceEffect(&processor, 2, 1, MixerSettings().voice_effect_custom_values);
  EXPECT_EQ(processor.sections[1].z1[0], kept);

  ConfigureVoiceEffect(&processor, 2, 2, MixerSettings().voice_effect_custom_values);
  EXPECT_EQ(processor.sections[1].z1[0], 0.0);
  EXPECT_EQ(processor.envelope[0], 0.0);
  EXPECT_EQ(processor.strength_index, 2u);
}

// The reference input: 100 ms of a voice-like signal whose level rises from a whisper to past
// full scale, so the filters, the compressor, the saturation and the limit all have work.
std::vector<float> ReferenceInput() {
  constexpr uint32_t kFrames = 4800;
  std::vector<float> samples;
  uint32_t noise = 12345;
  for (uint32_t i = 0; i < kFrames; ++i) {
    const double t = i / 48000.0;
    const double level = 0.02 + 1.3 * i / kFrames;
    noise = noise * 1664525u + 1013904223u;
    const double hiss = (static_cast<double>(noise >> 8) / 16777216.0 - 0.5) * 0.1;
    const double w = 2 * std::numbers::pi * t;
    double left =
        level * (0.6 * std::sin(180 * w) + 0.3 * std::sin(1250 * w) + 0.1 * std::sin(5400 * w)) +
        hiss;
    double right = level * (0.5 * std::sin(240 * w + 1) + 0.4 * std::sin(2900 * w)) - hiss;
    samples.push_back(static_cast<float>(left));
    samples.push_back(static_cast<float>(right));
  }
  return samples;
}

// Every preset must sound as it did before the chain was rewritten for speed: the difference
// from the kept output stays 80 dB below it.
TEST(VoiceEffect, EveryPresetSoundsAsItDidWithinMinus80Decibels) {
  std::ifstream fixture(std::string(ZENNIC_SOURCE_DIR) +
                        "/tests/unit/engine/voice_effect_reference.txt");
  ASSERT_TRUE(fixture.is_open());
  std::string line;
  int cases = 0;
  while (std::getline(fixture, line)) {
    if (line.empty() || line[0] == '#' || !std::isalpha(static_cast<unsigned char>(line[0]))) {
      continue;
    }
    std::istringstream header(line);
    MixerSettings settings = Effect("", "");
    VoiceEffectCustomValues& v = settings.voice_effect_custom_values;
    header >> settings.voice_effect_preset >> settings.voice_effect_strength >> v.tone >>
        v.depth >> v.clarity >> v.radio >> v.output_level;
    SCOPED_TRACE(line);
    std::vector<float> samples = ReferenceInput();
    VoiceEffectProcessor processor;
    for (size_t frame = 0; frame < samples.size() / 2; frame += 480) {
      ApplyVoiceEffect(&processor, samples.data() + 2 * frame, 480, settings);
    }
    double error = 0;
    double signal = 0;
    for (size_t frame = 0; frame < samples.size() / 2; frame += 48) {
      for (int channel = 0; channel < 2; ++channel) {
        double expected = 0;
        fixture >> expected;
        error += std::pow(samples[2 * frame + channel] - expected, 2);
        signal += expected * expected;
      }
    }
    ASSERT_FALSE(fixture.fail());
    EXPECT_LT(10 * std::log10(error / signal), -80.0);
    ++cases;
  }
  EXPECT_EQ(cases, 7);
}

TEST(VoiceEffect, TheRadioPresetCutsTheLowsAndKeepsThePresence) {
  std::vector<float> low = Processed(Effect("radio"), Sine(100, 0.05f, 9600));
  std::vector<float> mid = Processed(Effect("radio"), Sine(1000, 0.05f, 9600));
  auto peak = [](const std::vector<float>& samples) {
    float most = 0;
    for (size_t i = samples.size() / 2; i < samples.size(); ++i) most = std::max(most, std::abs(samples[i]));
    return most;
  };
  EXPECT_LT(peak(low) * 10, peak(mid));
}

}  // namespace
}  // namespace zennic
