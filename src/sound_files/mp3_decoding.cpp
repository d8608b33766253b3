#include "sound_files/mp3_decoding.h"

#include <mpg123.h>

#include <memory>

namespace zennic {
namespace {

constexpr char kOpenFailure[] = "MP3 decoder could not open the file";

struct Mpg123Deleter {
  void operator()(mpg123_handle* handle) const { mpg123_delete(handle); }
};
using Mpg123Handle = std::unique_ptr<mpg123_handle, Mpg123Deleter>;

bool Fail(std::string* error) {
  if (error != nullptr) *error = kOpenFailure;
  return false;
}

// Opens the file for float output at its own rate and channel count and reads the first frame's
// format into `out`, with the stream's length: counted by scanning every frame when `scan` is
// set, else as the header estimates it. Gapless decoding trims the encoder's delay and padding,
// so the length is the original's.
Mpg123Handle OpenMp3(const std::filesystem::path& path, bool scan, AudioFormatInfo* out) {
  int status = MPG123_OK;
  Mpg123Handle handle(mpg123_new(nullptr, &status));
  if (!handle) return nullptr;
  mpg123_handle* mh = handle.get();
  mpg123_param(mh, MPG123_ADD_FLAGS, MPG123_QUIET | MPG123_GAPLESS, 0.0);
  const long* rates = nullptr;
  size_t rate_count = 0;
  mpg123_rates(&rates, &rate_count);
  mpg123_format_none(mh);
  for (size_t i = 0; i < rate_count; ++i) {
    mpg123_format(mh, rates[i], MPG123_MONO | MPG123_STEREO, MPG123_ENC_FLOAT_32);
  }
  if (mpg123_open(mh, path.c_str()) != MPG123_OK) return nullptr;
  long rate = 0;
  int channels = 0;
  int encoding = 0;
  if (mpg123_getformat(mh, &rate, &channels, &encoding) != MPG123_OK || rate < 1 || channels < 1 ||
      encoding != MPG123_ENC_FLOAT_32) {
    return nullptr;
  }
  // Later frames are converted to the first frame's layout rather than changing it.
  mpg123_format_none(mh);
  mpg123_format(mh, rate, channels, MPG123_ENC_FLOAT_32);
  // Without an Info frame the library guesses a length from the file's size, and says nothing
  // of which it gave; the encoder's delay, which only an Info frame's LAME tag carries, tells.
  long encoder_delay = -1;
  double unused = 0;
  mpg123_getstate(mh, MPG123_ENC_DELAY, &encoder_delay, &unused);
  const off_t stated = encoder_delay >= 0 ? mpg123_length(mh) : 0;
  if (scan && mpg123_scan(mh) != MPG123_OK) return nullptr;
  const off_t length = mpg123_length(mh);

  out->probed = true;
  out->decodable = true;
  out->container = "MP3";
  out->codec = "MP3";
  out->sample_rate = static_cast<uint32_t>(rate);
  out->channels = channels;
  out->bits_per_sample = 0;
  out->frame_count = length > 0 ? static_cast<uint64_t>(length) : 0;
  out->stated_frame_count = stated > 0 ? static_cast<uint64_t>(stated) : 0;
  return handle;
}

}  // namespace

bool ProbeMp3File(const std::filesystem::path& path, AudioFormatInfo* out, std::string* error,
                const DecodeOptions&) {
  return OpenMp3(path, /*scan=*/true, out) != nullptr || Fail(error);
}

bool DecodeMp3File(const std::filesystem::path& path, DecodedAudioData* out, std::string* error,
                   const DecodeOptions& options) {
  // Decoding counts the frames itself; the estimate only sizes the array.
  Mpg123Handle handle = OpenMp3(path, /*scan=*/false, out);
  if (!handle) return Fail(error);
  std::vector<float>& samples = out->samples;
  std::error_code size_error;
  ReserveDecodedSamples(&samples, out->frame_count * static_cast<uint64_t>(out->channels),
                        std::filesystem::file_size(path, size_error));
  const uint64_t max_samples = options.SamplesFor(out->sample_rate, out->channels);
  std::vector<float> chunk(16384);
  for (;;) {
    size_t bytes = 0;
    const int status =
        mpg123_read(handle.get(), chunk.data(), chunk.size() * sizeof(float), &bytes);
    if (samples.size() + bytes / sizeof(float) > max_samples) {
      if (error != nullptr) *error = kAudioTooLong;
      return false;
    }
    samples.insert(samples.end(), chunk.begin(), chunk.begin() + bytes / sizeof(float));
    if (status == MPG123_OK) continue;
    // A read that fails is no end of the stream; a frame that cannot be decoded ends it, and
    // what was read before it stays.
    if (status == MPG123_ERR && mpg123_errcode(handle.get()) == MPG123_ERR_READER) {
      if (error != nullptr) *error = "MP3 decoder could not read the whole file";
      return false;
    }
    break;
  }
  out->frame_count = samples.size() / static_cast<size_t>(out->channels);
  samples.resize(out->frame_count * static_cast<size_t>(out->channels));
  return true;
}

}  // namespace zennic
