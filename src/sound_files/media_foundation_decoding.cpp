#include "sound_files/media_foundation_decoding.h"

#include <cstring>
#include <mutex>

namespace zennic {
namespace {

bool Fail(std::string* error, const std::string& message) {
  if (error != nullptr) *error = message;
  return false;
}

std::string UnavailableMessage(const MediaFoundationStatus& status) {
  return status.message.empty() ? kMediaFeaturePackMessage : status.message;
}

// False when the block would take the sound beyond the most samples a decode may hold.
bool AppendSamples(const std::vector<uint8_t>& block, MediaSampleFormat format,
                   uint64_t max_samples, std::vector<float>* samples) {
  const size_t sample_bytes = format == MediaSampleFormat::Float32 ? sizeof(float) : sizeof(int16_t);
  if (samples->size() + block.size() / sample_bytes > max_samples) return false;
  if (format == MediaSampleFormat::Float32) {
    const size_t count = block.size() / sizeof(float);
    const size_t start = samples->size();
    samples->resize(start + count);
    std::memcpy(samples->data() + start, block.data(), count * sizeof(float));
    return true;
  }
  const size_t count = block.size() / sizeof(int16_t);
  samples->reserve(samples->size() + count);
  for (size_t i = 0; i < count; ++i) {
    int16_t value;
    std::memcpy(&value, block.data() + i * sizeof value, sizeof value);
    samples->push_back(value * (1.0f / 32768.0f));
  }
  return true;
}

}  // namespace

bool TryStartMediaFoundation() { return StartMediaFramework(); }

MediaFoundationStatus EnsureMediaFoundation() {
  // call_once retries when the body throws, so a failed first start is tried again.
  static std::once_flag once;
  static MediaFoundationStatus status;
  std::call_once(once, [] {
    MediaFoundationStatus result;
    result.available = TryStartMediaFoundation();
    if (!result.available) result.message = kMediaFeaturePackMessage;
    status = result;
  });
  return status;
}

void FillFormatFromMediaType(const std::filesystem::path& path, const MediaAudioType& type,
                             uint64_t duration_100ns, AudioFormatInfo* out) {
  const std::string extension = LowerCaseExtension(path);
  out->sample_rate = type.samples_per_second;
  out->channels = static_cast<int32_t>(type.channels);
  out->bits_per_sample = type.bits_per_sample;
  out->probed = true;
  out->decodable = true;
  out->container = ContainerNameForExtension(extension);
  out->codec = CodecNameForMediaFoundationExtension(extension);
  out->frame_count = static_cast<uint64_t>(out->sample_rate) * duration_100ns / 10000000u;
  out->channel_mask = type.channel_mask;
}

bool DecodeWithMediaFoundation(const std::filesystem::path& path, DecodedAudioData* out,
                               std::string* error, const DecodeOptions& options) {
  const MediaFoundationStatus status = EnsureMediaFoundation();
  if (!status.available) return Fail(error, UnavailableMessage(status));
  MediaThreadScope thread_scope;
  if (!thread_scope.joined()) return Fail(error, "COM apartment initialization failed");
  std::unique_ptr<MediaSourceReader> reader = MediaSourceReader::Open(path);
  if (!reader) return Fail(error, "Media Foundation could not open the file");

  MediaSampleFormat format = MediaSampleFormat::Float32;
  if (!reader->SetOutputType(format)) {
    format = MediaSampleFormat::Pcm16;
    if (!reader->SetOutputType(format)) {
      return Fail(error, "Media Foundation could not configure a decodable audio output type");
    }
  }
  MediaAudioType current;
  if (!reader->GetCurrentType(&current)) {
    return Fail(error, "Media Foundation did not expose a current audio type");
  }
  uint64_t duration = 0;
  if (!reader->GetDuration(&duration)) duration = 0;
  FillFormatFromMediaType(options.NameOf(path), current, duration, out);
  uint64_t stated = 0;
  if (reader->GetStatedLength(&stated)) out->stated_frame_count = stated;

  out->samples.clear();
  std::error_code size_error;
  ReserveDecodedSamples(&out->samples, out->frame_count * current.channels,
                        std::filesystem::file_size(path, size_error));
  const uint64_t max_samples = options.SamplesFor(out->sample_rate, out->channels);
  std::vector<uint8_t> block;
  for (;;) {
    const MediaReadStatus read = reader->ReadSample(&block);
    if (read == MediaReadStatus::Failed) {
      return Fail(error, "Media Foundation failed while decoding audio samples");
    }
    if (read == MediaReadStatus::EndOfStream) break;
    if (!AppendSamples(block, format, max_samples, &out->samples)) return Fail(error, kAudioTooLong);
  }
  // The decoded length replaces the container's estimate.
  out->frame_count = out->channels < 1 ? 0 : out->samples.size() / out->channels;
  return true;
}

bool ProbeWithMediaFoundation(const std::filesystem::path& path, AudioFormatInfo* out,
                              std::string* error,
                const DecodeOptions& options) {
  const std::string extension = LowerCaseExtension(options.NameOf(path));
  const auto undecodable = [&](const char* code, const std::string& message) {
    out->probed = true;
    out->decodable = false;
    out->container = ContainerNameForExtension(extension);
    out->codec = CodecNameForMediaFoundationExtension(extension);
    out->issue_code = code;
    out->issue_message = message;
    return true;
  };
  const MediaFoundationStatus status = EnsureMediaFoundation();
  if (!status.available) {
    return undecodable("media_feature_pack_required", UnavailableMessage(status));
  }
  MediaThreadScope thread_scope;
  if (!thread_scope.joined()) return Fail(error, "COM apartment initialization failed");
  std::unique_ptr<MediaSourceReader> reader = MediaSourceReader::Open(path);
  if (!reader)
    return undecodable("decoder_unavailable", "Media Foundation could not open the file");
  MediaAudioType native;
  if (!reader->GetNativeType(&native)) {
    return undecodable("decoder_unavailable",
                       "Media Foundation could not read the file's audio stream");
  }
  uint64_t duration = 0;
  if (!reader->GetDuration(&duration)) duration = 0;
  FillFormatFromMediaType(options.NameOf(path), native, duration, out);
  return true;
}

}  // namespace zennic
