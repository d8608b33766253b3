#pragma once

#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

#include "support/sound_file_bytes.h"

namespace zennic::testing {

// A sine tone on every channel, or on one alone.
struct ToneSpec {
  int sample_rate = 44100;
  int channels = 2;
  double seconds = 1.0;
  double amplitude = 0.5;
  double frequency = 1000.0;
  int only_channel = -1;  // the one channel that carries the tone; -1 for all
};

// Encodes the tone into `path` with ffmpeg and the given output options (codec, rate, format);
// fails the test when ffmpeg does.
void MakeToneFile(const std::filesystem::path& path, const ToneSpec& tone,
                  const std::vector<std::string>& output_options);

// The amplitude of one frequency in one channel, and the RMS of what is left once it is taken
// out; measured over the middle of the signal so that codec edges do not count.
struct ToneFit {
  double amplitude = 0.0;
  double residual_rms = 0.0;
};
ToneFit FitTone(const std::vector<float>& samples, int channels, int channel, int sample_rate,
                double frequency);

}  // namespace zennic::testing
