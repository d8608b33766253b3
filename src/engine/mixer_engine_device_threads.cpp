// The device threads: the capture thread fills the microphone FIFO from the microphone's
// shared-mode stream; the render threads keep the mix output's and the monitor's streams
// topped up from their FIFOs. Each converts between its endpoint's format and the engine's
// 48,000 Hz stereo float.

#include <algorithm>
#include <chrono>
#include <cstring>
#include <thread>
#include <utility>

#include "engine/linear_resampler.h"
#include "engine/mixer_engine.h"
#include "engine/paced_fifo_reader.h"
#include "engine/render_queue_target.h"
#include "model/runtime_state.h"
#include "platform/audio_thread_priority.h"

namespace zennic {
namespace {

// The streams' buffers hold up to 100 ms, so that an output can keep more queued when its thread
// turns out to come late; how much it keeps is its queue target, 50 ms on a quiet machine.
constexpr int64_t kBufferDuration100ns = 1000000;
// A device's first second is its start, not a measure of its jitter.
constexpr auto kStartSettling = std::chrono::seconds(1);
// How soon the mix output looks again for a mix it found not all ready.
constexpr int64_t kMixOwedWait100ns = 5000;  // 0.5 ms
// A device's run dry is told against its thread's pauses in about this long before it.
constexpr auto kPauseWindow = std::chrono::milliseconds(250);

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

int64_t MixerEngine::DevicePeriod100ns(AudioClient* client) {
  int64_t period = 0;
  if (AudioSucceeded(client->GetDevicePeriod(&period, nullptr)) && period > 0) return period;
  return kFallbackDevicePeriod100ns;
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
  const int64_t period = DevicePeriod100ns(stream.client.get());
  const auto started = std::chrono::steady_clock::now();
  LinearResampler resampler;
  // Room for a second of the device's audio, so that the loop allocates nothing.
  std::vector<float> samples;
  std::vector<float> stereo;
  std::vector<float> burst;
  samples.reserve(size_t{format.sample_rate} * std::max<uint32_t>(format.channels, 2));
  stereo.reserve(size_t{format.sample_rate} * 2);
  burst.reserve(size_t{LinearResampler::kEngineRate} * 2);
  resampler.Reserve(format.sample_rate);
  uint64_t delivered = 0;
  uint64_t glitches_seen = 0;
  bool failure_reported = false;
  while (!stop_.load()) {
    uint32_t packet_frames = 0;
    AudioResult next = stream.client->WaitForBuffer(period);
    if (AudioSucceeded(next)) next = capture->GetNextPacketSize(&packet_frames);
    if (AudioFailed(next)) {
      // A failing call (the device went away) only ends this pass; the thread tries again.
      if (!failure_reported) {
        failure_reported = true;
        ReportDeviceFailure(std::string(kCaptureLabel) + " stopped delivering audio: " +
                            FormatHresult("Failed to read the next capture packet", next));
      }
      // A stream whose device went away never delivers again; the run opens it anew.
      if (next == audio_result::kDeviceInvalidated) break;
      std::this_thread::sleep_for(std::chrono::nanoseconds(period * 100));
      continue;
    }
    // Whatever the device handed over since the last pass is one delivery, as it reaches the
    // mixer: its follower holds a whole one in hand.
    const auto arrived = std::chrono::steady_clock::now();
    burst.clear();
    while (AudioSucceeded(next) && packet_frames > 0) {
      uint8_t* data = nullptr;
      uint32_t frames = 0;
      uint32_t flags = 0;
      if (AudioFailed(capture->GetBuffer(&data, &frames, &flags))) break;
      bool silent = (flags & kAudioBufferFlagSilent) != 0;
      DecodeCapturedSamples(silent ? nullptr : data, frames, format, &samples);
      ConvertChannelCount(samples, format.channels, &stereo);
      // The resampler carries its position from packet to packet, so rounding never adds or
      // loses frames over time.
      resampler.Push(stereo.data(), frames, format.sample_rate, &burst);
      capture->ReleaseBuffer(frames);
      next = capture->GetNextPacketSize(&packet_frames);
    }
    if (!burst.empty()) {
      microphone_fifo_.Write(burst.data(), burst.size() / 2, arrived);
      // A tick may be waiting for it.
      mixer_wake_.release();
      delivered += burst.size() / 2;
      if (arrived - started >= kStartSettling) microphone_notes_.jitter.Note(arrived, delivered);
    }
    NoteDeviceGlitches(&microphone_notes_, stream.client.get(), &glitches_seen);
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
  const int64_t period = DevicePeriod100ns(stream.client.get());
  const uint64_t period_frames =
      std::max<uint64_t>(1, static_cast<uint64_t>(period) * format.sample_rate / 10000000);
  RenderQueueTarget queue(format.sample_rate,
                          buffer_frames > period_frames ? buffer_frames - period_frames : 1);
  uint8_t* data = nullptr;
  auto first_fill = static_cast<uint32_t>(queue.frames());
  if (AudioSucceeded(render->GetBuffer(first_fill, &data)) && data != nullptr) {
    std::memset(data, 0, size_t{first_fill} * format.block_align);
    render->ReleaseBuffer(first_fill, 0);
  }
  result = stream.client->Start();
  if (AudioFailed(result)) {
    startup->ReportFailure(label, FormatHresult("Failed to start render client", result));
    return;
  }
  startup->NotePriority(RaiseAudioThreadPriority());
  startup->ReportReady();

  RoadNotes* notes = mode == 0 ? &mix_output_notes_ : &monitor_notes_;
  const bool paces_mixer = mode == 0;
  // The mix output's own clock paces the mixer, so its FIFO is read as it is. The monitor runs on
  // a clock of its own: its FIFO is read at the pace that keeps the delay steady.
  LinearResampler mix_resampler;
  if (paces_mixer) {
    mix_resampler.Reserve(buffer_frames);
  } else {
    // The monitor's reader is this thread's alone: the mix output's thread never touches it.
    monitor_reader_.Reset();
    monitor_reader_.Reserve(buffer_frames);
  }
  auto to_engine_frames = [&format](uint64_t frames) {
    return frames * LinearResampler::kEngineRate / format.sample_rate;
  };
  notes->queue_frames.store(to_engine_frames(queue.frames()));
  const auto started = std::chrono::steady_clock::now();
  bool mix_began = false;
  std::vector<float> frames;
  frames.reserve(size_t{buffer_frames} * 2);
  // The device's requests, in 48,000 Hz frames.
  uint64_t requested = 0;
  uint64_t glitches_seen = 0;
  // Set when the mix was not all ready: the thread comes back as soon as the mixer may have made
  // the rest, rather than at the device's next request.
  bool mix_owed = false;
  // The longest pause between two passes, over the quarter second now closing and the one before.
  auto last_pass = started;
  auto pauses_since = started;
  std::chrono::steady_clock::duration longest_pause{};
  std::chrono::steady_clock::duration longest_pause_before{};
  while (!stop_.load()) {
    // Woken by the device's request for audio, or after a period at the latest.
    result = stream.client->WaitForBuffer(mix_owed ? kMixOwedWait100ns : period);
    uint32_t padding = 0;
    // A failing call here means the device is gone: this output ends, the others go on.
    if (AudioSucceeded(result)) result = stream.client->GetCurrentPadding(&padding);
    if (AudioFailed(result)) {
      ReportDeviceFailure(std::string(label) + " stopped playing: " +
                          FormatHresult("Failed to read the render buffer padding", result));
      break;
    }
    const auto pass = std::chrono::steady_clock::now();
    if (pass - pauses_since >= kPauseWindow) {
      pauses_since = pass;
      longest_pause_before = std::exchange(longest_pause, {});
    }
    longest_pause = std::max(longest_pause, pass - last_pass);
    last_pass = pass;
    bool ran_dry = NoteDeviceGlitches(notes, stream.client.get(), &glitches_seen);
    if (ran_dry) {
      notes->dry_pause_ms.store(std::chrono::duration_cast<std::chrono::milliseconds>(
                                    std::max(longest_pause, longest_pause_before))
                                    .count());
    }
    if (queue.Update(std::chrono::steady_clock::now(), ran_dry)) {
      notes->queue_frames.store(to_engine_frames(queue.frames()));
      notes->queue_changes.fetch_add(1);
      voice_key_wake_.release();
    }
    // Whole periods, as a device asks for them, so that the mixer's ticks keep an even pace; to
    // the nearest period, so that a request that comes a little early is still answered.
    uint64_t wanted = queue.frames() > padding ? queue.frames() - padding : 0;
    // After a stall of the whole machine the device has played on and wants all of it back; while
    // it holds half its queue it is refilled at twice its pace rather than at once, so that the
    // mixer's catch-up draws on the microphone no faster than the microphone catches up too.
    if (padding >= queue.frames() / 2) wanted = std::min<uint64_t>(wanted, 2 * period_frames);
    auto room = static_cast<uint32_t>(std::min<uint64_t>(
        (wanted + period_frames / 2) / period_frames * period_frames, buffer_frames - padding));
    mix_owed = false;
    // About to play silence: what is missing is read as silence rather than waited for.
    const bool running_dry = padding <= period_frames;
    const bool monitor_enabled =
        !paces_mixer && runtime_state_->GetAudioSettingsView().monitor_enabled;
    // What can go without silence for a late mix: the rest is waited for while the device still
    // holds more than a period, and only a device about to run dry gets silence for it.
    uint64_t ready = room;
    if (paces_mixer) {
      // What is not ready the mixer, which keeps this device's pace and takes well under a
      // millisecond for a tick, is asked for.
      auto mixed = [&] {
        return mix_resampler.FramesProducible(mix_fifo_.Size(), format.sample_rate, room, 1.0);
      };
      if (mixed() < room) {
        AskForMix();
        // Half the queue gone and still no mix: the mixer thread is held up (its processor
        // taken away for 15 to 30 ms, on the machines measured), and this thread mixes in its
        // place rather than let the device run dry; a late microphone it waits for as the mixer
        // does, until the device is about to run dry.
        for (int ticks = 0; padding < queue.frames() / 2 && mixed() < room && ticks < 4; ++ticks) {
          if (!MixInPlaceOfMixer(running_dry)) break;
        }
      }
      ready = mixed();
    } else if (monitor_enabled) {
      ready = monitor_reader_.FramesReady(monitor_fifo_.Size(), format.sample_rate, room);
    }
    if (ready < room && !running_dry) {
      room = static_cast<uint32_t>(ready);
      mix_owed = true;
    }
    if (room == 0) continue;
    data = nullptr;
    result = render->GetBuffer(room, &data);
    if (AudioFailed(result) || data == nullptr) {
      ReportDeviceFailure(std::string(label) + " stopped playing: " +
                          FormatHresult("Failed to get the render buffer", result));
      break;
    }
    const auto now = std::chrono::steady_clock::now();
    requested += to_engine_frames(room);
    if (now - started >= kStartSettling) notes->jitter.Note(now, requested);
    if (paces_mixer) {
      // Until the first mix comes the device plays the silence of the run's start.
      mix_began = mix_began || mix_fifo_.Size() > 0;
      DriftFollower::Decision read;
      read.short_frames = mix_resampler.Pull(&mix_fifo_, format.sample_rate, room, &frames);
      if (mix_began) NoteRead(notes, read, nullptr);
      AskForMix();
    } else if (!monitor_enabled) {
      // Turned on again, the monitor starts from the clip as it is then, not from old frames.
      monitor_reader_.Reset();
      monitor_fifo_.Clear();
      frames.assign(size_t{room} * 2, 0.0f);
    } else {
      NoteRead(notes, monitor_reader_.Read(&monitor_fifo_, format.sample_rate, room, now, &frames),
               &monitor_reader_.follower());
    }
    ConvertStereoToEndpointFormat(frames.data(), room, room, format, data);
    render->ReleaseBuffer(room, 0);
  }
  stream.client->Stop();
}

}  // namespace zennic
