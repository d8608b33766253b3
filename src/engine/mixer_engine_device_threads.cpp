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
#include "engine/output_dry_watch.h"
#include "model/runtime_state.h"
#include "platform/audio_thread_priority.h"
#include "platform/thread_name.h"

namespace zennic {
namespace {

// The streams' buffers hold up to 100 ms, so that an output can keep more queued when its thread
// turns out to come late; how much it keeps is its queue target, 50 ms on a quiet machine.
constexpr int64_t kBufferDuration100ns = 1000000;
// A device's first second is its start, not a measure of its jitter.
constexpr auto kStartSettling = std::chrono::seconds(1);
// How soon an output looks again for a mix (or a microphone) it found late: well within a period.
constexpr int64_t kOwedWait100ns = 5000;  // 0.5 ms
// What an output keeps queued at the least while it waits for a late mix or microphone, in
// device periods: one for the device's next request, one for the server's lead (it renders a
// period ahead of the device's clock).
constexpr uint64_t kOutputFloorPeriods = 2;
constexpr uint32_t kTickFrames = 480;
using Clock = std::chrono::steady_clock;

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
  NameThisThread("zennic-capture");
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
  // Audio the device lost before it reached us is a break of the voice; this thread's own.
  BreakEpisode lost(&microphone_notes_);
  // The thread waits at most a period for audio: a longer gap between its passes, with some room
  // for a busy machine's wake-ups, is the thread held up, which says nothing of the device.
  microphone_stall_.Reset(std::chrono::nanoseconds(period * 100) * 2 +
                          std::chrono::milliseconds(2));
  while (!stop_.load()) {
    uint32_t packet_frames = 0;
    AudioResult next = stream.client->WaitForBuffer(period);
    const bool seen = next != audio_result::kNotSeen;
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
    // mixer.
    const auto arrived = std::chrono::steady_clock::now();
    burst.clear();
    uint64_t lost_frames = 0;
    while (AudioSucceeded(next) && packet_frames > 0) {
      uint8_t* data = nullptr;
      uint32_t frames = 0;
      uint32_t flags = 0;
      if (AudioFailed(capture->GetBuffer(&data, &frames, &flags))) break;
      bool silent = (flags & kAudioBufferFlagSilent) != 0;
      if ((flags & kAudioBufferFlagDataDiscontinuity) != 0) lost_frames += frames;
      DecodeCapturedSamples(silent ? nullptr : data, frames, format, &samples);
      ConvertChannelCount(samples, format.channels, &stereo);
      // The resampler carries its position from packet to packet, so rounding never adds or
      // loses frames over time.
      resampler.Push(stereo.data(), frames, format.sample_rate, &burst);
      capture->ReleaseBuffer(frames);
      next = capture->GetNextPacketSize(&packet_frames);
    }
    const uint64_t burst_frames = burst.size() / 2;
    if (burst_frames > 0) {
      microphone_fifo_.Write(burst.data(), burst_frames, arrived);
      delivered += burst_frames;
      if (arrived - started >= kStartSettling) microphone_notes_.jitter().Note(arrived, delivered);
    }
    // While the cable makes the ticks, the server is known to have run only up to its last
    // request: one that stood still held the microphone's audio back with the cable's requests,
    // and the voice waits for it as for a thread held up, not as for a microphone that stopped.
    auto seen_until = seen ? arrived : std::chrono::steady_clock::time_point::min();
    if (cable_ticks_.load()) {
      seen_until = std::min(seen_until, std::chrono::steady_clock::time_point(
                                            std::chrono::steady_clock::duration(
                                                cable_asked_at_.load(std::memory_order_relaxed))));
    }
    microphone_stall_.NotePass(arrived, burst_frames, seen_until);
    // A microphone the server suspended is not late but stopped: its voice is waited for only to
    // half the queue from the first tick on.
    if (burst_frames == 0 && stream.client->DeviceSuspended()) microphone_stall_.NoteSuspended();
    uint64_t glitches = glitches_seen;
    if (AudioSucceeded(stream.client->GetGlitchCount(&glitches)) && glitches > glitches_seen) {
      // A loss the device told of without handing over its length counts a millisecond.
      lost_frames = std::max<uint64_t>(lost_frames, format.sample_rate / 1000);
    }
    glitches_seen = glitches;
    if (lost_frames > 0) {
      lost.Note(arrived, BreakCause::kLostAudio,
                lost_frames * LinearResampler::kEngineRate /
                    std::max<uint32_t>(format.sample_rate, 1));
    } else if (burst_frames > 0) {
      lost.End(arrived);
    }
  }
  lost.Finish();
  microphone_stall_.NoteEnd();
  stream.client->Stop();
}

void MixerEngine::RenderThreadMain(MixerSelectedDevice device, int mode,
                                   std::shared_ptr<WorkerStartup> startup) {
  const bool cable = mode == 0;
  const char* label = cable ? kMixOutputLabel : kMonitorLabel;
  NameThisThread(cable ? "zennic-cable" : "zennic-monitor");
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
  const uint32_t rate = format.sample_rate;
  const int64_t period = DevicePeriod100ns(stream.client.get());
  const uint64_t period_frames =
      std::max<uint64_t>(1, static_cast<uint64_t>(period) * rate / 10000000);
  const uint64_t floor_frames = kOutputFloorPeriods * period_frames;
  AdaptiveTarget queue(cable ? kOutputQueue : kMonitorQueue, rate);
  queue.LimitTo(buffer_frames > period_frames ? buffer_frames - period_frames : 1);
  auto duration_of = [rate](uint64_t frames) {
    return std::chrono::duration_cast<Clock::duration>(
        std::chrono::duration<double>(static_cast<double>(frames) / rate));
  };
  auto to_engine_frames = [rate](uint64_t frames) {
    return frames * LinearResampler::kEngineRate / rate;
  };
  auto ask_for_queue = [&] {
    stream.client->SetQueueTarget(static_cast<int64_t>(queue.frames()) * 10000000 / rate);
  };
  ask_for_queue();
  uint8_t* data = nullptr;
  // Silence to start on. The cable's is its whole queue, so that its ticks come at their pace
  // from the first: a queue filled with ticks at once would reach the monitor, already playing,
  // as a backlog. The monitor's is what it needs until its first pass, which aligns it afresh.
  auto first_fill = static_cast<uint32_t>(cable ? queue.frames() : floor_frames);
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

  AudioRoadNotes* notes = cable ? &mix_output_notes_ : &monitor_notes_;
  notes->NoteQueue(to_engine_frames(queue.frames()));
  BreakEpisode episode(notes);
  // The cable's own clock paces the mix: its thread makes the ticks as the cable asks for them,
  // and its FIFO is read as it is. The monitor runs on a clock of its own: its FIFO is read at
  // the pace that keeps the delay steady, and it makes the ticks a held-up cable thread owes.
  // What piled up for a device while it was away is no part of its delay: it starts from the
  // newest mix, and so does the microphone.
  LinearResampler mix_resampler;
  if (cable) {
    mix_resampler.Reserve(buffer_frames);
    std::lock_guard tick(tick_mutex_);
    mix_fifo_.Clear();
    microphone_reader_.Reset();
    cable_asked_at_.store(Clock::now().time_since_epoch().count(), std::memory_order_relaxed);
    cable_ticks_.store(true);
    // The monitor makes no ticks for the cable before its first: the queue it fills at once
    // would reach the monitor as a backlog.
    tick_.last_made.reset();
  } else {
    // The monitor's reader is this thread's alone.
    monitor_reader_.Reset();
    monitor_reader_.Reserve(buffer_frames);
    const uint64_t waiting = monitor_fifo_.Size();
    if (waiting > kTickFrames) monitor_fifo_.DropOldest(waiting - kTickFrames);
  }
  const auto started = Clock::now();
  OutputDryWatch watch(rate, started);
  std::vector<float> frames;
  frames.reserve(size_t{buffer_frames} * 2);
  // The device's requests, in 48,000 Hz frames.
  uint64_t requested = 0;
  uint64_t glitches_seen = 0;
  // Set when the mix (or the microphone behind it) was not all there: the thread comes back as
  // soon as it may be, rather than at the device's next request.
  bool owed = false;
  // Whether the monitor played the mix at the last pass.
  bool monitor_was_on = false;
  // Whether the cable skips what was made while it did not ask: one break until it plays on.
  bool skipping = false;
  while (!stop_.load()) {
    result = stream.client->WaitForBuffer(owed ? kOwedWait100ns : period);
    const bool asked = result == audio_result::kOk;
    uint32_t padding = 0;
    // A failing call here means the device is gone: this output ends, the others go on.
    if (AudioSucceeded(result)) result = stream.client->GetCurrentPadding(&padding);
    if (AudioFailed(result)) {
      ReportDeviceFailure(std::string(label) + " stopped playing: " +
                          FormatHresult("Failed to read the render buffer padding", result));
      break;
    }
    const auto now = Clock::now();
    if (cable && asked) {
      cable_asked_at_.store(now.time_since_epoch().count(), std::memory_order_relaxed);
    }
    uint64_t glitches = glitches_seen;
    stream.client->GetGlitchCount(&glitches);
    const bool device_ran_dry = glitches > glitches_seen;
    glitches_seen = std::max(glitches, glitches_seen);
    // A break lasts until a pass finds the device playing and plays it nothing silent. A monitor
    // that is off plays silence anyway: running dry breaks nothing there.
    bool broke = false;
    if (uint64_t silence = watch.Pass(now, padding, device_ran_dry);
        silence > 0 && (cable || monitor_was_on)) {
      broke = true;
      episode.Note(now, BreakCause::kRanDry, to_engine_frames(silence),
                   watch.longest_pause().count());
      if (queue.Grow(now, silence)) {
        notes->NoteQueue(to_engine_frames(queue.frames()));
        ask_for_queue();
      }
    }
    if (queue.Settle(now)) {
      notes->NoteQueue(to_engine_frames(queue.frames()));
      ask_for_queue();
    }

    const uint64_t wanted = queue.frames() > padding ? queue.frames() - padding : 0;
    const uint64_t room = buffer_frames > padding ? buffer_frames - padding : 0;
    // How long this device can still wait for a late mix or a late microphone: until its queue is
    // down to its floor (or to half its target, for a microphone known to be late).
    auto waits_down_to = [&](uint64_t queued, uint64_t level) {
      return now + duration_of(queued > level ? queued - level : 0);
    };
    const Clock::time_point waits_until = waits_down_to(padding, floor_frames);
    const bool monitor_enabled =
        !cable && runtime_state_->GetAudioSettingsView().monitor_enabled;
    monitor_was_on = monitor_enabled;
    uint64_t count = 0;
    owed = false;
    if (cable) {
      // Ticks until the mix covers what the queue wants; all that is mixed goes to the device,
      // so that no finished tick waits in the FIFO. A late microphone is waited for only while
      // the cable can wait; the clip goes on meanwhile.
      uint64_t skipped = 0;
      if (!TickForCable(now, mix_resampler.FramesNeeded(rate, wanted, 1.0),
                        VoiceWaits{waits_until, waits_down_to(padding, queue.frames() / 2)},
                        &skipped)) {
        owed = true;
      }
      if (skipped > 0) {
        episode.Note(now, BreakCause::kNotTaken, skipped);
        skipping = true;
      }
      count = mix_resampler.FramesProducible(mix_fifo_.Size(), rate, room, 1.0);
    } else if (monitor_enabled) {
      // What piled up while the monitor could not play is stale: dropped within this break, not
      // a window later as a second one.
      if (broke && monitor_fifo_.Size() > to_engine_frames(wanted) + kTickFrames) {
        monitor_reader_.Reset();
      }
      uint64_t ready = monitor_reader_.FramesReady(monitor_fifo_.Size(), rate, wanted);
      if (ready < wanted) {
        // The cable's thread may be held up: the clip never waits for it, the less so with the
        // monitor's queue down to its floor (the resampler reads one frame ahead).
        TickForMonitor(now, padding > floor_frames ? 0 : to_engine_frames(wanted) + 1);
        ready = monitor_reader_.FramesReady(monitor_fifo_.Size(), rate, wanted);
      }
      count = wanted;
      if (ready < wanted && padding > floor_frames) {
        count = ready;
        owed = true;
      } else if (ready == 0 && wanted > 0) {
        // Nothing came while the queue ran down: silence until the mix comes again, then a new
        // alignment.
        monitor_reader_.WriterStopped();
      }
    } else {
      count = wanted;
    }
    if (count == 0) {
      if (!broke && !skipping && padding > 0) episode.End(now);
      continue;
    }
    data = nullptr;
    result = render->GetBuffer(static_cast<uint32_t>(count), &data);
    if (AudioFailed(result) || data == nullptr) {
      ReportDeviceFailure(std::string(label) + " stopped playing: " +
                          FormatHresult("Failed to get the render buffer", result));
      break;
    }
    requested += to_engine_frames(count);
    if (now - started >= kStartSettling) notes->jitter().Note(now, requested);
    if (cable) {
      mix_resampler.Pull(&mix_fifo_, rate, count, &frames);
    } else if (!monitor_enabled) {
      // Turned on again, the monitor starts from the clip as it is then, not from old frames.
      monitor_reader_.Reset();
      monitor_fifo_.Clear();
      frames.assign(size_t{count} * 2, 0.0f);
    } else {
      const bool aligned_before = monitor_reader_.follower().ever_aligned();
      DriftFollower::Decision read =
          monitor_reader_.Read(&monitor_fifo_, rate, count, now, &frames);
      if (read.margin_changed) notes->NoteMargin(monitor_reader_.follower().margin_frames());
      if (read.short_frames > 0 || (read.hold && aligned_before)) {
        broke = true;
        episode.Note(now, BreakCause::kLateMix,
                     to_engine_frames(read.hold ? count : read.short_frames));
      } else if (read.drop_frames > 0 && aligned_before && !episode.open()) {
        episode.Note(now, BreakCause::kBacklog, read.drop_frames);
      }
    }
    ConvertStereoToEndpointFormat(frames.data(), count, count, format, data);
    render->ReleaseBuffer(static_cast<uint32_t>(count), 0);
    watch.Wrote(Clock::now(), count);
    if (!broke && !skipping) episode.End(now);
    skipping = false;
  }
  if (cable) {
    // The mixer thread makes the ticks from now on, so that the monitor and the voice test go on.
    {
      std::lock_guard tick(tick_mutex_);
      cable_ticks_.store(false);
    }
    mixer_wake_.release();
  }
  episode.Finish();
  stream.client->Stop();
}

}  // namespace zennic
