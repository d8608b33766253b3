#include "sound_files/sample_conversion.h"

#include <algorithm>
#include <cmath>

namespace zennic {

std::vector<float> ResampleLinear(const std::vector<float>& samples, int channels, int source_rate,
                                  int target_rate) {
  if (channels < 1 || source_rate < 1 || target_rate < 1 || samples.empty() ||
      source_rate == target_rate) {
    return samples;
  }
  const size_t width = static_cast<size_t>(channels);
  const uint64_t in_frames = samples.size() / width;
  const uint64_t out_frames =
      (static_cast<uint64_t>(target_rate) * in_frames + static_cast<uint64_t>(source_rate) / 2) /
      static_cast<uint64_t>(source_rate);
  std::vector<float> out(width * out_frames, 0.0f);
  if (in_frames == 0 || out_frames == 0) return out;
  const uint64_t last = in_frames - 1;
  for (uint64_t i = 0; i < out_frames; ++i) {
    const double position = static_cast<double>(i) * source_rate / target_rate;
    const uint64_t i0 = static_cast<uint64_t>(position);
    const uint64_t i1 = std::min(last, i0 + 1);
    const float t = static_cast<float>(position - static_cast<double>(i0));
    const float* a = &samples[i0 * width];
    const float* b = &samples[i1 * width];
    float* o = &out[i * width];
    for (size_t c = 0; c < width; ++c) o[c] = (b[c] - a[c]) * t + a[c];
  }
  return out;
}

std::vector<float> MixToStereo(const std::vector<float>& samples, int channels) {
  if (channels < 1) return {};
  const size_t width = static_cast<size_t>(channels);
  const size_t frames = samples.size() / width;
  std::vector<float> out(frames * 2);
  constexpr float kSideGain = 0.707f;
  for (size_t f = 0; f < frames; ++f) {
    const float* in = &samples[f * width];
    if (width == 1) {
      out[f * 2] = in[0];
      out[f * 2 + 1] = in[0];
      continue;
    }
    float left = in[0];
    float right = in[1];
    for (size_t k = 2; k < width; ++k) {
      if (k % 2 == 0) {
        left += in[k] * kSideGain;
      } else {
        right += in[k] * kSideGain;
      }
    }
    out[f * 2] = left;
    out[f * 2 + 1] = right;
  }
  return out;
}

std::vector<int16_t> FloatToPcm16Dithered(const std::vector<float>& samples) {
  std::vector<int16_t> out(samples.size());
  uint32_t state = 0x12345678u;
  for (size_t i = 0; i < samples.size(); ++i) {
    const uint32_t r1 = state * 1664525u + 1013904223u;
    state = r1 * 1664525u + 1013904223u;
    const uint32_t r2 = state;
    const float u1 = static_cast<float>(r1 >> 8) * 0x1p-24f;
    const float u2 = static_cast<float>(r2 >> 8) * 0x1p-24f;
    const float dither = (u1 - u2) * 0x1p-15f;
    // A NaN would otherwise pass the clamp and become a full-scale click.
    const float x = std::isfinite(samples[i]) ? samples[i] : 0.0f;
    const float v = std::clamp(x + dither, -1.0f, 1.0f);
    const long q = std::lrint(v * 32767.0f);
    out[i] = static_cast<int16_t>(std::clamp(q, -32768L, 32767L));
  }
  return out;
}

}  // namespace zennic
