#include "windows_audio/microphone_signal_verifier.h"

#include <algorithm>
#include <chrono>
#include <thread>

#include "windows_audio/endpoint_rules.h"
#include "windows_audio/verifier_audio_streams.h"

namespace zennic {
namespace {

constexpr int kShortestCaptureMs = 250;
constexpr int kLongestCaptureMs = 5000;
constexpr auto kCapturePace = std::chrono::milliseconds(5);
// A voice, not a click or the noise floor.
constexpr double kMinimumPeak = 0.015;
constexpr double kMinimumRms = 0.002;

class WasapiMicrophoneSignalVerifier final : public MicrophoneSignalVerifier {
 public:
  explicit WasapiMicrophoneSignalVerifier(AudioSystemFactory audio_systems)
      : audio_systems_(std::move(audio_systems)) {}

  MicrophoneSignalVerificationResult Verify(const MixerDeviceInfo& microphone,
                                            int duration_ms) override {
    MicrophoneSignalVerificationResult result;
    result.microphone_id = microphone.id;
    result.microphone_name = microphone.name;
    if (microphone.id.empty() || microphone.name.empty()) {
      result.error_code = "microphone_not_selected";
      return result;
    }
    // The cable would only hear what the program itself plays into it.
    if (IsCableInputDeviceName(microphone.name) || IsCableOutputDeviceName(microphone.name)) {
      result.error_code = "selected_microphone_is_virtual_cable";
      return result;
    }
    result.attempted = true;
    std::vector<float> samples;
    uint32_t sample_rate = 0;
    std::string error;
    if (!CaptureMicrophoneSamples(audio_systems_, microphone,
                                  std::clamp(duration_ms, kShortestCaptureMs, kLongestCaptureMs),
                                  &samples, &sample_rate, &result.accessible, &error)) {
      result.error_code =
          result.accessible ? "microphone_capture_failed" : "microphone_unavailable";
      return result;
    }
    RecordingLevels levels = MeasureRecordingLevels(samples);
    result.peak_dbfs = LevelToDbfs(levels.peak);
    result.rms_dbfs = LevelToDbfs(levels.rms);
    result.signal_detected =
        levels.finite_samples > 0 && levels.peak >= kMinimumPeak && levels.rms >= kMinimumRms;
    if (!result.signal_detected) result.error_code = "no_microphone_signal";
    return result;
  }

 private:
  const AudioSystemFactory audio_systems_;
};

bool Fail(std::string* error, std::string text) {
  if (error != nullptr) *error = std::move(text);
  return false;
}

}  // namespace

bool CaptureMicrophoneSamples(const AudioSystemFactory& audio_systems,
                              const MixerDeviceInfo& microphone, int duration_ms,
                              std::vector<float>* samples, uint32_t* sample_rate, bool* accessible,
                              std::string* error) {
  if (samples == nullptr || sample_rate == nullptr || accessible == nullptr) {
    return Fail(error, "invalid_microphone_capture_parameters");
  }
  samples->clear();
  *sample_rate = 0;
  *accessible = false;
  AudioResult result = audio_result::kOk;
  std::unique_ptr<AudioEndpoint> endpoint = OpenEndpointById(audio_systems, microphone.id, &result);
  if (endpoint == nullptr) {
    return Fail(error, FormatHresult("microphone_endpoint_unavailable", result));
  }
  std::unique_ptr<AudioClient> client;
  EndpointFormat format;
  if (!OpenSharedAudioClient(endpoint.get(), &client, &format, error)) return false;
  AudioCaptureClient* capture = nullptr;
  result = client->GetCaptureClient(&capture);
  if (AudioFailed(result) || capture == nullptr) {
    return Fail(error, FormatHresult("microphone_capture_service_unavailable", result));
  }
  result = client->Start();
  if (AudioFailed(result)) {
    return Fail(error, FormatHresult("microphone_capture_start_failed", result));
  }

  *accessible = true;
  *sample_rate = format.sample_rate;
  samples->reserve((size_t(std::max(duration_ms, 0)) + 250) * format.sample_rate / 1000);
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(duration_ms);
  bool drained = true;
  while (drained && std::chrono::steady_clock::now() < deadline) {
    drained = DrainCaptureToMono(capture, format, samples, error);
    std::this_thread::sleep_for(kCapturePace);
  }
  if (drained) drained = DrainCaptureToMono(capture, format, samples, error);
  client->Stop();
  return drained;
}

std::unique_ptr<MicrophoneSignalVerifier> CreateMicrophoneSignalVerifier(
    AudioSystemFactory audio_systems) {
  return std::make_unique<WasapiMicrophoneSignalVerifier>(std::move(audio_systems));
}

}  // namespace zennic
