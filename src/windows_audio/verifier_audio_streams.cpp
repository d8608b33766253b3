#include "windows_audio/verifier_audio_streams.h"

#include <algorithm>
#include <cmath>

namespace zennic {
namespace {

// 20 ms in 100-ns units.
constexpr int64_t kSharedBufferDuration100ns = 200000;

bool Fail(std::string* error, std::string text) {
  if (error != nullptr) *error = std::move(text);
  return false;
}

}  // namespace

std::unique_ptr<AudioEndpoint> OpenEndpointById(const AudioSystemFactory& audio_systems,
                                                const std::string& endpoint_id,
                                                AudioResult* result) {
  AudioResult opened = audio_result::kServiceNotRunning;
  std::unique_ptr<AudioSystem> system;
  if (audio_systems) system = audio_systems(&opened);
  std::unique_ptr<AudioEndpoint> endpoint;
  if (system == nullptr) {
    if (AudioSucceeded(opened)) opened = audio_result::kServiceNotRunning;
  } else {
    // The endpoint outlives the connection that opened it.
    opened = system->OpenEndpoint(endpoint_id, &endpoint);
    if (AudioSucceeded(opened) && endpoint == nullptr) opened = audio_result::kNotFound;
  }
  if (result != nullptr) *result = opened;
  return AudioSucceeded(opened) ? std::move(endpoint) : nullptr;
}

bool OpenSharedAudioClient(AudioEndpoint* endpoint, std::unique_ptr<AudioClient>* client,
                           EndpointFormat* format, std::string* error) {
  if (endpoint == nullptr || client == nullptr || format == nullptr) {
    return Fail(error, "invalid_audio_client_parameters");
  }
  AudioResult result = endpoint->Activate(client);
  if (AudioFailed(result) || *client == nullptr) {
    return Fail(error, FormatHresult("audio_client_activation_failed",
                                     AudioFailed(result) ? result : audio_result::kFail));
  }
  AudioMixFormat mix_format;
  result = (*client)->GetMixFormat(&mix_format);
  if (AudioFailed(result)) return Fail(error, FormatHresult("audio_mix_format_failed", result));
  if (!ReadEndpointFormat(mix_format, format)) return Fail(error, "unsupported_audio_mix_format");
  result = (*client)->Initialize(mix_format, kSharedBufferDuration100ns);
  if (AudioFailed(result)) {
    return Fail(error, FormatHresult("shared_audio_client_initialization_failed", result));
  }
  return true;
}

bool DrainCaptureToMono(AudioCaptureClient* capture, const EndpointFormat& format,
                        std::vector<float>* samples, std::string* error) {
  uint32_t waiting = 0;
  AudioResult result = capture->GetNextPacketSize(&waiting);
  if (AudioFailed(result)) return Fail(error, FormatHresult("capture_packet_query_failed", result));
  std::vector<float> decoded;
  while (waiting > 0) {
    uint8_t* data = nullptr;
    uint32_t frames = 0;
    uint32_t flags = 0;
    result = capture->GetBuffer(&data, &frames, &flags);
    if (AudioFailed(result)) {
      return Fail(error, FormatHresult("capture_buffer_read_failed", result));
    }
    if (samples != nullptr && format.channels > 0) {
      if ((flags & kAudioBufferFlagSilent) != 0 || data == nullptr) {
        samples->insert(samples->end(), frames, 0.0f);
      } else {
        DecodeCapturedSamples(data, frames, format, &decoded);
        const uint32_t second = format.channels > 1 ? 1 : 0;
        for (uint32_t frame = 0; frame < frames; ++frame) {
          const float* channels = decoded.data() + size_t{frame} * format.channels;
          float left = std::isfinite(channels[0]) ? channels[0] : 0.0f;
          float right = std::isfinite(channels[second]) ? channels[second] : 0.0f;
          samples->push_back((left + right) * 0.5f);
        }
      }
    }
    capture->ReleaseBuffer(frames);
    result = capture->GetNextPacketSize(&waiting);
    if (AudioFailed(result)) {
      return Fail(error, FormatHresult("capture_packet_query_failed", result));
    }
  }
  return true;
}

RecordingLevels MeasureRecordingLevels(const std::vector<float>& samples) {
  RecordingLevels levels;
  double energy = 0.0;
  for (float sample : samples) {
    if (!std::isfinite(sample)) continue;
    double magnitude = std::fabs(static_cast<double>(sample));
    levels.peak = std::max(levels.peak, magnitude);
    energy += magnitude * magnitude;
    ++levels.finite_samples;
  }
  if (levels.finite_samples > 0) {
    levels.rms = std::sqrt(energy / static_cast<double>(levels.finite_samples));
  }
  return levels;
}

double LevelToDbfs(double linear) {
  return linear > 0.000001 ? std::max(20.0 * std::log10(linear), -120.0) : -120.0;
}

}  // namespace zennic
