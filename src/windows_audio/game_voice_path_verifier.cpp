#include "windows_audio/game_voice_path_verifier.h"

#include <chrono>
#include <thread>
#include <vector>

#include "windows_audio/endpoint_rules.h"
#include "windows_audio/tone_detection.h"
#include "windows_audio/verifier_audio_streams.h"

namespace zennic {
namespace {

// The signal ends at 600 ms; the rest leaves room for the cable's latency.
constexpr auto kLoopbackDuration = std::chrono::milliseconds(950);
// Refills the 20 ms buffer well before it runs dry.
constexpr auto kLoopbackPace = std::chrono::milliseconds(3);

std::string CandidateFailureMessage(const std::string& failure_code) {
  if (failure_code == "signal_not_detected") {
    return "The endpoints opened, but the Ruzerad two-tone test signal was not detected.";
  }
  return "The playback or recording endpoint could not be opened. It may be busy, disabled, or "
         "unavailable.";
}

// What a candidate's technical error means to the user: the code before the number, with the
// failures of opening a stream folded into one.
std::string ClassifyEndpointError(const std::string& technical_error) {
  std::string code = technical_error.substr(0, technical_error.find(' '));
  if (code.empty()) return "endpoint_unavailable";
  static const char* const kOpenFailures[] = {
      "audio_client_activation_failed", "audio_mix_format_failed",
      "unsupported_audio_mix_format",   "shared_audio_client_initialization_failed",
      "render_service_unavailable",     "capture_service_unavailable",
      "render_buffer_size_failed",      "render_buffer_initialization_failed",
      "capture_start_failed",           "render_start_failed"};
  for (const char* open_failure : kOpenFailures) {
    if (code == open_failure) return "endpoint_open_failed";
  }
  return code;
}

void SetVoicePathFailure(GameVoicePathVerificationResult* result, const std::string& code) {
  result->failure_code = code;
  result->failure_message = VoicePathFailureMessage(code);
}

bool Fail(std::string* error, std::string text) {
  *error = std::move(text);
  return false;
}

// Writes the next `frames` frames of the test signal from `*next_frame` on.
void WriteTestSignal(uint8_t* data, uint32_t frames, const EndpointFormat& format,
                     uint64_t* next_frame, std::vector<float>* stereo) {
  stereo->resize(size_t{frames} * 2);
  for (uint32_t frame = 0; frame < frames; ++frame) {
    float value = TwoToneTestSignalValue((*next_frame)++, format.sample_rate);
    (*stereo)[2 * size_t{frame}] = value;
    (*stereo)[2 * size_t{frame} + 1] = value;
  }
  ConvertStereoToEndpointFormat(stereo->data(), frames, frames, format, data);
}

// Plays the signal into the started render stream and records the capture stream for the
// loopback's whole time; false with `error` set when a call fails on the way.
bool PlayAndRecord(AudioClient* render_client, AudioRenderClient* render,
                   const EndpointFormat& render_format, uint32_t buffer_frames,
                   AudioCaptureClient* capture, const EndpointFormat& capture_format,
                   std::vector<float>* recording, std::string* error) {
  const auto deadline = std::chrono::steady_clock::now() + kLoopbackDuration;
  uint64_t next_frame = 0;
  std::vector<float> stereo;
  while (std::chrono::steady_clock::now() < deadline) {
    if (!DrainCaptureToMono(capture, capture_format, recording, error)) return false;
    uint32_t padding = 0;
    AudioResult result = render_client->GetCurrentPadding(&padding);
    if (AudioFailed(result)) {
      return Fail(error, FormatHresult("render_padding_query_failed", result));
    }
    if (buffer_frames > padding) {
      uint32_t frames = buffer_frames - padding;
      uint8_t* data = nullptr;
      result = render->GetBuffer(frames, &data);
      if (AudioFailed(result) || data == nullptr) {
        return Fail(error, FormatHresult("render_buffer_write_failed",
                                         AudioFailed(result) ? result : audio_result::kFail));
      }
      WriteTestSignal(data, frames, render_format, &next_frame, &stereo);
      result = render->ReleaseBuffer(frames, 0);
      if (AudioFailed(result)) {
        return Fail(error, FormatHresult("render_buffer_write_failed", result));
      }
    }
    std::this_thread::sleep_for(kLoopbackPace);
  }
  return DrainCaptureToMono(capture, capture_format, recording, error);
}

// Plays the two-tone signal into the playback endpoint while recording the other one; true when
// the loopback ran to its end and the recording was analysed.
bool RunTwoToneLoopback(const AudioSystemFactory& audio_systems, const MixerDeviceInfo& playback,
                        const MixerDeviceInfo& recording, bool* detected, double* peak_dbfs,
                        double* rms_dbfs, std::string* error) {
  *detected = false;
  *peak_dbfs = -120.0;
  *rms_dbfs = -120.0;
  AudioResult result = audio_result::kOk;
  std::unique_ptr<AudioEndpoint> render_endpoint =
      OpenEndpointById(audio_systems, playback.id, &result);
  if (render_endpoint == nullptr) {
    return Fail(error, FormatHresult("playback_endpoint_unavailable", result));
  }
  std::unique_ptr<AudioEndpoint> capture_endpoint =
      OpenEndpointById(audio_systems, recording.id, &result);
  if (capture_endpoint == nullptr) {
    return Fail(error, FormatHresult("recording_endpoint_unavailable", result));
  }
  std::unique_ptr<AudioClient> render_client;
  std::unique_ptr<AudioClient> capture_client;
  EndpointFormat render_format;
  EndpointFormat capture_format;
  if (!OpenSharedAudioClient(render_endpoint.get(), &render_client, &render_format, error) ||
      !OpenSharedAudioClient(capture_endpoint.get(), &capture_client, &capture_format, error)) {
    return false;
  }
  AudioRenderClient* render = nullptr;
  result = render_client->GetRenderClient(&render);
  if (AudioFailed(result) || render == nullptr) {
    return Fail(error, FormatHresult("render_service_unavailable", result));
  }
  AudioCaptureClient* capture = nullptr;
  result = capture_client->GetCaptureClient(&capture);
  if (AudioFailed(result) || capture == nullptr) {
    return Fail(error, FormatHresult("capture_service_unavailable", result));
  }
  uint32_t buffer_frames = 0;
  result = render_client->GetBufferSize(&buffer_frames);
  if (AudioFailed(result) || buffer_frames == 0) {
    return Fail(error, FormatHresult("render_buffer_size_failed", result));
  }
  // The stream starts on a buffer of silence, so the signal begins at a known time.
  uint8_t* data = nullptr;
  result = render->GetBuffer(buffer_frames, &data);
  if (AudioFailed(result) || data == nullptr) {
    return Fail(error, FormatHresult("render_buffer_initialization_failed", result));
  }
  std::fill_n(data, size_t{buffer_frames} * render_format.block_align, uint8_t{0});
  result = render->ReleaseBuffer(buffer_frames, kAudioBufferFlagSilent);
  if (AudioFailed(result)) {
    return Fail(error, FormatHresult("render_buffer_initialization_failed", result));
  }

  result = capture_client->Start();
  if (AudioFailed(result)) return Fail(error, FormatHresult("capture_start_failed", result));
  result = render_client->Start();
  if (AudioFailed(result)) {
    capture_client->Stop();
    return Fail(error, FormatHresult("render_start_failed", result));
  }
  std::vector<float> recorded;
  recorded.reserve(size_t{capture_format.sample_rate} * 2);
  bool ran = PlayAndRecord(render_client.get(), render, render_format, buffer_frames, capture,
                           capture_format, &recorded, error);
  render_client->Stop();
  capture_client->Stop();
  if (!ran) return false;

  RecordingLevels levels = MeasureRecordingLevels(recorded);
  *peak_dbfs = LevelToDbfs(levels.peak);
  *rms_dbfs = LevelToDbfs(levels.rms);
  *detected = DetectTwoToneSequence(recorded, capture_format.sample_rate);
  return true;
}

GameVoicePathCandidateDiagnostic TestVoicePathPair(const AudioSystemFactory& audio_systems,
                                                   const MixerDeviceInfo& playback,
                                                   const MixerDeviceInfo& recording) {
  GameVoicePathCandidateDiagnostic diagnostic;
  bool detected = false;
  diagnostic.opened =
      RunTwoToneLoopback(audio_systems, playback, recording, &detected, &diagnostic.peak_dbfs,
                         &diagnostic.rms_dbfs, &diagnostic.technical_error);
  diagnostic.signal_detected = diagnostic.frequency_signature_detected = detected;
  if (detected) return diagnostic;
  diagnostic.failure_code =
      diagnostic.opened ? "signal_not_detected" : ClassifyEndpointError(diagnostic.technical_error);
  diagnostic.failure_message = CandidateFailureMessage(diagnostic.failure_code);
  return diagnostic;
}

class WasapiGameVoicePathVerifier final : public GameVoicePathVerifier {
 public:
  explicit WasapiGameVoicePathVerifier(AudioSystemFactory audio_systems)
      : audio_systems_(std::move(audio_systems)) {}

