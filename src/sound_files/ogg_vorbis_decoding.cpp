#include "sound_files/ogg_vorbis_decoding.h"

#include <vorbis/vorbisfile.h>

#include <algorithm>
#include <cstdio>
#include <cstring>

namespace zennic {
namespace {

constexpr char kNotVorbis[] = "Only Ogg Vorbis is supported in the current build";
constexpr char kMixedSections[] = "Ogg Vorbis sections with different formats are not supported";
constexpr int kChunkFrames = 4096;
// Damaged pages in a row after which the rest of the stream is taken as lost.
constexpr int kMaxDamagedReadsInARow = 64;

// The file's bytes as the library reads them.
struct MemoryStream {
  const std::vector<uint8_t>* bytes;
  size_t position = 0;
};

size_t ReadMemory(void* buffer, size_t size, size_t count, void* source) {
  auto* stream = static_cast<MemoryStream*>(source);
  if (size == 0) return 0;
  const size_t left = stream->bytes->size() - stream->position;
  const size_t items = std::min(count, left / size);
  std::memcpy(buffer, stream->bytes->data() + stream->position, items * size);
  stream->position += items * size;
  return items;
}

int SeekMemory(void* source, ogg_int64_t offset, int whence) {
  auto* stream = static_cast<MemoryStream*>(source);
  const auto size = static_cast<ogg_int64_t>(stream->bytes->size());
  ogg_int64_t base = 0;
  if (whence == SEEK_CUR) base = static_cast<ogg_int64_t>(stream->position);
  if (whence == SEEK_END) base = size;
  if (offset < -base || offset > size - base) return -1;
  stream->position = static_cast<size_t>(base + offset);
  return 0;
}

long TellMemory(void* source) { return static_cast<long>(static_cast<MemoryStream*>(source)->position); }

// Where each channel of Vorbis' own order goes in the channel mask's order, for 3 to 8
// channels (Vorbis puts the centre between the fronts and the LFE last).
const int* VorbisToMaskOrder(int channels) {
  static constexpr int kThree[] = {0, 2, 1};
  static constexpr int kFive[] = {0, 2, 1, 3, 4};
  static constexpr int kSix[] = {0, 2, 1, 4, 5, 3};
  static constexpr int kSeven[] = {0, 2, 1, 5, 6, 4, 3};
  static constexpr int kEight[] = {0, 2, 1, 6, 7, 4, 5, 3};
  switch (channels) {
    case 3: return kThree;
    case 5: return kFive;
    case 6: return kSix;
    case 7: return kSeven;
    case 8: return kEight;
    default: return nullptr;
  }
}

// An open Vorbis stream over bytes in memory.
class VorbisStream {
 public:
  explicit VorbisStream(const std::vector<uint8_t>& bytes) : memory_{&bytes} {
    const ov_callbacks callbacks = {ReadMemory, SeekMemory, nullptr, TellMemory};
    open_ = ov_open_callbacks(&memory_, &file_, nullptr, 0, callbacks) == 0;
  }
  ~VorbisStream() {
    if (open_) ov_clear(&file_);
  }
  VorbisStream(const VorbisStream&) = delete;
  VorbisStream& operator=(const VorbisStream&) = delete;

  bool open() const { return open_; }
  OggVorbis_File* file() { return &file_; }

 private:
  MemoryStream memory_;
  OggVorbis_File file_{};
  bool open_ = false;
};

// Fills `out` from the stream's first section; false when a later section changes the rate or
// the channel count, which one array of frames cannot hold.
bool ReadFormat(OggVorbis_File* file, AudioFormatInfo* out) {
  const vorbis_info* first = ov_info(file, 0);
  if (first == nullptr) return false;
  for (long link = 1; link < ov_streams(file); ++link) {
    const vorbis_info* info = ov_info(file, static_cast<int>(link));
    if (info == nullptr || info->channels != first->channels || info->rate != first->rate) {
      return false;
    }
  }
  out->probed = true;
  out->decodable = true;
  out->container = "Ogg";
  out->codec = "Vorbis";
  out->sample_rate = first->rate > 0 ? static_cast<uint32_t>(first->rate) : 0;
  out->channels = first->channels;
  out->bits_per_sample = 0;
  const ogg_int64_t total = ov_pcm_total(file, -1);
  out->frame_count = total > 0 ? static_cast<uint64_t>(total) : 0;
  out->channel_mask = StandardChannelMask(first->channels);
  return true;
}

void MarkUndecodable(const char* code, const char* message, AudioFormatInfo* out) {
  *out = AudioFormatInfo();
  out->probed = true;
  out->container = "Ogg";
  out->codec = "Unknown";
  out->issue_code = code;
  out->issue_message = message;
}

}  // namespace

bool ProbeOggVorbisFile(const std::filesystem::path& path, AudioFormatInfo* out,
                        std::string* error) {
  std::vector<uint8_t> bytes;
  if (!ReadWholeFile(path, &bytes, error)) return false;
  VorbisStream stream(bytes);
  if (!stream.open()) {
    MarkUndecodable("codec_ogg_opus_unsupported", kNotVorbis, out);
  } else if (!ReadFormat(stream.file(), out)) {
    MarkUndecodable("codec_unsupported", kMixedSections, out);
  }
  return true;
}

bool DecodeOggVorbisFile(const std::filesystem::path& path, DecodedAudioData* out,
                         std::string* error) {
  const auto fail = [error](const char* message) {
    if (error != nullptr) *error = message;
    return false;
  };
  std::vector<uint8_t> bytes;
  if (!ReadWholeFile(path, &bytes, error)) return false;
  VorbisStream stream(bytes);
  if (!stream.open()) return fail(kNotVorbis);
  if (!ReadFormat(stream.file(), out)) return fail(kMixedSections);
  if (out->channels < 1) return true;
  const size_t channels = static_cast<size_t>(out->channels);
  ReserveDecodedSamples(&out->samples, out->frame_count * channels, bytes.size());
  const int* order = VorbisToMaskOrder(out->channels);

  // Read as 16-bit samples, so Vorbis reaches the float array quantised to 16 bits.
  std::vector<int16_t> chunk(channels * kChunkFrames);
  const int frame_bytes = static_cast<int>(channels * sizeof(int16_t));
  int damaged_in_a_row = 0;
  for (;;) {
    int section = 0;
    const long read = ov_read(stream.file(), reinterpret_cast<char*>(chunk.data()),
                              static_cast<int>(chunk.size() * sizeof(int16_t)),
                              /*bigendianp=*/0, /*word=*/2, /*sgned=*/1, &section);
    if (read == 0) break;
    // A hole or a damaged section is skipped, as players do.
    if (read == OV_HOLE || read == OV_EBADLINK) {
      if (++damaged_in_a_row > kMaxDamagedReadsInARow) break;
      continue;
    }
    if (read < 0) return fail(kNotVorbis);
    damaged_in_a_row = 0;
    const size_t frames = static_cast<size_t>(read / frame_bytes);
    const size_t start = out->samples.size();
    if (start + frames * channels > kMaxAudioSamples) return fail(kAudioTooLong);
    out->samples.resize(start + frames * channels);
    float* samples = out->samples.data() + start;
    for (size_t f = 0; f < frames; ++f) {
      const int16_t* in = chunk.data() + f * channels;
      float* frame = samples + f * channels;
      for (size_t c = 0; c < channels; ++c) {
        frame[order != nullptr ? order[c] : c] = in[c] * (1.0f / 32768.0f);
      }
    }
  }
  out->frame_count = out->samples.size() / channels;
  return true;
}

}  // namespace zennic
