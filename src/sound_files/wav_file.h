#pragma once

#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

#include "sound_files/audio_decoding.h"

namespace zennic {

// The header facts of a RIFF/WAVE file.
struct WavFormatInfo {
  bool parsed = false;      // a fmt chunk was parsed
  bool decodable = false;   // DecodeWavFile can decode this format
  std::string codec;        // "PCM16", "Float32", ... else "Unknown"
  uint16_t format_tag = 0;  // 1 PCM, 3 IEEE float; the sub-format's code for the extensible form
  int32_t channels = 0;
  uint32_t sample_rate = 0;
  uint32_t bits_per_sample = 0;
  uint32_t block_align = 0;
  uint64_t data_offset = 0;  // file offset of the data chunk's first byte
  uint64_t data_size = 0;    // as the data chunk's header declares it
  uint64_t frame_count = 0;  // data_size / block_align
  uint32_t channel_mask = 0;  // the extensible form's speakers; 0 when the file names none
};

struct DecodedWavData : WavFormatInfo {
  std::vector<float> samples;  // interleaved: channel c of frame f at f * channels + c
};

bool ReadWavFormatInfo(const std::filesystem::path& path, WavFormatInfo* out, std::string* error);
bool ParseWavFmtChunk(const std::vector<uint8_t>& fmt, WavFormatInfo* out, std::string* error);
// PCM 8/16/24/32 and float 32/64 to floats; integers scaled by 1/2^(bits-1), nothing clamped.
// An empty data chunk followed by more data is a failure, not silence: the audio is there, the
// header only fails to count it.
bool DecodeWavFile(const std::filesystem::path& path, DecodedWavData* out, std::string* error,
                   const DecodeOptions& options = {});
// A canonical 16-bit PCM WAV with the 44-byte header, written to `path` itself; callers that
// need an atomic result write to a temporary name and move it.
bool WriteWavFile(const std::filesystem::path& path, uint32_t sample_rate, int32_t channels,
                  const std::vector<int16_t>& samples, std::string* error);

// The same file written a block at a time, so that a long sound need not be held whole. The
// header declares `sample_count` samples up front; Finish fails unless exactly that many came.
class Pcm16WavWriter {
 public:
  Pcm16WavWriter() = default;
  Pcm16WavWriter(const Pcm16WavWriter&) = delete;
  Pcm16WavWriter& operator=(const Pcm16WavWriter&) = delete;
  ~Pcm16WavWriter();

  bool Open(const std::filesystem::path& path, uint32_t sample_rate, int32_t channels,
            uint64_t sample_count, std::string* error);
  // False once a write failed or more came than the header declares.
  bool Append(const int16_t* samples, size_t count);
  bool Finish(std::string* error);

 private:
  std::FILE* file_ = nullptr;
  uint64_t remaining_ = 0;
  bool failed_ = false;
};

}  // namespace zennic
