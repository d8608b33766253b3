#include "sound_files/ogg_vorbis_decoding.h"

#include <algorithm>
#include <climits>
#include <memory>

#define STB_VORBIS_HEADER_ONLY
#include <stb/stb_vorbis.h>

namespace zennic {
namespace {

constexpr char kNotVorbis[] = "Only Ogg Vorbis is supported in the current build";
constexpr int kChunkFrames = 4096;

struct VorbisCloser {
  void operator()(stb_vorbis* vorbis) const { stb_vorbis_close(vorbis); }
};
using VorbisDecoder = std::unique_ptr<stb_vorbis, VorbisCloser>;

// Null when the bytes are not an Ogg Vorbis stream (Opus, damaged, or not Ogg at all).
VorbisDecoder OpenVorbis(const std::vector<uint8_t>& bytes, AudioFormatInfo* out) {
  if (bytes.size() > static_cast<size_t>(INT_MAX)) return nullptr;
  int status = 0;
  VorbisDecoder vorbis(
      stb_vorbis_open_memory(bytes.data(), static_cast<int>(bytes.size()), &status, nullptr));
  if (!vorbis) return nullptr;
  const stb_vorbis_info info = stb_vorbis_get_info(vorbis.get());
  out->probed = true;
  out->decodable = true;
  out->container = "Ogg";
  out->codec = "Vorbis";
  out->sample_rate = info.sample_rate;
  out->channels = info.channels;
  out->bits_per_sample = 0;
  out->frame_count = stb_vorbis_stream_length_in_samples(vorbis.get());
  return vorbis;
}

}  // namespace

bool ProbeOggVorbisFile(const std::filesystem::path& path, AudioFormatInfo* out,
                        std::string* error) {
  std::vector<uint8_t> bytes;
  if (!ReadWholeFile(path, &bytes, error)) return false;
  if (!OpenVorbis(bytes, out)) {
    out->probed = true;
    out->decodable = false;
    out->container = "Ogg";
    out->codec = "Unknown";
    out->issue_code = "codec_ogg_opus_unsupported";
    out->issue_message = kNotVorbis;
  }
  return true;
}

bool DecodeOggVorbisFile(const std::filesystem::path& path, DecodedAudioData* out,
                         std::string* error) {
  std::vector<uint8_t> bytes;
  if (!ReadWholeFile(path, &bytes, error)) return false;
  VorbisDecoder vorbis = OpenVorbis(bytes, out);
  if (!vorbis) {
    if (error != nullptr) *error = kNotVorbis;
    return false;
  }
  const int channels = std::max(out->channels, 1);
  ReserveDecodedSamples(&out->samples, out->frame_count * static_cast<uint64_t>(channels),
                        bytes.size());
  // Vorbis is read as 16-bit samples, so it reaches the float array quantised to 16 bits.
  std::vector<short> chunk(static_cast<size_t>(channels) * kChunkFrames);
  for (;;) {
    const int frames = stb_vorbis_get_samples_short_interleaved(
        vorbis.get(), channels, chunk.data(), static_cast<int>(chunk.size()));
    if (frames < 1) break;
    const size_t count = static_cast<size_t>(frames) * channels;
    const size_t start = out->samples.size();
    out->samples.resize(start + count);
    float* samples = out->samples.data() + start;
    for (size_t i = 0; i < count; ++i) samples[i] = chunk[i] * (1.0f / 32768.0f);
  }
  out->frame_count = out->channels < 1 ? 0 : out->samples.size() / out->channels;
  return true;
}

}  // namespace zennic