  GameVoicePathVerificationResult Verify(const GameVoicePathVerificationRequest& request) override {
    return SearchGameVoicePath(
        request, [this](const MixerDeviceInfo& playback, const MixerDeviceInfo& recording) {
          return TestVoicePathPair(audio_systems_, playback, recording);
        });
  }

 private:
  const AudioSystemFactory audio_systems_;
};

}  // namespace

GameVoicePathVerificationResult SearchGameVoicePath(const GameVoicePathVerificationRequest& request,
                                                    const VoicePathPairTester& tester) {
  GameVoicePathVerificationResult result;
  const MixerDeviceInfo& selected = request.selected_playback;
  result.selected_playback_id = selected.id;
  result.selected_playback_name = selected.name;
  if (!IsCableInputDeviceName(selected.name) || selected.id.empty()) {
    SetVoicePathFailure(&result, "selected_playback_not_cable");
    return result;
  }
  if (!tester) {
    SetVoicePathFailure(&result, "verifier_unavailable");
    return result;
  }
  std::vector<MixerDeviceInfo> recordings;
  for (const MixerDeviceInfo& device : request.recording_devices) {
    if (IsCableOutputDeviceName(device.name) && !device.id.empty()) recordings.push_back(device);
  }
  if (recordings.empty()) {
    SetVoicePathFailure(&result, "no_cable_recording_endpoint");
    return result;
  }

  result.attempted = true;
  bool any_opened = false;
  auto carries_signal = [&](const MixerDeviceInfo& playback, const MixerDeviceInfo& recording) {
    GameVoicePathCandidateDiagnostic diagnostic = tester(playback, recording);
    diagnostic.playback_id = playback.id;
    diagnostic.playback_name = playback.name;
    diagnostic.capture_id = recording.id;
    diagnostic.capture_name = recording.name;
    diagnostic.attempted = true;
    if (diagnostic.signal_detected) {
      diagnostic.opened = diagnostic.frequency_signature_detected = true;
      diagnostic.failure_code.clear();
      diagnostic.failure_message.clear();
    } else if (diagnostic.failure_code.empty()) {
      diagnostic.failure_code = diagnostic.opened ? "signal_not_detected" : "endpoint_unavailable";
      diagnostic.failure_message = CandidateFailureMessage(diagnostic.failure_code);
    }
    any_opened = any_opened || diagnostic.opened;
    bool detected = diagnostic.signal_detected;
    result.candidates.push_back(std::move(diagnostic));
    return detected;
  };

  for (const MixerDeviceInfo& recording : recordings) {
    if (carries_signal(selected, recording)) {
      result.verified = true;
      result.matching_recording_id = recording.id;
      result.matching_recording_name = recording.name;
      return result;
    }
  }
  for (const MixerDeviceInfo& playback : request.playback_devices) {
    if (playback.id.empty() || playback.id == selected.id ||
        !IsCableInputDeviceName(playback.name)) {
      continue;
    }
    for (const MixerDeviceInfo& recording : recordings) {
      if (carries_signal(playback, recording)) {
        result.suggested_playback_id = playback.id;
        result.suggested_playback_name = playback.name;
        result.suggested_recording_id = recording.id;
        result.suggested_recording_name = recording.name;
        SetVoicePathFailure(&result, "selected_pair_failed");
        return result;
      }
    }
  }
  SetVoicePathFailure(&result, any_opened ? "signal_not_detected" : "endpoint_unavailable");
  return result;
}

std::string VoicePathFailureMessage(const std::string& failure_code) {
  if (failure_code == "selected_playback_not_cable") {
    return "Send to game / Steam is not set to a CABLE Input or CABLE In playback endpoint.";
  }
  if (failure_code == "no_cable_recording_endpoint") {
    return "Windows does not expose a CABLE Output or CABLE Out recording endpoint to test.";
  }
  if (failure_code == "selected_pair_failed") {
    return "The selected CABLE device did not carry the test signal, but another working "
           "VB-CABLE pair was found.";
  }
  if (failure_code == "signal_not_detected") {
    return "The VB-CABLE endpoints opened, but the Ruzerad two-tone test signal was not detected "
           "on any recording endpoint.";
  }
  return "Ruzerad could not open a VB-CABLE playback/recording pair. A device may be busy, "
         "disabled, or unavailable.";
}

std::unique_ptr<GameVoicePathVerifier> CreateGameVoicePathVerifier(
    AudioSystemFactory audio_systems) {
  return std::make_unique<WasapiGameVoicePathVerifier>(std::move(audio_systems));
}

}  // namespace zennic
