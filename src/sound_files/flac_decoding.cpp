#include "sound_files/flac_decoding.h"

#include <FLAC/stream_decoder.h>

#include <cmath>
#include <cstdio>
#include <cstring>
#include <memory>

namespace zennic {
namespace {

constexpr char kOpenFailure[] = "FLAC decoder could not open the file";

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
  uint32_t sample_rate = 0;
  uint32_t channels = 0;
  uint32_t bits_per_sample = 0;
  uint64_t total_frames = 0;  // 0 when the stream does not declare its length
  std::vector<float>* samples = nullptr;
};

FLAC__StreamDecoderWriteStatus OnFrame(const FLAC__StreamDecoder*, const FLAC__Frame* frame,
                                       const FLAC__int32* const buffer[], void* client) {
  auto* session = static_cast<FlacSession*>(client);
  // A frame that disagrees with the stream's layout cannot be interleaved with the rest.
  if (session->samples == nullptr || frame->header.channels != session->channels ||
      frame->header.bits_per_sample != session->bits_per_sample) {
    return FLAC__STREAM_DECODER_WRITE_STATUS_ABORT;
  }
  const float scale = std::ldexp(1.0f, -static_cast<int>(session->bits_per_sample - 1));
  const uint32_t channels = session->channels;
  const uint32_t block = frame->header.blocksize;
  std::vector<float>& samples = *session->samples;
  const size_t start = samples.size();
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
      !session->has_stream_info || session->sample_rate < 1 || session->channels < 1) {
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
  return decoder;
}

}  // namespace

bool ProbeFlacFile(const std::filesystem::path& path, AudioFormatInfo* out, std::string* error) {
  FlacSession session;
  return OpenFlac(path, &session, out) != nullptr || Fail(error);
}

bool DecodeFlacFile(const std::filesystem::path& path, DecodedAudioData* out, std::string* error) {
  FlacSession session;
  auto decoder = OpenFlac(path, &session, out);
  if (!decoder) return Fail(error);
  std::error_code size_error;
  ReserveDecodedSamples(&out->samples, session.total_frames * session.channels,
                        std::filesystem::file_size(path, size_error));
  session.samples = &out->samples;
  // Decoded to the end whatever the header declares: a stream may not declare its length,
  // and what was decoded before a fatal error stays.
  FLAC__stream_decoder_process_until_end_of_stream(decoder.get());
  FLAC__stream_decoder_finish(decoder.get());
  out->frame_count = out->samples.size() / session.channels;
  return true;
}

}  // namespace zennic
