#include "engine/voice_effect.h"

#include <emmintrin.h>

#include <algorithm>
#include <limits>
#include <cmath>
#include <numbers>
#include <utility>

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
  processor->inverse_ratio = 1.0 / processor->dynamics.ratio;
  processor->sections.fill(BiquadSection());
  DesignSections(&processor->sections, preset_index, strength_index, clamped);
  // A new design starts from silence.
  for (BiquadSection& section : processor->sections) {
    section.z1 = {};
    section.z2 = {};
  }
  processor->envelope = {};
}

namespace {

constexpr uint32_t kChunkFrames = 480;  // the mixer's block
constexpr double kAttack = 0.35;        // the envelope's weight of its past when the level rises
constexpr double kRelease = 0.992;      // ... and when it falls

// The filters and the envelope carry their state from sample to sample in double precision,
// both channels of a frame together, one per lane. What follows them (compressor, saturation,
// gain, limit) depends on no earlier sample, and runs on four float samples at a time: a
// float sample holds no more than that precision.
using Stereo = __m128d;
using Quad = __m128;

Stereo Broadcast(double value) { return _mm_set1_pd(value); }

// Where `mask` is set, `if_set`, else `otherwise`.
Stereo Select(Stereo mask, Stereo if_set, Stereo otherwise) {
  return _mm_or_pd(_mm_and_pd(mask, if_set), _mm_andnot_pd(mask, otherwise));
}
Quad Select(Quad mask, Quad if_set, Quad otherwise) {
  return _mm_or_ps(_mm_and_ps(mask, if_set), _mm_andnot_ps(mask, otherwise));
}

// Rounds each lane to float and back, as the sample does between sections.
Stereo RoundToFloat(Stereo value) { return _mm_cvtps_pd(_mm_cvtpd_ps(value)); }

// exp(t) for t from -18 to 0, to float precision: the power of two by the exponent's bits,
// the rest (|r| <= ln 2 / 2) by its series up to r^6 / 6!.
Quad ExpOfNonPositive(Quad t) {
  const Quad shift = _mm_set1_ps(12582912.0f);  // 1.5 * 2^23: adding it rounds to a whole number
  const Quad shifted = _mm_add_ps(_mm_mul_ps(t, _mm_set1_ps(1.44269504f)), shift);
  const Quad whole = _mm_sub_ps(shifted, shift);
  const Quad r = _mm_sub_ps(_mm_sub_ps(t, _mm_mul_ps(whole, _mm_set1_ps(0.693145751953125f))),
                            _mm_mul_ps(whole, _mm_set1_ps(1.428606765330187e-06f)));
  // Estrin's scheme: the terms in pairs, then pairs of pairs, so few steps wait on each other.
  auto pair = [&r](float a, float b) {
    return _mm_add_ps(_mm_set1_ps(a), _mm_mul_ps(_mm_set1_ps(b), r));
  };
  const Quad r2 = _mm_mul_ps(r, r);
  const Quad r4 = _mm_mul_ps(r2, r2);
  const Quad low = _mm_add_ps(pair(1.0f, 1.0f), _mm_mul_ps(pair(1.0f / 2, 1.0f / 6), r2));
  const Quad high =
      _mm_add_ps(pair(1.0f / 24, 1.0f / 120), _mm_mul_ps(_mm_set1_ps(1.0f / 720), r2));
  const Quad series = _mm_add_ps(low, _mm_mul_ps(high, r4));
  const __m128i exponent = _mm_add_epi32(
      _mm_sub_epi32(_mm_castps_si128(shifted), _mm_castps_si128(shift)), _mm_set1_epi32(127));
  return _mm_mul_ps(series, _mm_castsi128_ps(_mm_slli_epi32(exponent, 23)));
}

// 1 / d to float precision, from the quick estimate and one Newton step: a division would
// keep the next samples waiting.
Quad Reciprocal(Quad d) {
  const Quad estimate = _mm_rcp_ps(d);
  return _mm_mul_ps(estimate, _mm_sub_ps(_mm_set1_ps(2.0f), _mm_mul_ps(d, estimate)));
}

// tanh by (1 - e) / (1 + e), e = exp(-2|x|), with x's sign; from 9 on it is 1 in float.
Quad Tanh(Quad x) {
  const Quad sign = _mm_set1_ps(-0.0f);
  const Quad magnitude = _mm_min_ps(_mm_andnot_ps(sign, x), _mm_set1_ps(9.0f));
  const Quad e = ExpOfNonPositive(_mm_mul_ps(magnitude, _mm_set1_ps(-2.0f)));
  const Quad one = _mm_set1_ps(1.0f);
  return _mm_or_ps(_mm_mul_ps(_mm_sub_ps(one, e), Reciprocal(_mm_add_ps(one, e))),
                   _mm_and_ps(sign, x));
}

// The compressor, saturation and output gain of one design.
struct Shaping {
  Quad threshold;  // infinite without compression: no envelope is ever above it
  Quad inverse_ratio;
  Quad drive;
  Quad saturation_scale;
  Quad output_gain;
  bool saturate;
};

Shaping ShapingOf(const VoiceEffectProcessor& processor) {
  const VoiceEffectDynamics& d = processor.dynamics;
  return {_mm_set1_ps(d.ratio > 1.0 ? static_cast<float>(d.threshold)
                                    : std::numeric_limits<float>::infinity()),
          _mm_set1_ps(static_cast<float>(processor.inverse_ratio)),
          _mm_set1_ps(static_cast<float>(d.drive)),
          _mm_set1_ps(static_cast<float>(processor.saturation_scale)),
          _mm_set1_ps(static_cast<float>(d.output_gain)), d.drive > 0.0};
}

// Within -0.98..0.98; what is not finite is silence.
Quad Limit(Quad samples) {
  const Quad finite = _mm_cmplt_ps(_mm_andnot_ps(_mm_set1_ps(-0.0f), samples),
                                   _mm_set1_ps(std::numeric_limits<float>::infinity()));
  const Quad limit = _mm_set1_ps(kLimit);
  return _mm_max_ps(_mm_min_ps(_mm_and_ps(finite, samples), limit),
                    _mm_sub_ps(_mm_setzero_ps(), limit));
}

// `count` filtered samples with their envelopes, four at a time (the buffers reach to the next
// multiple of four): compressed above the threshold, saturated, brought to the output level
// and limited, into `out`.
void Shape(const Shaping& shaping, const float* filtered, const float* envelopes, float* out,
           uint32_t count) {
  for (uint32_t i = 0; i < count; i += 4) {
    const Quad x = _mm_loadu_ps(filtered + i);
    const Quad envelope = _mm_loadu_ps(envelopes + i);
    const Quad compressed = _mm_mul_ps(
        _mm_mul_ps(x, _mm_add_ps(_mm_mul_ps(_mm_sub_ps(envelope, shaping.threshold),
                                            shaping.inverse_ratio),
                                 shaping.threshold)),
        Reciprocal(_mm_max_ps(envelope, _mm_set1_ps(0.000001f))));
    Quad shaped = Select(_mm_cmpgt_ps(envelope, shaping.threshold), compressed, x);
    if (shaping.saturate) {
      shaped = _mm_mul_ps(Tanh(_mm_mul_ps(shaping.drive, shaped)), shaping.saturation_scale);
    }
    _mm_storeu_ps(out + i, Limit(_mm_mul_ps(shaped, shaping.output_gain)));
  }
}

struct StereoSection {
  Stereo b0, b1, b2, a1, a2;
  Stereo z1, z2;
};

// The chunk without the per-sample guards of the filters. A sample that is not finite, or a
// filter that overflowed, leaves the filters' or the envelope's state not finite for good, so
// one look at the end tells whether the chunk must be done again the guarded way. True when
// `out` holds the chunk and the processor its new state.
bool ProcessChunkUnguarded(VoiceEffectProcessor* processor, const float* in, float* out,
                           uint32_t frames) {
  std::array<StereoSection, VoiceEffectProcessor::kSectionCount> sections;
  for (size_t i = 0; i < sections.size(); ++i) {
    // A section that is off passes the sample through by its coefficients alone (1, 0, ...).
    const BiquadSection& s = processor->sections[i];
    sections[i] = {Broadcast(s.b0),         Broadcast(s.b1),         Broadcast(s.b2),
                   Broadcast(s.a1),         Broadcast(s.a2),         _mm_loadu_pd(s.z1.data()),
                   _mm_loadu_pd(s.z2.data())};
  }
  Stereo envelope = _mm_loadu_pd(processor->envelope.data());
  const Stereo sign = Broadcast(-0.0);
  // Padded to whole groups of four samples; the padding is silence.
  alignas(16) std::array<float, 2 * kChunkFrames + 2> filtered;
  alignas(16) std::array<float, 2 * kChunkFrames + 2> envelopes;
  std::fill_n(&filtered[2 * frames], 2, 0.0f);
  std::fill_n(&envelopes[2 * frames], 2, 0.0f);
  // The sections work as a pipeline: at each step section s takes frame step - s, which the
  // section before it finished in the step before. Within a step no section waits for another,
  // so a frame's way through all five never holds up the next.
  constexpr uint32_t kSections = VoiceEffectProcessor::kSectionCount;
  Stereo waiting[kSections] = {};  // what each section takes at the next step
  auto stage = [&]<uint32_t S>(uint32_t step) {
    const uint32_t frame = step - S;  // wraps past `frames` before the first
    if (frame >= frames) return;
    StereoSection& section = sections[S];
    Stereo x;
    if constexpr (S == 0) {
      x = _mm_cvtps_pd(
          _mm_castpd_ps(_mm_load_sd(reinterpret_cast<const double*>(in + 2 * frame))));
    } else {
      x = waiting[S];
    }
    const Stereo y = _mm_add_pd(_mm_mul_pd(section.b0, x), section.z1);
    section.z1 = _mm_add_pd(_mm_sub_pd(_mm_mul_pd(section.b1, x), _mm_mul_pd(section.a1, y)),
                            section.z2);
    section.z2 = _mm_sub_pd(_mm_mul_pd(section.b2, x), _mm_mul_pd(section.a2, y));
    const Stereo result = RoundToFloat(y);
    if constexpr (S + 1 < kSections) {
      waiting[S + 1] = result;
    } else {
      // Both ways of following the level at once, then the one that applies: the envelope
      // waits on no comparison from one frame to the next.
      const Stereo level = _mm_andnot_pd(sign, result);
      const Stereo rising = _mm_add_pd(_mm_mul_pd(Broadcast(1 - kAttack), level),
                                       _mm_mul_pd(Broadcast(kAttack), envelope));
      const Stereo falling = _mm_add_pd(_mm_mul_pd(Broadcast(1 - kRelease), level),
                                        _mm_mul_pd(Broadcast(kRelease), envelope));
      envelope = Select(_mm_cmpgt_pd(level, envelope), rising, falling);
      _mm_store_sd(reinterpret_cast<double*>(&filtered[2 * frame]),
                   _mm_castps_pd(_mm_cvtpd_ps(result)));
      _mm_store_sd(reinterpret_cast<double*>(&envelopes[2 * frame]),
                   _mm_castps_pd(_mm_cvtpd_ps(envelope)));
    }
  };
  // The last section first, so each takes what the one before it made in the previous step.
  auto all_stages = [&]<uint32_t... S>(std::integer_sequence<uint32_t, S...>, uint32_t step) {
    (stage.template operator()<kSections - 1 - S>(step), ...);
  };
  for (uint32_t step = 0; step < frames + kSections - 1; ++step) {
    all_stages(std::make_integer_sequence<uint32_t, kSections>{}, step);
  }

  std::array<double, 2> z1, z2, kept_envelope;
  _mm_storeu_pd(kept_envelope.data(), envelope);
  if (!std::isfinite(kept_envelope[0]) || !std::isfinite(kept_envelope[1])) return false;
  for (size_t i = 0; i < sections.size(); ++i) {
    _mm_storeu_pd(z1.data(), sections[i].z1);
    _mm_storeu_pd(z2.data(), sections[i].z2);
    for (double state : {z1[0], z1[1], z2[0], z2[1]}) {
      if (!std::isfinite(state)) return false;
    }
  }

  Shape(ShapingOf(*processor), filtered.data(), envelopes.data(), out, 2 * frames);
  for (size_t i = 0; i < sections.size(); ++i) {
    _mm_storeu_pd(processor->sections[i].z1.data(), sections[i].z1);
    _mm_storeu_pd(processor->sections[i].z2.data(), sections[i].z2);
  }
  processor->envelope = kept_envelope;
  return true;
}

// One step of a section (transposed direct form II): its output; its next state in z1, z2.
double StepSection(const BiquadSection& section, double x, double& z1, double& z2) {
  const double y = section.b0 * x + z1;
  const double next_z1 = section.b1 * x - section.a1 * y + z2;
  z2 = section.b2 * x - section.a2 * y;
  z1 = next_z1;
  return y;
}

}  // namespace

