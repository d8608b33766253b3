#pragma once

#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

namespace zennic::testing {

// A sine tone on every channel.
struct ToneSpec {
  int sample_rate = 44100;
  int channels = 2;
  double seconds = 1.0;
  double amplitude = 0.5;
  double frequency = 1000.0;
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

// Little-endian bytes, for hand-made files.
std::string Le16(uint16_t value);
std::string Le32(uint32_t value);
// The 16 bytes of a plain fmt chunk body.
std::string FmtBody(uint16_t format_tag, uint16_t channels, uint32_t sample_rate, uint16_t bits,
                    uint16_t block_align);
struct RiffChunk {
  std::string id;
  std::string body;
  uint32_t declared_size = UINT32_MAX;  // the body's size unless set
};
// "RIFF" <size> "WAVE" and the chunks, each padded to an even length.
std::string RiffWave(const std::vector<RiffChunk>& chunks);
std::string FloatBytes(const std::vector<float>& samples);

// Cuts the file to the given fraction of its length.
void TruncateFile(const std::filesystem::path& path, double fraction);

}  // namespace zennic::testing
