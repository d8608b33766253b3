#include "support/tone_continuity.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <numbers>
#include <utility>

namespace zennic::testing {
namespace {

constexpr double kRate = 48000.0;
constexpr size_t kShortestSilenceFrames = 96;  // 2 ms
constexpr float kSilenceLevel = 1e-4f;
// A break is counted once however many samples it disturbs.
constexpr size_t kSameBreakFrames = 48;
// A stretch between breaks is fitted for a missing tone only when it holds two cycles of 440 Hz.
constexpr size_t kShortestToneGapFrames = 240;  // 5 ms
// A tone is gone below a tenth of its level in the whole recording, and the others play on above
// half of theirs.
constexpr double kGoneLevel = 0.1;
constexpr double kPlayingLevel = 0.5;
constexpr size_t kToneFitFrames = 2400;  // 50 ms: whole cycles of every tone the tests play

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

// The level of each tone in frames [from, to) of the left channel: a least-squares fit of a
// cosine and a sine of each, solved by Gauss-Jordan elimination of the normal equations.
std::vector<double> FittedLevels(const std::vector<float>& stereo, size_t from, size_t to,
                                 const std::vector<double>& frequencies) {
  const size_t n = 2 * frequencies.size();
  std::vector<std::vector<double>> rows(n, std::vector<double>(n + 1, 0.0));
  std::vector<double> basis(n);
  for (size_t i = from; i < to; ++i) {
    for (size_t k = 0; k < frequencies.size(); ++k) {
      const double angle = 2.0 * std::numbers::pi * frequencies[k] * static_cast<double>(i) / kRate;
      basis[2 * k] = std::cos(angle);
      basis[2 * k + 1] = std::sin(angle);
    }
    for (size_t r = 0; r < n; ++r) {
      for (size_t c = 0; c < n; ++c) rows[r][c] += basis[r] * basis[c];
      rows[r][n] += basis[r] * static_cast<double>(stereo[2 * i]);
    }
  }
  for (size_t column = 0; column < n; ++column) {
    size_t pivot = column;
    for (size_t r = column + 1; r < n; ++r) {
      if (std::abs(rows[r][column]) > std::abs(rows[pivot][column])) pivot = r;
    }
    std::swap(rows[column], rows[pivot]);
    if (rows[column][column] == 0.0) return std::vector<double>(frequencies.size(), 0.0);
    for (size_t r = 0; r < n; ++r) {
      if (r == column) continue;
      const double factor = rows[r][column] / rows[column][column];
      for (size_t c = column; c <= n; ++c) rows[r][c] -= factor * rows[column][c];
    }
  }
  std::vector<double> levels;
  for (size_t k = 0; k < frequencies.size(); ++k) {
    levels.push_back(std::hypot(rows[2 * k][n] / rows[2 * k][2 * k],
                                rows[2 * k + 1][n] / rows[2 * k + 1][2 * k + 1]));
  }
  return levels;
}

std::string Seconds(double seconds) {
  char text[32];
  std::snprintf(text, sizeof text, "%.3f s", seconds);
  return text;
}

}  // namespace

std::string ToneBreaks::Describe() const {
  // " (first, second, ...)" with the first ten of `count` items.
  auto listed = [](size_t count, const char* opening, const auto& item) {
    std::string text;
    for (size_t i = 0; i < std::min<size_t>(count, 10); ++i) {
      text += (i == 0 ? opening : ", ") + item(i);
    }
    if (count > 0) text += count > 10 ? ", ...)" : ")";
    return text;
  };
  std::string text = std::to_string(discontinuities.size()) + " discontinuities" +
                     listed(discontinuities.size(), " (at ",
                            [&](size_t i) { return Seconds(discontinuities[i]); });
  text += ", " + std::to_string(silences.size()) + " silences" +
          listed(silences.size(), " (", [&](size_t i) {
            return std::to_string(std::lround(silences[i].milliseconds)) + " ms at " +
                   Seconds(silences[i].at_seconds);
          });
  if (!tone_gaps.empty()) {
    text += ", " + std::to_string(tone_gaps.size()) + " tone gaps" +
            listed(tone_gaps.size(), " (", [&](size_t i) {
              return std::to_string(std::lround(tone_gaps[i].milliseconds)) + " ms without " +
                     std::to_string(std::lround(tone_gaps[i].frequency)) + " Hz at " +
                     Seconds(tone_gaps[i].at_seconds);
            });
  }
  return text;
}

ToneBreaks FindToneBreaks(const std::vector<float>& stereo, const std::vector<double>& frequencies,
                          size_t leading_silence_frames) {
  ToneBreaks breaks;
  breaks.frequencies = frequencies;
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
  // Each discontinuity's first and last disturbed frame.
  std::vector<std::pair<size_t, size_t>> disturbed;
  for (size_t i = skip_frames + recurrence.size() - 1; i < frames; ++i) {
    double residual = 0.0;
    for (size_t k = 0; k < recurrence.size(); ++k) residual += recurrence[k] * left(i - k);
    if (std::abs(residual) <= threshold) continue;
    if (disturbed.empty() || i - disturbed.back().second > kSameBreakFrames) {
      breaks.discontinuities.push_back(static_cast<double>(i) / kRate);
      disturbed.emplace_back(i, i);
    }
    disturbed.back().second = i;
  }

  if (frequencies.size() > 1) {
    std::vector<double> typical;
    for (double frequency : frequencies) typical.push_back(ToneAmplitude(stereo, frequency));
    for (size_t j = 0; j + 1 < disturbed.size(); ++j) {
      // The residual at a frame reaches back over the recurrence's length.
      const size_t from = disturbed[j].second + 1;
      const size_t to = disturbed[j + 1].first + 1 - recurrence.size();
      if (to < from + kShortestToneGapFrames) continue;
      // Between two discontinuities the tones obey their recurrence, so each keeps its level
      // throughout: the stretch's first 50 ms tell it. Fitted over a longer stretch, a drift
      // follower's speed, a few hundredths of a hertz off, turns a tone's phase until the fit
      // finds it gone (92 s of a voice that played on).
      const std::vector<double> levels =
          FittedLevels(stereo, from, std::min(to, from + kToneFitFrames), frequencies);
      for (size_t gone = 0; gone < frequencies.size(); ++gone) {
        bool others_play = true;
        for (size_t k = 0; k < frequencies.size(); ++k) {
          if (k != gone && levels[k] < kPlayingLevel * typical[k]) others_play = false;
        }
        if (others_play && levels[gone] < kGoneLevel * typical[gone]) {
          breaks.tone_gaps.push_back(
              {static_cast<double>(disturbed[j].first) / kRate,
               static_cast<double>(disturbed[j + 1].first - disturbed[j].first) / kRate * 1000.0,
               frequencies[gone]});
          break;
        }
      }
    }
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
  std::string described = text;
  if (tone_missing_ms > 0) {
    described += ", " + std::to_string(std::lround(tone_missing_ms)) + " ms without";
    for (double frequency : missing_tones) {
      described += " " + std::to_string(std::lround(frequency)) + " Hz";
    }
  }
  return described;
}

std::vector<HeardBreak> HeardBreaks(const ToneBreaks& breaks) {
  constexpr double kApartSeconds = 0.020;
  std::vector<HeardBreak> parts;
  for (double at : breaks.discontinuities) parts.push_back({at, at, 1, 0.0, 0.0, {}});
  for (const ToneBreaks::Silence& silence : breaks.silences) {
    parts.push_back({silence.at_seconds, silence.at_seconds + silence.milliseconds / 1000.0, 0,
                     silence.milliseconds, 0.0, {}});
  }
  for (const ToneBreaks::ToneGap& gap : breaks.tone_gaps) {
    parts.push_back({gap.at_seconds, gap.at_seconds + gap.milliseconds / 1000.0, 0, 0.0,
                     gap.milliseconds, {gap.frequency}});
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
    last.tone_missing_ms += part.tone_missing_ms;
    for (double frequency : part.missing_tones) {
      if (std::find(last.missing_tones.begin(), last.missing_tones.end(), frequency) ==
          last.missing_tones.end()) {
        last.missing_tones.push_back(frequency);
      }
    }
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