float ProcessBiquad(BiquadSection* section, float sample, int channel) {
  if (!section->enabled) return sample;
  double x = std::isfinite(sample) ? sample : 0.0;
  double z1 = section->z1[channel];
  double z2 = section->z2[channel];
  double y = StepSection(*section, x, z1, z2);
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
  const double level = std::abs(static_cast<double>(y));
  double& envelope = processor->envelope[channel];
  const double k = level > envelope ? kAttack : kRelease;  // fast attack, slow release
  envelope = (1 - k) * level + k * envelope;
  const std::array<float, 4> filtered{y};
  const std::array<float, 4> envelopes{static_cast<float>(envelope)};
  std::array<float, 4> shaped;
  Shape(ShapingOf(*processor), filtered.data(), envelopes.data(), shaped.data(), 4);
  return shaped[0];
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
  std::array<float, 2 * kChunkFrames> processed;
  for (uint32_t first = 0; first < frame_count; first += kChunkFrames) {
    const uint32_t frames = std::min(kChunkFrames, frame_count - first);
    float* chunk = samples + 2 * size_t{first};
    if (ProcessChunkUnguarded(processor, chunk, processed.data(), frames)) {
      std::copy_n(processed.data(), 2 * size_t{frames}, chunk);
      continue;
    }
    for (uint32_t frame = 0; frame < frames; ++frame) {
      chunk[2 * frame] = ProcessVoiceEffectSample(processor, chunk[2 * frame], 0);
      chunk[2 * frame + 1] = ProcessVoiceEffectSample(processor, chunk[2 * frame + 1], 1);
    }
  }
}

}  // namespace zennic
