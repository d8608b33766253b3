#include "sound_files/ogg_vorbis_decoding.h"

#include <vorbis/vorbisfile.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <exception>
#include <functional>
#include <thread>

namespace zennic {
namespace {

constexpr char kNotVorbis[] = "Only Ogg Vorbis is supported in the current build";
constexpr char kMixedSections[] = "Ogg Vorbis sections with different formats are not supported";
constexpr int kChunkFrames = 4096;
// Damaged pages in a row after which the rest of the stream is taken as lost.
constexpr int kMaxDamagedReadsInARow = 64;
// Long streams are decoded in parts of at least this length, on at most so many threads.
constexpr uint64_t kMinSecondsPerPart = 10;
constexpr unsigned kMaxParts = 8;

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
  // The last page's position: a stream whose pages run out before it has lost audio.
  out->frame_count = total > 0 ? static_cast<uint64_t>(total) : 0;
  out->stated_frame_count = out->frame_count;
  out->channel_mask = StandardChannelMask(first->channels);
  return true;
}

enum class ReadOutcome { kEnd, kDamaged, kRefused, kFailed };

// Hands up to `limit` frames (all that are left when negative) to `consume` a block at a time,
// interleaved in the channel mask's order; `consume` refuses a block by returning false.
ReadOutcome ReadFrames(OggVorbis_File* file, size_t channels, int64_t limit,
                       const std::function<bool(const float*, size_t frames)>& consume) {
  const int* order = VorbisToMaskOrder(static_cast<int>(channels));
  std::vector<float> chunk(channels * kChunkFrames);
  bool damaged = false;
  int damaged_in_a_row = 0;
  for (int64_t done = 0; limit < 0 || done < limit;) {
    float** pcm = nullptr;
    int section = 0;
    const long read = ov_read_float(file, &pcm, kChunkFrames, &section);
    if (read == 0) break;
    // A hole or a damaged section is skipped, as players do.
    if (read == OV_HOLE || read == OV_EBADLINK) {
      damaged = true;
      if (++damaged_in_a_row > kMaxDamagedReadsInARow) break;
      continue;
    }
    if (read < 0) return ReadOutcome::kFailed;
    damaged_in_a_row = 0;
    const auto frames =
        static_cast<size_t>(limit < 0 ? read : std::min<int64_t>(read, limit - done));
    for (size_t c = 0; c < channels; ++c) {
      const float* in = pcm[c];
      float* column = chunk.data() + (order != nullptr ? order[c] : c);
      for (size_t f = 0; f < frames; ++f) column[f * channels] = in[f];
    }
    if (!consume(chunk.data(), frames)) return ReadOutcome::kRefused;
    done += static_cast<int64_t>(frames);
  }
  return damaged ? ReadOutcome::kDamaged : ReadOutcome::kEnd;
}

// Decodes a long stream in parts on several threads, each into its own stretch of `samples`.
// Each part seeks to its first frame, which the library does sample-exact, so the parts join
// into what one pass gives. False when the stream is short or any part does not come out
// whole; one pass then decodes it, damage and all.
bool DecodeInParts(const std::vector<uint8_t>& bytes, size_t channels, uint64_t total,
                   uint32_t sample_rate, uint64_t max_samples, std::vector<float>* samples) {
  const uint64_t threads = std::clamp(std::thread::hardware_concurrency(), 1u, kMaxParts);
  const uint64_t parts =
      std::min<uint64_t>(threads, total / (uint64_t{sample_rate} * kMinSecondsPerPart + 1));
  // The whole length is made room for at once, so it must be plausible for the file's size.
  if (parts < 2 || total * channels > max_samples ||
      total * channels > PlausibleDecodedSamples(bytes.size())) {
    return false;
  }
  samples->assign(total * channels, 0.0f);
  // Frames past the stated length, which only the last part reads.
  std::vector<float> beyond;
  std::vector<char> whole(parts, 0);
  {
    std::vector<std::jthread> workers;
    for (uint64_t k = 0; k < parts; ++k) {
      workers.emplace_back([&, k] {
        try {
          const uint64_t first = total * k / parts;
          const uint64_t end = total * (k + 1) / parts;
          const bool last = k + 1 == parts;
          VorbisStream part(bytes);
          if (!part.open() ||
              (first > 0 && ov_pcm_seek(part.file(), static_cast<ogg_int64_t>(first)) != 0)) {
            return;
          }
          float* next = samples->data() + first * channels;
          float* const stop = samples->data() + end * channels;
          const auto consume = [&](const float* block, size_t frames) {
            const size_t count = frames * channels;
            const size_t inside = std::min<size_t>(count, static_cast<size_t>(stop - next));
            std::copy(block, block + inside, next);
            next += inside;
            if (inside == count) return true;
            if (beyond.size() + count - inside + samples->size() > max_samples) return false;
            beyond.insert(beyond.end(), block + inside, block + count);
            return true;
          };
          const int64_t limit = last ? -1 : static_cast<int64_t>(end - first);
          whole[k] = ReadFrames(part.file(), channels, limit, consume) == ReadOutcome::kEnd &&
                     next == stop;
        } catch (const std::exception&) {
          // Out of memory: the part is not whole, and one pass decides.
        }
      });
    }
  }
  if (std::find(whole.begin(), whole.end(), 0) != whole.end()) return false;
  samples->insert(samples->end(), beyond.begin(), beyond.end());
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
                        std::string* error,
                const DecodeOptions&) {
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
                         std::string* error, const DecodeOptions& options) {
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
  const uint64_t max_samples = options.SamplesFor(out->sample_rate, out->channels);
  if (ov_streams(stream.file()) != 1 ||
      !DecodeInParts(bytes, channels, out->frame_count, out->sample_rate, max_samples,
                     &out->samples)) {
    out->samples.clear();
    ReserveDecodedSamples(&out->samples, out->frame_count * channels, bytes.size());
    std::vector<float>& samples = out->samples;
    const ReadOutcome outcome =
        ReadFrames(stream.file(), channels, -1, [&](const float* block, size_t frames) {
          if (samples.size() + frames * channels > max_samples) return false;
          samples.insert(samples.end(), block, block + frames * channels);
          return true;
        });
    if (outcome == ReadOutcome::kRefused) return fail(kAudioTooLong);
    if (outcome == ReadOutcome::kFailed) return fail(kNotVorbis);
  }
  out->frame_count = out->samples.size() / channels;
  return true;
}

}  // namespace zennic
