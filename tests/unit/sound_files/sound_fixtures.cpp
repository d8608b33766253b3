#include "sound_fixtures.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <numbers>
#include <sstream>

#include "support/run_command.h"

namespace zennic::testing {

void MakeToneFile(const std::filesystem::path& path, const ToneSpec& tone,
                  const std::vector<std::string>& output_options) {
  std::ostringstream expression;
  for (int c = 0; c < tone.channels; ++c) {
    if (c > 0) expression << "|";
    if (tone.only_channel >= 0 && c != tone.only_channel) {
      expression << "0";
    } else {
      expression << tone.amplitude << "*sin(2*PI*" << tone.frequency << "*t)";
    }
  }
  expression << ":s=" << tone.sample_rate << ":d=" << tone.seconds;
  std::vector<std::string> arguments = {"ffmpeg", "-hide_banner", "-loglevel",
                                        "error",  "-y",           "-f",
                                        "lavfi",  "-i",           "aevalsrc=" + expression.str()};
  arguments.insert(arguments.end(), output_options.begin(), output_options.end());
  arguments.push_back(path.string());
  std::string output;
  ASSERT_EQ(RunCommand(arguments, &output), 0) << output;
}

ToneFit FitTone(const std::vector<float>& samples, int channels, int channel, int sample_rate,
                double frequency) {
  const size_t frames = samples.size() / static_cast<size_t>(channels);
  const size_t begin = frames / 5;
  const size_t end = frames - frames / 5;
  if (end <= begin) return {};
  const double omega = 2.0 * std::numbers::pi * frequency / sample_rate;
  double sin_sum = 0.0;
  double cos_sum = 0.0;
  for (size_t f = begin; f < end; ++f) {
    const double x = samples[f * channels + channel];
    sin_sum += x * std::sin(omega * f);
    cos_sum += x * std::cos(omega * f);
  }
  const double count = static_cast<double>(end - begin);
  const double a = 2.0 * sin_sum / count;
  const double b = 2.0 * cos_sum / count;
  double residual = 0.0;
  for (size_t f = begin; f < end; ++f) {
    const double fitted = a * std::sin(omega * f) + b * std::cos(omega * f);
    const double difference = samples[f * channels + channel] - fitted;
    residual += difference * difference;
  }
  return {std::hypot(a, b), std::sqrt(residual / count)};
}

}  // namespace zennic::testing
