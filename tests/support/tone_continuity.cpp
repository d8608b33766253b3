#include "support/tone_continuity.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <numbers>

namespace zennic::testing {
namespace {

constexpr double kRate = 48000.0;
constexpr size_t kShortestSilenceFrames = 96;  // 2 ms
constexpr float kSilenceLevel = 1e-4f;
// A break is counted once however many samples it disturbs.
constexpr size_t kSameBreakFrames = 48;

// The coefficients c with sum c[k] x[n-k] = 0 for every sum of the tones: the product of
// (1 - 2 cos(w) z^-1 + z^-2) over the tones.
std::vector<double> RecurrenceOf(const std::vector<double>& frequencies) {
  std::vector<double> coefficients{1.0};
  for (double frequency : frequencies) {
    const double factor[] = {1.0, -2.0 * std::cos(2.0 * std::numbers::pi * frequency / kRate), 1.0};
    std::vector<double> product(coefficients.size() + 2, 0.0);
    for (size_t i = 0; i < coefficients.size(); ++i) {
      for (size_t j = 0; j < 3; ++j) product[i + j] += coefficients[i] * factor[j];
    }
    coefficients = product;
  }
  return coefficients;
}

std::string Seconds(double seconds) {
  char text[32];
  std::snprintf(text, sizeof text, "%.3f s", seconds);
  return text;
}

}  // namespace

std::string ToneBreaks::Describe() const {
  std::string text = std::to_string(discontinuities.size()) + " discontinuities";
  for (size_t i = 0; i < std::min<size_t>(discontinuities.size(), 10); ++i) {
    text += (i == 0 ? " (at " : ", ") + Seconds(discontinuities[i]);
  }
  if (!discontinuities.empty()) text += discontinuities.size() > 10 ? ", ...)" : ")";
  text += ", " + std::to_string(silences.size()) + " silences";
  for (size_t i = 0; i < std::min<size_t>(silences.size(), 10); ++i) {
    text += (i == 0 ? " (" : ", ") + std::to_string(std::lround(silences[i].milliseconds)) +
            " ms at " + Seconds(silences[i].at_seconds);
  }
  if (!silences.empty()) text += silences.size() > 10 ? ", ...)" : ")";
  return text;
}

ToneBreaks FindToneBreaks(const std::vector<float>& stereo, const std::vector<double>& frequencies,
                          size_t leading_silence_frames) {
  ToneBreaks breaks;
  const size_t frames = stereo.size() / 2;
  size_t first_sound = 0;
  while (first_sound < frames && std::abs(stereo[2 * first_sound]) < kSilenceLevel) ++first_sound;
  if (first_sound > leading_silence_frames) {
    breaks.silences.push_back({0.0, static_cast<double>(first_sound) / kRate * 1000.0});
  }
  if (first_sound == frames) return breaks;
  const size_t skip_frames = first_sound;
  auto left = [&stereo](size_t frame) { return static_cast<double>(stereo[2 * frame]); };

  // The threshold follows the tones' level: 2 % of the recording's near-peak.
  std::vector<float> levels;
  levels.reserve(frames - skip_frames);
  for (size_t i = skip_frames; i < frames; ++i) levels.push_back(std::abs(stereo[2 * i]));
  auto near_peak = levels.begin() + static_cast<std::ptrdiff_t>(levels.size() * 99 / 100);
  std::nth_element(levels.begin(), near_peak, levels.end());
  const double threshold = std::max(0.02 * *near_peak, 1e-3);

  const std::vector<double> recurrence = RecurrenceOf(frequencies);
  size_t last_break = 0;
  bool any_break = false;
  for (size_t i = skip_frames + recurrence.size() - 1; i < frames; ++i) {
    double residual = 0.0;
    for (size_t k = 0; k < recurrence.size(); ++k) residual += recurrence[k] * left(i - k);
    if (std::abs(residual) <= threshold) continue;
    if (!any_break || i - last_break > kSameBreakFrames) {
      breaks.discontinuities.push_back(static_cast<double>(i) / kRate);
    }
    any_break = true;
    last_break = i;
  }

  size_t run_start = 0;
  bool in_run = false;
  for (size_t i = skip_frames; i <= frames; ++i) {
    bool quiet = i < frames && std::abs(stereo[2 * i]) < kSilenceLevel;
    if (quiet && !in_run) run_start = i;
    if (!quiet && in_run && i - run_start >= kShortestSilenceFrames) {
      breaks.silences.push_back({static_cast<double>(run_start) / kRate,
                                 static_cast<double>(i - run_start) / kRate * 1000.0});
    }
    in_run = quiet;
  }
  return breaks;
}

std::string HeardBreak::Describe() const {
  char text[128];
  std::snprintf(text, sizeof text, "at %.3f s, %.0f ms long: %zu discontinuities, %.0f ms of silence",
                from_seconds, (to_seconds - from_seconds) * 1000.0, discontinuities, silent_ms);
  return text;
}

std::vector<HeardBreak> HeardBreaks(const ToneBreaks& breaks) {
  constexpr double kApartSeconds = 0.020;
  std::vector<HeardBreak> parts;
  for (double at : breaks.discontinuities) parts.push_back({at, at, 1, 0.0});
  for (const ToneBreaks::Silence& silence : breaks.silences) {
    parts.push_back({silence.at_seconds, silence.at_seconds + silence.milliseconds / 1000.0, 0,
                     silence.milliseconds});
  }
  std::sort(parts.begin(), parts.end(), [](const HeardBreak& a, const HeardBreak& b) {
    return a.from_seconds < b.from_seconds;
  });
  std::vector<HeardBreak> heard;
  for (const HeardBreak& part : parts) {
    if (heard.empty() || part.from_seconds > heard.back().to_seconds + kApartSeconds) {
      heard.push_back(part);
      continue;
    }
    HeardBreak& last = heard.back();
    last.to_seconds = std::max(last.to_seconds, part.to_seconds);
    last.discontinuities += part.discontinuities;
    last.silent_ms += part.silent_ms;
  }
  return heard;
}

double ToneAmplitude(const std::vector<float>& samples, double frequency, size_t channels) {
  // Measured in 50 ms windows (whole cycles of every tone the tests play) and the median taken:
  // over a whole recording a gap or a drift follower's speed change turns the tone's phase, and
  // the halves on either side would cancel.
  constexpr size_t kWindowFrames = 2400;
  const size_t frames = samples.size() / channels;
  std::vector<double> windows;
  for (size_t start = 0; start + kWindowFrames <= frames; start += kWindowFrames) {
    double in_phase = 0.0;
    double quadrature = 0.0;
    for (size_t i = 0; i < kWindowFrames; ++i) {
      const double angle = 2.0 * std::numbers::pi * frequency * static_cast<double>(i) / kRate;
      in_phase += samples[(start + i) * channels] * std::cos(angle);
      quadrature += samples[(start + i) * channels] * std::sin(angle);
    }
    windows.push_back(2.0 * std::hypot(in_phase, quadrature) / kWindowFrames);
  }
  if (windows.empty()) return 0.0;
  std::nth_element(windows.begin(), windows.begin() + windows.size() / 2, windows.end());
  return windows[windows.size() / 2];
}

}  // namespace zennic::testing
