// The device threads: the capture thread fills the microphone FIFO from the microphone's
// shared-mode stream; the render threads keep the mix output's and the monitor's streams
// topped up from their FIFOs. Each converts between its endpoint's format and the engine's
// 48,000 Hz stereo float.

#include <chrono>
#include <cstring>
#include <thread>

#include "engine/linear_resampler.h"
#include "engine/mixer_engine.h"
#include "engine/paced_fifo_reader.h"
#include "model/runtime_state.h"
#include "platform/audio_thread_priority.h"

namespace zennic {
namespace {

constexpr int64_t kBufferDuration100ns = 200000;  // 20 ms

void SetError(std::string* error, const std::string& message) {
  if (error != nullptr) *error = message;
}

}  // namespace

bool MixerEngine::OpenAudioClient(AudioEndpoint* endpoint, std::unique_ptr<AudioClient>* client,
                                  AudioMixFormat* mix_format, EndpointFormat* format,
                                  std::string* error) {
  if (endpoint == nullptr || client == nullptr || mix_format == nullptr || format == nullptr) {
    SetError(error, "Audio client initialization parameters are invalid");
    return false;
  }
  AudioResult result = endpoint->Activate(client);
  if (AudioFailed(result) || *client == nullptr) {
    SetError(error, FormatHresult("Failed to activate IAudioClient", result));
    return false;
  }
  result = (*client)->GetMixFormat(mix_format);
  if (AudioFailed(result)) {
    SetError(error, FormatHresult("Failed to read endpoint mix format", result));
    return false;
  }
  if (!ReadEndpointFormat(*mix_format, format)) {
    SetError(error, "Endpoint mix format is not supported by the current implementation");
    return false;
  }
  result = (*client)->Initialize(*mix_format, kBufferDuration100ns);
  if (AudioFailed(result)) {
    SetError(error, FormatHresult("Failed to initialize shared-mode audio client", result));
    return false;
  }
  return true;
}

bool MixerEngine::OpenDeviceStream(const MixerSelectedDevice& device, AudioFlow flow,
                                   DeviceStream* stream, std::string* error) {
  const char* open_failure = flow == AudioFlow::kCapture ? "Failed to open capture endpoint"
                                                         : "Failed to open render endpoint";
  AudioResult result = audio_result::kServiceNotRunning;
  if (audio_systems_) stream->system = audio_systems_(&result);
  if (stream->system == nullptr) {
    SetError(error, FormatHresult(open_failure, AudioFailed(result) ? result : audio_result::kFail));
    return false;
  }
  result = stream->system->OpenEndpoint(device.id, &stream->endpoint);
  if (AudioFailed(result) || stream->endpoint == nullptr) {
    SetError(error, FormatHresult(open_failure, result));
    return false;
  }
  return OpenAudioClient(stream->endpoint.get(), &stream->client, &stream->mix_format,
                         &stream->format, error);
}

void MixerEngine::SleepHalfDevicePeriod(AudioClient* client) {
  int64_t period = 0;
  auto pause = std::chrono::milliseconds(5);
  if (AudioSucceeded(client->GetDevicePeriod(&period, nullptr)) && period > 0) {
    pause = std::chrono::milliseconds(std::max<int64_t>(2, period / 20000));
  }
  std::this_thread::sleep_for(pause);
}

void MixerEngine::CaptureThreadMain(MixerSelectedDevice device,
                                    std::shared_ptr<WorkerStartup> startup) {
  DeviceStream stream;
  std::string error;
  if (!OpenDeviceStream(device, AudioFlow::kCapture, &stream, &error)) {
    startup->ReportFailure(kCaptureLabel, error);
    return;
  }
  AudioCaptureClient* capture = nullptr;
  AudioResult result = stream.client->GetCaptureClient(&capture);
  if (AudioFailed(result) || capture == nullptr) {
    startup->ReportFailure(kCaptureLabel, FormatHresult("Failed to get capture service", result));
    return;
  }
  result = stream.client->Start();
  if (AudioFailed(result)) {
    startup->ReportFailure(kCaptureLabel, FormatHresult("Failed to start capture client", result));
    return;
  }
  startup->NotePriority(RaiseAudioThreadPriority());
  startup->ReportReady();

  const EndpointFormat& format = stream.format;
  LinearResampler resampler;
  std::vector<float> samples;
  std::vector<float> stereo;
  std::vector<float> converted;
  bool failure_reported = false;
  while (!stop_.load()) {
    uint32_t packet_frames = 0;
    // A failing call (the device went away) only ends this pass; the thread tries again.
    AudioResult next = capture->GetNextPacketSize(&packet_frames);
    if (AudioFailed(next) && !failure_reported) {
      failure_reported = true;
      ReportDeviceFailure(std::string(kCaptureLabel) + " stopped delivering audio: " +
                          FormatHresult("Failed to read the next capture packet", next));
    }
    // A stream whose device went away never delivers again; the run opens it anew.
    if (next == audio_result::kDeviceInvalidated) break;
    while (AudioSucceeded(next) && packet_frames > 0) {
      uint8_t* data = nullptr;
      uint32_t frames = 0;
      uint32_t flags = 0;
      if (AudioFailed(capture->GetBuffer(&data, &frames, &flags))) break;
      bool silent = (flags & kAudioBufferFlagSilent) != 0;
      DecodeCapturedSamples(silent ? nullptr : data, frames, format, &samples);
      ConvertChannelCount(samples, format.channels, &stereo);
      converted.clear();
      // The resampler carries its position from packet to packet, so rounding never adds or
      // loses frames over time.
      resampler.Push(stereo.data(), frames, format.sample_rate, &converted);
      microphone_fifo_.Write(converted.data(), converted.size() / 2);
      capture->ReleaseBuffer(frames);
      next = capture->GetNextPacketSize(&packet_frames);
    }
    SleepHalfDevicePeriod(stream.client.get());
  }
  stream.client->Stop();
}

void MixerEngine::RenderThreadMain(MixerSelectedDevice device, int mode,
                                   std::shared_ptr<WorkerStartup> startup) {
  const char* label = mode == 0 ? kMixOutputLabel : kMonitorLabel;
  DeviceStream stream;
  std::string error;
  if (!OpenDeviceStream(device, AudioFlow::kRender, &stream, &error)) {
    startup->ReportFailure(label, error);
    return;
  }
  AudioRenderClient* render = nullptr;
  AudioResult result = stream.client->GetRenderClient(&render);
  if (AudioFailed(result) || render == nullptr) {
    startup->ReportFailure(label, FormatHresult("Failed to get render service", result));
    return;
  }
  uint32_t buffer_frames = 0;
  result = stream.client->GetBufferSize(&buffer_frames);
  if (AudioFailed(result)) {
    startup->ReportFailure(label, FormatHresult("Failed to read render buffer size", result));
    return;
  }
  const EndpointFormat& format = stream.format;
  uint8_t* data = nullptr;
  if (AudioSucceeded(render->GetBuffer(buffer_frames, &data)) && data != nullptr) {
    std::memset(data, 0, size_t{buffer_frames} * format.block_align);
    render->ReleaseBuffer(buffer_frames, 0);
  }
  result = stream.client->Start();
  if (AudioFailed(result)) {
    startup->ReportFailure(label, FormatHresult("Failed to start render client", result));
    return;
  }
  startup->NotePriority(RaiseAudioThreadPriority());
  startup->ReportReady();

  SampleFifo* source = mode == 0 ? &mix_fifo_ : &monitor_fifo_;
  TimingNotes* timing = mode == 0 ? &mix_output_timing_ : &monitor_timing_;
  // The device's clock and the mixer's tick differ a little: the FIFO is read at the pace that
  // keeps its delay steady.
  PacedFifoReader reader(kFollowerMarginFrames);
  std::vector<float> frames;
  while (!stop_.load()) {
    uint32_t padding = 0;
    // A failing call here means the device is gone: this output ends, the others go on.
    result = stream.client->GetCurrentPadding(&padding);
    if (AudioFailed(result)) {
      ReportDeviceFailure(std::string(label) + " stopped playing: " +
                          FormatHresult("Failed to read the render buffer padding", result));
      break;
    }
    uint32_t room = buffer_frames > padding ? buffer_frames - padding : 0;
    const bool monitor_off = mode == 1 && !runtime_state_->GetAudioSettingsView().monitor_enabled;
    // While the device still has audio in hand, a mix that comes a little late is waited for
    // rather than padded with silence: only what is ready goes to the device. The padding a
    // device reports can run ahead of what it really holds by a request's worth (a quarter of
    // the buffer), so half the buffer is the least that is sure to carry the wait.
    if (room > 0 && !monitor_off && padding >= buffer_frames / 2) {
      room = static_cast<uint32_t>(reader.FramesReady(*source, format.sample_rate, room));
    }
    if (room == 0) {
      SleepHalfDevicePeriod(stream.client.get());
      continue;
    }
    data = nullptr;
    result = render->GetBuffer(room, &data);
    if (AudioFailed(result) || data == nullptr) {
      ReportDeviceFailure(std::string(label) + " stopped playing: " +
                          FormatHresult("Failed to get the render buffer", result));
      break;
    }
    if (monitor_off) {
      // Turned on again, the monitor starts from the clip as it is then, not from old frames.
      reader.Reset();
      monitor_fifo_.Clear();
      std::memset(data, 0, size_t{room} * format.block_align);
    } else {
      DriftFollower::Decision paced = reader.Read(source, format.sample_rate, room,
                                                  std::chrono::steady_clock::now(), &frames);
      NoteTiming(timing, paced, reader.margin_frames());
      ConvertStereoToEndpointFormat(frames.data(), room, room, format, data);
    }
    render->ReleaseBuffer(room, 0);
    SleepHalfDevicePeriod(stream.client.get());
  }
  stream.client->Stop();
}

}  // namespace zennic
