#include "support/marked_clip.h"

#include <algorithm>
#include <cmath>
#include <numbers>

namespace zennic::testing {

std::vector<int16_t> MarkedClipSamples() {
  std::vector<int16_t> samples;
  samples.reserve(2 * kMarkedClipFrames);
  for (int i = 0; i < kMarkedClipFrames; ++i) {
    samples.push_back(
        static_cast<int16_t>(std::lround(16384 * std::sin(2 * std::numbers::pi * 1000 * i / 48000))));
    samples.push_back(static_cast<int16_t>(std::lround(32767 * (0.1 + 0.8 * i / kMarkedClipFrames))));
  }
  return samples;
}

std::vector<std::string> FindMarkedClipGaps(const std::vector<float>& recording) {
  // Silent stretches in 1 ms windows, a cycle of the tone each.
  auto silent = [&recording](size_t window) {
    float peak = 0;
    for (size_t i = 48 * window; i < 48 * (window + 1); ++i) {
      peak = std::max(peak, std::abs(recording[2 * i]));
    }
    return peak < 0.1f;
  };
  auto position = [&recording](size_t frame) {
    return (static_cast<double>(recording[2 * frame + 1]) - 0.1) / 0.8 * kMarkedClipFrames;
  };
  std::vector<std::string> gaps;
  const size_t windows = recording.size() / 96;
  for (size_t window = 100; window + 1 < windows; ++window) {
    if (!silent(window)) continue;
    size_t end = window;
    while (end + 1 < windows && silent(end)) ++end;
    double moved = std::fmod(position(48 * end) - position(48 * window - 1) + kMarkedClipFrames,
                             static_cast<double>(kMarkedClipFrames));
    if (moved < 24.0 * static_cast<double>(end - window)) {
      gaps.push_back(std::to_string(end - window) + " ms at " + std::to_string(window) + " ms");
    }
    window = end;
  }
  return gaps;
}

}  // namespace zennic::testing
