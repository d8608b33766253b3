#include "sound_files/flac_decoding.h"

#include <FLAC/stream_decoder.h>

#include <cmath>
#include <cstdio>
#include <cstring>
#include <memory>

namespace zennic {
namespace {

constexpr char kOpenFailure[] = "FLAC decoder could not open the file";
constexpr char kReadFailure[] = "FLAC decoder could not read the whole file";

struct DecoderDeleter {
  void operator()(FLAC__StreamDecoder* decoder) const { FLAC__stream_decoder_delete(decoder); }
};

bool Fail(std::string* error) {
  if (error != nullptr) *error = kOpenFailure;
  return false;
}

// What the callbacks fill: the stream information, and the samples when decoding.
struct FlacSession {
  bool has_stream_info = false;
  bool too_long = false;
  uint64_t max_samples = 0;
  uint32_t sample_rate = 0;
  uint32_t channels = 0;
  uint32_t bits_per_sample = 0;
  uint64_t total_frames = 0;  // 0 when the stream does not declare its length
  std::vector<float>* samples = nullptr;
};

FLAC__StreamDecoderWriteStatus OnFrame(const FLAC__StreamDecoder*, const FLAC__Frame* frame,
                                       const FLAC__int32* const buffer[], void* client) {
  auto* session = static_cast<FlacSession*>(client);
  if (session->samples == nullptr) return FLAC__STREAM_DECODER_WRITE_STATUS_ABORT;
  // A damaged frame that disagrees with the stream's layout cannot be interleaved with the
  // rest; it is skipped like any other damaged frame.
  if (frame->header.channels != session->channels ||
      frame->header.bits_per_sample != session->bits_per_sample) {
    return FLAC__STREAM_DECODER_WRITE_STATUS_CONTINUE;
  }
  const float scale = std::ldexp(1.0f, -static_cast<int>(session->bits_per_sample - 1));
  const uint32_t channels = session->channels;
  const uint32_t block = frame->header.blocksize;
  std::vector<float>& samples = *session->samples;
  const size_t start = samples.size();
  if (start + static_cast<uint64_t>(block) * channels > session->max_samples) {
    session->too_long = true;
    return FLAC__STREAM_DECODER_WRITE_STATUS_ABORT;
  }
  samples.resize(start + static_cast<size_t>(block) * channels);
  float* out = samples.data() + start;
  for (uint32_t c = 0; c < channels; ++c) {
    const FLAC__int32* in = buffer[c];
    for (uint32_t i = 0; i < block; ++i) out[i * channels + c] = static_cast<float>(in[i]) * scale;
  }
  return FLAC__STREAM_DECODER_WRITE_STATUS_CONTINUE;
}

void OnMetadata(const FLAC__StreamDecoder*, const FLAC__StreamMetadata* metadata, void* client) {
  if (metadata->type != FLAC__METADATA_TYPE_STREAMINFO) return;
  auto* session = static_cast<FlacSession*>(client);
  const auto& info = metadata->data.stream_info;
  session->has_stream_info = true;
  session->sample_rate = info.sample_rate;
  session->channels = info.channels;
  session->bits_per_sample = info.bits_per_sample;
  session->total_frames = info.total_samples;
}

// Damaged frames are reported here; the decoder skips them and goes on.
void OnError(const FLAC__StreamDecoder*, FLAC__StreamDecoderErrorStatus, void*) {}

bool IsOggFile(std::FILE* file) {
  char magic[4] = {};
  const bool ogg = std::fread(magic, 1, sizeof magic, file) == sizeof magic &&
                   std::memcmp(magic, "OggS", 4) == 0;
  std::rewind(file);
  return ogg;
}

// Opens native or Ogg-wrapped FLAC and reads the stream information into `out`.
std::unique_ptr<FLAC__StreamDecoder, DecoderDeleter> OpenFlac(const std::filesystem::path& path,
                                                              FlacSession* session,
                                                              AudioFormatInfo* out) {
  std::FILE* file = std::fopen(path.c_str(), "rb");
  if (file == nullptr) return nullptr;
  std::unique_ptr<FLAC__StreamDecoder, DecoderDeleter> decoder(FLAC__stream_decoder_new());
  if (!decoder) {
    std::fclose(file);
    return nullptr;
  }
  // The decoder owns the file from here on, also when initialisation fails.
  const FLAC__StreamDecoderInitStatus init =
      IsOggFile(file) ? FLAC__stream_decoder_init_ogg_FILE(decoder.get(), file, OnFrame, OnMetadata,
                                                           OnError, session)
                      : FLAC__stream_decoder_init_FILE(decoder.get(), file, OnFrame, OnMetadata,
                                                       OnError, session);
  if (init != FLAC__STREAM_DECODER_INIT_STATUS_OK) return nullptr;
  if (!FLAC__stream_decoder_process_until_end_of_metadata(decoder.get()) ||
      !session->has_stream_info || session->sample_rate < 1 || session->channels < 1 ||
      session->bits_per_sample < 4 || session->bits_per_sample > 32) {
    return nullptr;
  }
  out->probed = true;
  out->decodable = true;
  out->container = "FLAC";
  out->codec = "FLAC";
  out->sample_rate = session->sample_rate;
  out->channels = static_cast<int32_t>(session->channels);
  out->bits_per_sample = session->bits_per_sample;
  out->frame_count = session->total_frames;
  out->stated_frame_count = session->total_frames;
  out->channel_mask = StandardChannelMask(out->channels);
  return decoder;
}

}  // namespace

bool ProbeFlacFile(const std::filesystem::path& path, AudioFormatInfo* out, std::string* error,
                const DecodeOptions&) {
  FlacSession session;
  return OpenFlac(path, &session, out) != nullptr || Fail(error);
}

bool DecodeFlacFile(const std::filesystem::path& path, DecodedAudioData* out, std::string* error,
                    const DecodeOptions& options) {
  FlacSession session;
  auto decoder = OpenFlac(path, &session, out);
  if (!decoder) return Fail(error);
  session.max_samples = options.SamplesFor(session.sample_rate, static_cast<int32_t>(session.channels));
  std::error_code size_error;
  ReserveDecodedSamples(&out->samples, session.total_frames * session.channels,
                        std::filesystem::file_size(path, size_error));
  session.samples = &out->samples;
  // Decoded to the end whatever the header declares: a stream may not declare its length, and
  // damaged frames are skipped. Only a read that fails is a failure, not the end of the file.
  FLAC__stream_decoder_process_until_end_of_stream(decoder.get());
  const FLAC__StreamDecoderState state = FLAC__stream_decoder_get_state(decoder.get());
  FLAC__stream_decoder_finish(decoder.get());
  if (session.too_long) {
    if (error != nullptr) *error = kAudioTooLong;
    return false;
  }
  if (state != FLAC__STREAM_DECODER_END_OF_STREAM) {
    if (error != nullptr) *error = kReadFailure;
    return false;
  }
  out->frame_count = out->samples.size() / session.channels;
  return true;
}

}  // namespace zennic
