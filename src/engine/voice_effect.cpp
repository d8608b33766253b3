#include "engine/voice_effect.h"

#include <algorithm>
#include <cmath>
#include <numbers>

namespace zennic {
namespace {

constexpr double kSampleRate = 48000.0;
constexpr double kCustomValueTolerance = 0.000001;
constexpr double kFlatGainDb = 0.0001;
constexpr float kLimit = 0.98f;

struct SectionAngle {
  double cos_w0;
  double sin_w0;
};

SectionAngle AngleOf(double frequency) {
  double w0 = 2.0 * std::numbers::pi * std::clamp(frequency, 20.0, 20000.0) / kSampleRate;
  return {std::cos(w0), std::sin(w0)};
}

double StrengthFactor(uint32_t strength_index) {
  switch (strength_index) {
    case 0:
      return 0.75;
    case 2:
      return 1.65;
    default:
      return 1.15;
  }
}

bool SameCustomValues(const VoiceEffectCustomValues& a, const VoiceEffectCustomValues& b) {
  auto close = [](double x, double y) { return std::abs(x - y) < kCustomValueTolerance; };
  return close(a.tone, b.tone) && close(a.depth, b.depth) && close(a.clarity, b.clarity) &&
         close(a.radio, b.radio) && close(a.output_level, b.output_level);
}

void DesignSections(std::array<BiquadSection, VoiceEffectProcessor::kSectionCount>* sections,
                    uint32_t preset_index, uint32_t strength_index,
                    const VoiceEffectCustomValues& v) {
  auto& s = *sections;
  const double k = StrengthFactor(strength_index);
  switch (preset_index) {
    case 1:  // clean
      s[0] = MakeHighPass(95, 0.707);
      s[1] = MakePeakingEq(2800, 0.9, 2.2 * k);
      s[2] = MakePeakingEq(4300, 0.8, 1.5 * k);
      s[3] = MakeHighShelf(7500, 1.0, 0.8 * k);
      break;
    case 2:  // warm
      s[0] = MakeHighPass(65, 0.707);
      s[1] = MakeLowShelf(185, 0.85, 5.0 * k);
      s[2] = MakePeakingEq(260, 1.0, 2.3 * k);
      s[3] = MakePeakingEq(2800, 1.0, -1.2 * k);
      s[4] = MakeHighShelf(5200, 1.0, -3.0 * k);
      break;
    case 3:  // bright
      s[0] = MakeHighPass(125, 0.707);
      s[1] = MakeLowShelf(180, 1.0, -1.8 * k);
      s[2] = MakePeakingEq(3300, 0.82, 4.2 * k);
      s[3] = MakePeakingEq(5200, 0.9, 2.6 * k);
      s[4] = MakeHighShelf(6800, 1.0, 2.4 * k);
      break;
    case 4:  // deep
      s[0] = MakeHighPass(42, 0.707);
      s[1] = MakeLowShelf(155, 0.78, 7.0 * k);
      s[2] = MakePeakingEq(210, 0.85, 3.8 * k);
      s[3] = MakeHighShelf(2500, 0.9, -5.6 * k);
      s[4] = MakeLowPass(4300 - 650 * k, 0.707);
      break;
    case 5:  // radio
      s[0] = MakeHighPass(520 + 80 * k, 0.707);
      s[1] = MakeLowPass(2800 - 280 * k, 0.707);
      s[2] = MakePeakingEq(950, 0.8, 7.8 * k);
      s[3] = MakePeakingEq(1850, 1.0, 3.4 * k);
      s[4] = MakeHighShelf(3200, 0.8, -5.5 * k);
      break;
    case 6: {  // custom: the strength plays no part
      const double bright = std::max(0.0, 2 * v.tone - 1);
      const double warm = std::max(0.0, 1 - 2 * v.tone);
      s[0] = MakeHighPass(70 + 520 * v.radio, 0.707);
      if (v.radio > 0.02) s[1] = MakeLowPass(5200 - 2900 * v.radio, 0.707);
      s[2] = MakeLowShelf(175, 0.85, 4.0 * warm + 7.0 * v.depth - 1.5 * bright);
      double presence = 4.0 * bright + 6.5 * v.clarity - warm + 8.0 * v.radio;
      s[3] = v.radio > 0.05 ? MakePeakingEq(1150, 0.8, presence)
                            : MakePeakingEq(3350, 0.9, presence);
      s[4] = MakeHighShelf(5200, 0.9, 5.5 * (2 * v.tone - 1) - 6.0 * v.depth - 8.0 * v.radio);
      break;
    }
    default:
      break;
  }
}

}  // namespace

BiquadSection SetBiquadCoefficients(double b0, double b1, double b2, double a0, double a1,
                                    double a2) {
  BiquadSection section;
  if (a0 == 0.0 || !std::isfinite(a0)) return section;
  section.b0 = b0 / a0;
  section.b1 = b1 / a0;
  section.b2 = b2 / a0;
  section.a1 = a1 / a0;
  section.a2 = a2 / a0;
  section.enabled = true;
  return section;
}

BiquadSection MakeHighPass(double frequency, double q) {
  auto [c, s] = AngleOf(frequency);
  double alpha = s / (2.0 * std::max(q, 0.1));
  return SetBiquadCoefficients((1 + c) / 2, -(1 + c), (1 + c) / 2, 1 + alpha, -2 * c, 1 - alpha);
}

BiquadSection MakeLowPass(double frequency, double q) {
  auto [c, s] = AngleOf(frequency);
  double alpha = s / (2.0 * std::max(q, 0.1));
  return SetBiquadCoefficients((1 - c) / 2, 1 - c, (1 - c) / 2, 1 + alpha, -2 * c, 1 - alpha);
}

BiquadSection MakePeakingEq(double frequency, double q, double gain_db) {
  if (std::abs(gain_db) < kFlatGainDb) return {};
  auto [c, s] = AngleOf(frequency);
  double a = std::pow(10.0, gain_db / 40.0);
  double alpha = s / (2.0 * std::max(q, 0.1));
  return SetBiquadCoefficients(1 + alpha * a, -2 * c, 1 - alpha * a, 1 + alpha / a, -2 * c,
                               1 - alpha / a);
}

BiquadSection MakeLowShelf(double frequency, double slope, double gain_db) {
  if (std::abs(gain_db) < kFlatGainDb) return {};
  auto [c, s] = AngleOf(frequency);
  double a = std::pow(10.0, gain_db / 40.0);
  double alpha = s / 2.0 * std::sqrt((a + 1 / a) * (1 / std::max(slope, 0.1) - 1) + 2);
  double k = 2 * std::sqrt(a) * alpha;
  return SetBiquadCoefficients(a * ((a + 1) - (a - 1) * c + k), 2 * a * ((a - 1) - (a + 1) * c),
                               a * ((a + 1) - (a - 1) * c - k), (a + 1) + (a - 1) * c + k,
                               -2 * ((a - 1) + (a + 1) * c), (a + 1) + (a - 1) * c - k);
}

BiquadSection MakeHighShelf(double frequency, double slope, double gain_db) {
  if (std::abs(gain_db) < kFlatGainDb) return {};
  auto [c, s] = AngleOf(frequency);
  double a = std::pow(10.0, gain_db / 40.0);
  double alpha = s / 2.0 * std::sqrt((a + 1 / a) * (1 / std::max(slope, 0.1) - 1) + 2);
  double k = 2 * std::sqrt(a) * alpha;
  return SetBiquadCoefficients(a * ((a + 1) + (a - 1) * c + k), -2 * a * ((a - 1) + (a + 1) * c),
                               a * ((a + 1) + (a - 1) * c - k), (a + 1) - (a - 1) * c + k,
                               2 * ((a - 1) - (a + 1) * c), (a + 1) - (a - 1) * c - k);
}

VoiceEffectDynamics ComputeVoiceEffectDynamics(uint32_t preset_index, uint32_t strength_index,
                                               const VoiceEffectCustomValues& v) {
  const double k = StrengthFactor(strength_index);
  auto db = [](double decibels) { return std::pow(10.0, decibels / 20.0); };
  switch (preset_index) {
    case 1:
      return {std::pow(10.0, -1.1), 2.8, db(1.6 * k), 0.0};
    case 2:
      return {std::pow(10.0, -1.1), 2.5, db(1.2 * k), 0.35 * k};
    case 3:
      return {std::pow(10.0, -1.15), 2.8, db(k), 0.0};
    case 4:
      return {std::pow(10.0, -1.05), 2.4, db(1.4 * k), 0.28 * k};
    case 5:
      return {std::pow(10.0, -1.4), 6.0, db(2.2 * k), 2.0 + 0.75 * k};
    case 6:
      return {db(-16 - 10 * v.clarity - 6 * v.radio), 1.4 + 2.2 * v.clarity + 3.2 * v.radio,
              0.65 + 0.75 * v.output_level, 0.18 * v.depth + 2.6 * v.radio};
    default:
      return {};
  }
}

void ConfigureVoiceEffect(VoiceEffectProcessor* processor, uint32_t preset_index,
                          uint32_t strength_index, const VoiceEffectCustomValues& values) {
  VoiceEffectCustomValues clamped = values;
  ClampVoiceEffectCustomValues(&clamped);
  if (preset_index == processor->preset_index && strength_index == processor->strength_index &&
      SameCustomValues(clamped, processor->custom_values)) {
    return;
  }
  processor->preset_index = preset_index;
  processor->strength_index = strength_index;
  processor->custom_values = clamped;
  processor->dynamics = ComputeVoiceEffectDynamics(preset_index, strength_index, clamped);
  processor->saturation_scale = 1.0 / std::max(std::tanh(processor->dynamics.drive), 0.000001);
  processor->sections.fill(BiquadSection());
  DesignSections(&processor->sections, preset_index, strength_index, clamped);
  // A new design starts from silence.
  for (BiquadSection& section : processor->sections) {
    section.z1 = {};
    section.z2 = {};
  }
  processor->envelope = {};
}

float ProcessBiquad(BiquadSection* section, float sample, int channel) {
  if (!section->enabled) return sample;
  double x = std::isfinite(sample) ? sample : 0.0;
  double y = section->b0 * x + section->z1[channel];
  double z1 = section->b1 * x - section->a1 * y + section->z2[channel];
  double z2 = section->b2 * x - section->a2 * y;
  if (!std::isfinite(y) || !std::isfinite(z1) || !std::isfinite(z2)) {
    // A filter that blew up starts again from silence rather than staying stuck.
    section->z1 = {};
    section->z2 = {};
    return 0.0f;
  }
  section->z1[channel] = z1;
  section->z2[channel] = z2;
  return static_cast<float>(y);
}

float ProcessVoiceEffectSample(VoiceEffectProcessor* processor, float sample, int channel) {
  float y = std::isfinite(sample) ? sample : 0.0f;
  for (BiquadSection& section : processor->sections) y = ProcessBiquad(&section, y, channel);

  const VoiceEffectDynamics& d = processor->dynamics;
  double level = std::abs(static_cast<double>(y));
  double& envelope = processor->envelope[channel];
  double k = level > envelope ? 0.35 : 0.992;  // fast attack, slow release
  envelope = (1 - k) * level + k * envelope;

  double out = y;
  if (d.ratio > 1.0 && envelope > d.threshold) {
    out = out * ((envelope - d.threshold) / d.ratio + d.threshold) / std::max(envelope, 0.000001);
  }
  if (d.drive > 0.0) out = std::tanh(d.drive * out) * processor->saturation_scale;
  out *= d.output_gain;
  if (!std::isfinite(out)) return 0.0f;
  return std::clamp(static_cast<float>(out), -kLimit, kLimit);
}

void ApplyVoiceEffect(VoiceEffectProcessor* processor, float* samples, uint32_t frame_count,
                      const MixerSettings& settings) {
  ApplyVoiceEffect(processor, samples, frame_count, MakeAudioSettingsView(settings, false));
}

void ApplyVoiceEffect(VoiceEffectProcessor* processor, float* samples, uint32_t frame_count,
                      const AudioSettingsView& view) {
  if (processor == nullptr || samples == nullptr || frame_count == 0) return;
  ConfigureVoiceEffect(processor, view.voice_effect_preset, view.voice_effect_strength,
                       view.voice_effect_custom_values);
  if (view.voice_effect_preset == 0) return;
  for (uint32_t frame = 0; frame < frame_count; ++frame) {
    samples[2 * frame] = ProcessVoiceEffectSample(processor, samples[2 * frame], 0);
    samples[2 * frame + 1] = ProcessVoiceEffectSample(processor, samples[2 * frame + 1], 1);
  }
}

}  // namespace zennic
