#pragma once

#include <array>
#include <cstdint>
#include <string>

#include "model/audio_settings_view.h"
#include "model/mixer_settings.h"

namespace zennic {

// One second-order filter section, normalised so that a0 = 1, with its state for two channels.
// A disabled section passes its input through unchanged.
struct BiquadSection {
  double b0 = 1.0;
  double b1 = 0.0;
  double b2 = 0.0;
  double a1 = 0.0;
  double a2 = 0.0;
  std::array<double, 2> z1{};
  std::array<double, 2> z2{};
  bool enabled = false;
};

struct VoiceEffectDynamics {
  double threshold = 1.0;  // linear amplitude
  double ratio = 1.0;
  double output_gain = 1.0;  // linear
  double drive = 0.0;
};

// The voice effect's state: the design in force and the filters' memory. One per engine, used
// by the mixer thread alone, so it has no lock.
struct VoiceEffectProcessor {
  static constexpr int kSectionCount = 5;

  uint32_t preset_index = 0;  // 0 off
  uint32_t strength_index = 1;
  VoiceEffectCustomValues custom_values;
  VoiceEffectDynamics dynamics;
  // 1 / tanh(drive) and 1 / ratio, worked out with the design rather than for every sample.
  double saturation_scale = 1.0;
  double inverse_ratio = 1.0;
  std::array<BiquadSection, kSectionCount> sections{};
  std::array<double, 2> envelope{};
};

// Processes a block of interleaved stereo samples in place. With the effect off the samples
// stay exactly as they are.
void ApplyVoiceEffect(VoiceEffectProcessor* processor, float* samples, uint32_t frame_count,
                      const MixerSettings& settings);
// The same from the audio threads' view of the settings, which costs no copy.
void ApplyVoiceEffect(VoiceEffectProcessor* processor, float* samples, uint32_t frame_count,
                      const AudioSettingsView& view);
// Redesigns the chain and restarts its state when something changed; otherwise does nothing.
void ConfigureVoiceEffect(VoiceEffectProcessor* processor, uint32_t preset_index,
                          uint32_t strength_index, const VoiceEffectCustomValues& values);
VoiceEffectDynamics ComputeVoiceEffectDynamics(uint32_t preset_index, uint32_t strength_index,
                                               const VoiceEffectCustomValues& values);

// Section designers at 48,000 Hz. `q` is Q for the pass filters and the peak, the slope for
// the shelves.
BiquadSection MakeHighPass(double frequency, double q);
BiquadSection MakeLowPass(double frequency, double q);
BiquadSection MakePeakingEq(double frequency, double q, double gain_db);
BiquadSection MakeLowShelf(double frequency, double slope, double gain_db);
BiquadSection MakeHighShelf(double frequency, double slope, double gain_db);
// Divides by a0; the section stays pass-through when a0 is 0 or not finite.
BiquadSection SetBiquadCoefficients(double b0, double b1, double b2, double a0, double a1,
                                    double a2);

float ProcessBiquad(BiquadSection* section, float sample, int channel);
float ProcessVoiceEffectSample(VoiceEffectProcessor* processor, float sample, int channel);

}  // namespace zennic
