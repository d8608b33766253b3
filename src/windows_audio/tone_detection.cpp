#include "windows_audio/tone_detection.h"

#include <algorithm>
#include <cmath>
#include <numbers>

namespace zennic {
namespace {

constexpr float kTestToneAmplitude = 0.055f;
// A tone counts when its window is not silent, its bin is clearly above the noise floor and it
// outweighs the other tone.
constexpr double kMinimumWindowRms = 0.004;
constexpr double kMinimumToneMagnitude = 0.006;
constexpr double kToneDominance = 1.35;

bool ToneDominates(const std::vector<float>& samples, size_t start, size_t window,
                   int64_t sample_rate, double wanted_hz, double other_hz) {
  double rms = 0.0;
  double wanted = MeasureToneBin(samples, start, window, sample_rate, wanted_hz, &rms);
  double other = MeasureToneBin(samples, start, window, sample_rate, other_hz, nullptr);
  return rms >= kMinimumWindowRms && wanted >= kMinimumToneMagnitude &&
         wanted >= kToneDominance * other;
}

}  // namespace

float TwoToneTestSignalValue(uint64_t frame, uint32_t sample_rate) {
  const uint64_t rate = sample_rate;
  const uint64_t first_start = rate * 80 / 1000;
  const uint64_t length = rate * 170 / 1000;
  const uint64_t second_start = first_start + length + rate * 50 / 1000;
  if (rate == 0 || frame >= rate * 600 / 1000) return 0.0f;
  double frequency = 0.0;
  uint64_t offset = 0;
  if (frame >= first_start && frame < first_start + length) {
    frequency = kFirstTestToneHz;
    offset = frame - first_start;
  } else if (frame >= second_start && frame < second_start + length) {
    frequency = kSecondTestToneHz;
    offset = frame - second_start;
  } else {
    return 0.0f;
  }
  const auto fade = static_cast<float>(std::max<uint64_t>(rate * 5 / 1000, 1));
  float envelope = std::min(
      {static_cast<float>(offset) / fade, static_cast<float>(length - offset) / fade, 1.0f});
  auto sine = static_cast<float>(std::sin(2.0 * std::numbers::pi * frequency *
                                          static_cast<double>(offset) / static_cast<double>(rate)));
  return sine * kTestToneAmplitude * envelope;
}

double MeasureToneBin(const std::vector<float>& samples, size_t start, size_t count,
                      int64_t sample_rate, double frequency_hz, double* rms) {
  if (rms != nullptr) *rms = 0.0;
  if (start >= samples.size() || count == 0 || count > samples.size() - start || sample_rate < 1) {
    return 0.0;
  }
  double sine_sum = 0.0;
  double cosine_sum = 0.0;
  double energy = 0.0;
  const double step = frequency_hz * 2.0 * std::numbers::pi / static_cast<double>(sample_rate);
  for (size_t i = 0; i < count; ++i) {
    float sample = samples[start + i];
    double x = std::isfinite(sample) ? sample : 0.0;
    double angle = static_cast<double>(i) * step;
    sine_sum += std::sin(angle) * x;
    cosine_sum += std::cos(angle) * x;
    energy += x * x;
  }
  const auto n = static_cast<double>(count);
  if (rms != nullptr) *rms = std::sqrt(energy / n);
  return 2.0 * std::sqrt(cosine_sum * cosine_sum + sine_sum * sine_sum) / n;
}

bool DetectTwoToneSequence(const std::vector<float>& samples, int64_t sample_rate) {
  if (sample_rate < 1) return false;
  const auto rate = static_cast<size_t>(sample_rate);
  const size_t size = samples.size();
  if (size < rate / 3) return false;
  const size_t window = std::max<size_t>(rate * 70 / 1000, 64);
  const size_t step = std::max<size_t>(rate * 10 / 1000, 1);
  if (window > size) return false;
  for (size_t start = 0; start + window <= size; start += step) {
    if (!ToneDominates(samples, start, window, sample_rate, kFirstTestToneHz, kSecondTestToneHz)) {
      continue;
    }
    const size_t end = std::min(start + rate * 420 / 1000, size);
    for (size_t later = start + rate * 120 / 1000; later + window <= end; later += step) {
      if (ToneDominates(samples, later, window, sample_rate, kSecondTestToneHz, kFirstTestToneHz)) {
        return true;
      }
    }
  }
  return false;
}

}  // namespace zennic
