#include "platform/audio_client_linux.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstring>
#include <semaphore>
#include <vector>

#include "platform/audio_thread_priority.h"

namespace zennic {
namespace {

// What a shared-mode endpoint offers as its period: 5 ms by default (the fragments the streams
// ask for below), 3 ms at the least. The threads wake at a stream's requests and deliveries, or
// after a period at the latest.
constexpr int64_t kDefaultDevicePeriod100ns = 50000;
constexpr int64_t kMinimumDevicePeriod100ns = 30000;

AudioMixFormat MixFormatOf(const pa_sample_spec& spec) {
  AudioMixFormat format;
  format.format_tag = AudioMixFormat::kTagExtensible;
  format.extension_size = AudioMixFormat::kExtensibleSize;
  format.channels = static_cast<uint16_t>(spec.channels);
  format.sample_rate = spec.rate;
  format.sub_format = AudioMixFormat::SubFormat::kPcm;
  switch (spec.format) {
    case PA_SAMPLE_U8:
      // Reported as it is: no shared-mode stream of ours takes it.
      format.bits_per_sample = format.valid_bits_per_sample = 8;
      break;
    case PA_SAMPLE_S16LE:
      format.bits_per_sample = format.valid_bits_per_sample = 16;
      break;
    case PA_SAMPLE_S24LE:
      format.bits_per_sample = format.valid_bits_per_sample = 24;
      break;
    case PA_SAMPLE_S24_32LE:
      format.bits_per_sample = 32;
      format.valid_bits_per_sample = 24;
      break;
    case PA_SAMPLE_S32LE:
      format.bits_per_sample = format.valid_bits_per_sample = 32;
      break;
    default:
      // Float, and every format without a counterpart, which the server converts for us.
      format.bits_per_sample = format.valid_bits_per_sample = 32;
      format.sub_format = AudioMixFormat::SubFormat::kIeeeFloat;
      break;
  }
  format.block_align = static_cast<uint16_t>(format.channels * format.bits_per_sample / 8);
  return format;
}

bool SampleSpecOf(const AudioMixFormat& format, pa_sample_spec* spec) {
  bool is_float = false;
  if (format.format_tag == AudioMixFormat::kTagExtensible) {
    if (format.extension_size < AudioMixFormat::kExtensibleSize) return false;
    if (format.sub_format == AudioMixFormat::SubFormat::kOther) return false;
    is_float = format.sub_format == AudioMixFormat::SubFormat::kIeeeFloat;
  } else if (format.format_tag == AudioMixFormat::kTagIeeeFloat) {
    is_float = true;
  } else if (format.format_tag != AudioMixFormat::kTagPcm) {
    return false;
  }
  if (is_float) {
    if (format.bits_per_sample != 32) return false;
    spec->format = PA_SAMPLE_FLOAT32LE;
  } else if (format.bits_per_sample == 16) {
    spec->format = PA_SAMPLE_S16LE;
  } else if (format.bits_per_sample == 24) {
    spec->format = PA_SAMPLE_S24LE;
  } else if (format.bits_per_sample == 32) {
    // In a 32-bit container 24 valid bits sit in the upper three bytes, as the extensible
    // format has them: to the server that is plain S32, while its S24_32 keeps them in the
    // lower bytes and would play them 48 dB too quiet.
    spec->format = PA_SAMPLE_S32LE;
  } else {
    return false;
  }
  spec->rate = format.sample_rate;
  spec->channels = static_cast<uint8_t>(std::min<uint16_t>(format.channels, 255));
  return format.channels <= PA_CHANNELS_MAX && pa_sample_spec_valid(spec) &&
         format.block_align == format.channels * format.bits_per_sample / 8;
}

// How often a capture stream's loop beats, and how many beats it may miss before a wait that
// found nothing says the loop was held up rather than the device late: a loop running on time
// beats within a couple of milliseconds of each.
constexpr pa_usec_t kBeatPeriodUsec = 5000;
constexpr auto kBeatPeriod = std::chrono::microseconds(kBeatPeriodUsec);
constexpr int kMissedBeats = 2;

// A virtual sink ahead of the wall clock by more than this runs at somebody else's pace.
constexpr pa_usec_t kRunawaySinkLatencyUsec = 100000;

struct SinkPaceQuery {
  PulseConnection* connection = nullptr;
  bool found = false;
  bool hardware = false;
  pa_usec_t latency = 0;
};

void OnSinkPace(pa_context*, const pa_sink_info* info, int end_of_list, void* userdata) {
  auto* query = static_cast<SinkPaceQuery*>(userdata);
  if (end_of_list == 0 && info != nullptr) {
    query->found = true;
    query->hardware = (info->flags & PA_SINK_HARDWARE) != 0;
    query->latency = info->latency;
  }
  if (end_of_list != 0) query->connection->Signal();
}

// A render stream's: `tlength` queued, requests of a period at least, no pre-buffering: a queue
// that runs dry plays silence for as long and goes on with what comes next, as a device does,
// rather than stop until a whole buffer waits again.
pa_buffer_attr RenderBufferAttr(uint32_t tlength, uint32_t period_bytes) {
  pa_buffer_attr attr;
  attr.maxlength = static_cast<uint32_t>(-1);
  attr.tlength = tlength;
  attr.prebuf = 0;
  attr.minreq = period_bytes;
  attr.fragsize = static_cast<uint32_t>(-1);
  return attr;
}

// The loop carries a stream's audio to and from the server, so it is an audio thread too.
void RaiseLoopPriority(pa_mainloop_api*, void*) { RaiseAudioThreadPriority(); }

// One object serves as the client and as whichever service its flow has. All state is guarded
// by the connection's loop lock.
class PulseAudioClient final : public AudioClient,
                               public AudioRenderClient,
                               public AudioCaptureClient {
 public:
  PulseAudioClient(std::shared_ptr<PulseConnection> connection, AudioFlow flow,
                   std::string device_name, const pa_sample_spec& device_spec)
      : connection_(std::move(connection)),
        flow_(flow),
        device_name_(std::move(device_name)),
        device_spec_(device_spec) {}

  ~PulseAudioClient() override {
    if (stream_ == nullptr) return;
    PulseLock lock(*connection_);
    if (beat_ != nullptr) {
      pa_threaded_mainloop_get_api(connection_->loop())->time_free(beat_);
    }
    Release(stream_);
  }

  AudioResult GetMixFormat(AudioMixFormat* format) override {
    if (format == nullptr) return audio_result::kPointer;
    *format = MixFormatOf(device_spec_);
    return audio_result::kOk;
  }

  AudioResult Initialize(const AudioMixFormat& format, int64_t buffer_duration_100ns) override {
    pa_sample_spec spec{};
    if (!SampleSpecOf(format, &spec)) return audio_result::kUnsupportedFormat;
    if (connection_->InLoopThread()) return audio_result::kOutOfOrder;
    PulseLock lock(*connection_);
    if (stream_ != nullptr) return audio_result::kAlreadyInitialized;

    pa_channel_map map;
    // The engine's channel order: left, right, then the rest as the extensible format orders them.
    if (pa_channel_map_init_extend(&map, spec.channels, PA_CHANNEL_MAP_WAVEEX) == nullptr) {
      return audio_result::kUnsupportedFormat;
    }
    pa_stream* stream = pa_stream_new(connection_->context(), "Ruzerad", &spec, &map);
    if (stream == nullptr) return connection_->LastError();
    pa_stream_set_state_callback(stream, OnStreamState, this);
    // The stream's own requests and deliveries wake its thread, as a device's period event does.
    pa_stream_set_write_callback(stream, OnStreamRequest, this);
    pa_stream_set_read_callback(stream, OnStreamRequest, this);
    pa_stream_set_underflow_callback(stream, OnUnderflow, this);
    pa_stream_set_suspended_callback(stream, OnSuspended, this);

    int64_t duration = std::max(buffer_duration_100ns, kMinimumDevicePeriod100ns);
    auto buffer_bytes = static_cast<uint32_t>(
        pa_usec_to_bytes(static_cast<pa_usec_t>(duration / 10), &spec));
    auto period_bytes = static_cast<uint32_t>(
        pa_usec_to_bytes(static_cast<pa_usec_t>(kDefaultDevicePeriod100ns / 10), &spec));
    // A render stream asks for audio whenever less than its queue target waits (until the
    // engine says, four periods), a period at a time; the sink holds no more than a period of it
    // ahead of its clock (early requests), so that what is queued is the stream's, where a late
    // writer finds it. A capture stream hands over a period at a time.
    pa_buffer_attr attr = RenderBufferAttr(std::min(buffer_bytes, 4 * period_bytes), period_bytes);
    if (flow_ == AudioFlow::kCapture) {
      attr.tlength = attr.prebuf = attr.minreq = static_cast<uint32_t>(-1);
      attr.fragsize = period_bytes;
    }
    // A stream stays on its device: when the device goes, the stream ends instead of moving
    // the user's voice to whatever device takes its role. The server's timing, kept up to date
    // and carried forward on the clock, tells how much of what was written is still to play.
    auto flags = static_cast<pa_stream_flags_t>(
        PA_STREAM_START_CORKED | PA_STREAM_DONT_MOVE | PA_STREAM_INTERPOLATE_TIMING |
        PA_STREAM_AUTO_TIMING_UPDATE |
        (flow_ == AudioFlow::kRender ? PA_STREAM_EARLY_REQUESTS : PA_STREAM_ADJUST_LATENCY));
    int connected =
        flow_ == AudioFlow::kRender
            ? pa_stream_connect_playback(stream, device_name_.c_str(), &attr, flags, nullptr,
                                         nullptr)
            : pa_stream_connect_record(stream, device_name_.c_str(), &attr, flags);
    AudioResult result = connected < 0 ? connection_->LastError() : audio_result::kOk;
    if (AudioSucceeded(result)) {
      result = connection_->WaitUntil(
          [stream] { return pa_stream_get_state(stream) != PA_STREAM_CREATING; });
    }
    if (AudioSucceeded(result) && pa_stream_get_state(stream) != PA_STREAM_READY) {
      result = connection_->LastError();
      if (result == audio_result::kNotFound || result == audio_result::kOk) {
        result = audio_result::kDeviceInvalidated;
      }
    }
    if (AudioFailed(result)) {
      Release(stream);
      return result;
    }

    stream_ = stream;
    stream_spec_ = spec;
    if (flow_ == AudioFlow::kCapture) {
      Beat();
      beat_ = pa_context_rttime_new(connection_->context(), pa_rtclock_now() + kBeatPeriodUsec,
                                    OnBeat, this);
    }
    pa_mainloop_api_once(pa_threaded_mainloop_get_api(connection_->loop()), RaiseLoopPriority,
                         nullptr);
    frame_bytes_ = static_cast<uint32_t>(pa_frame_size(&spec));
    period_bytes_ = period_bytes;
    // The buffer is what was asked for, from a write to its playing: the server keeps part of
    // it in the device and the rest in the stream's queue, and the padding counts both.
    buffer_frames_ = std::max<uint32_t>(buffer_bytes / frame_bytes_, 1);
    if (flow_ == AudioFlow::kRender) render_buffer_.resize(size_t{buffer_frames_} * frame_bytes_);
    return audio_result::kOk;
  }

  AudioResult GetBufferSize(uint32_t* frames) override {
    if (frames == nullptr) return audio_result::kPointer;
    PulseLock lock(*connection_);
    if (stream_ == nullptr) return audio_result::kNotInitialized;
    *frames = buffer_frames_;
    return audio_result::kOk;
  }

  AudioResult GetCurrentPadding(uint32_t* frames) override {
    if (frames == nullptr) return audio_result::kPointer;
    PulseLock lock(*connection_);
    AudioResult state = StreamState();
    if (AudioFailed(state)) return state;
    if (flow_ == AudioFlow::kCapture) {
      size_t readable = pa_stream_readable_size(stream_);
      if (readable == static_cast<size_t>(-1)) return audio_result::kDeviceInvalidated;
      *frames = static_cast<uint32_t>((readable - std::min(readable, peek_offset_)) / frame_bytes_);
      return audio_result::kOk;
    }
    return RenderPadding(frames);
  }

  AudioResult GetDevicePeriod(int64_t* default_period, int64_t* minimum_period) override {
    if (default_period == nullptr && minimum_period == nullptr) return audio_result::kPointer;
    if (default_period != nullptr) *default_period = kDefaultDevicePeriod100ns;
    if (minimum_period != nullptr) *minimum_period = kMinimumDevicePeriod100ns;
    return audio_result::kOk;
  }

  AudioResult WaitForBuffer(int64_t timeout_100ns) override {
    {
      PulseLock lock(*connection_);
      AudioResult state = StreamState();
      if (AudioFailed(state)) return state;
    }
    auto timeout = std::chrono::microseconds(std::max<int64_t>(timeout_100ns, 0) / 10);
    if (!event_.try_acquire_for(timeout)) {
      // The loop that carries the stream's audio beats every period: a beat long missed says the
      // loop was held up, and the audio may be on its way still.
      const auto beat = std::chrono::steady_clock::time_point(
          std::chrono::nanoseconds(loop_beat_ns_.load(std::memory_order_relaxed)));
      return flow_ == AudioFlow::kCapture &&
                     std::chrono::steady_clock::now() - beat > kMissedBeats * kBeatPeriod
                 ? audio_result::kNotSeen
                 : audio_result::kFalse;
    }
    // One wake answers every request made meanwhile.
    while (event_.try_acquire()) {
    }
    return audio_result::kOk;
  }

  AudioResult SetQueueTarget(int64_t duration_100ns) override {
    if (flow_ != AudioFlow::kRender) return audio_result::kWrongEndpointType;
    PulseLock lock(*connection_);
    AudioResult state = StreamState();
    if (AudioFailed(state)) return state;
    const auto bytes = static_cast<uint32_t>(pa_usec_to_bytes(
        static_cast<pa_usec_t>(std::max<int64_t>(duration_100ns, 0) / 10), &stream_spec_));
    const pa_buffer_attr attr = RenderBufferAttr(std::max(bytes, 2 * period_bytes_), period_bytes_);
    // Not waited for: the audio thread goes on, and the server takes it when it comes.
    pa_operation* operation = pa_stream_set_buffer_attr(stream_, &attr, nullptr, nullptr);
    if (operation == nullptr) return connection_->LastError();
    pa_operation_unref(operation);
    return audio_result::kOk;
  }

  AudioResult GetGlitchCount(uint64_t* glitches) override {
    if (glitches == nullptr) return audio_result::kPointer;
    *glitches = glitches_.load(std::memory_order_relaxed);
    return audio_result::kOk;
  }

  bool DeviceSuspended() const override { return suspended_.load(std::memory_order_relaxed); }

  AudioResult GetRenderClient(AudioRenderClient** service) override {
    if (service == nullptr) return audio_result::kPointer;
    *service = nullptr;
    AudioResult ready = ServiceReady(AudioFlow::kRender);
    if (AudioSucceeded(ready)) *service = this;
    return ready;
  }

  AudioResult GetCaptureClient(AudioCaptureClient** service) override {
    if (service == nullptr) return audio_result::kPointer;
    *service = nullptr;
    AudioResult ready = ServiceReady(AudioFlow::kCapture);
    if (AudioSucceeded(ready)) *service = this;
    return ready;
  }

  AudioResult Start() override {
    PulseLock lock(*connection_);
    AudioResult state = StreamState();
    if (AudioFailed(state)) return state;
    if (started_) return audio_result::kNotStopped;
    AudioResult corked = Cork(false);
    if (AudioFailed(corked)) return corked;
    started_ = true;
    if (flow_ == AudioFlow::kRender) CatchUpRunawaySink();
    return audio_result::kOk;
  }

  AudioResult Stop() override {
    PulseLock lock(*connection_);
    if (stream_ == nullptr) return audio_result::kNotInitialized;
    if (!started_) return audio_result::kFalse;
    started_ = false;
    return pa_stream_get_state(stream_) == PA_STREAM_READY ? Cork(true) : audio_result::kOk;
  }

  // Render service.
  AudioResult GetBuffer(uint32_t frames, uint8_t** data) override {
    if (data == nullptr) return audio_result::kPointer;
    *data = nullptr;
    PulseLock lock(*connection_);
    AudioResult state = StreamState();
    if (AudioFailed(state)) return state;
    if (render_held_) return audio_result::kOutOfOrder;
    uint32_t padding = 0;
    AudioResult padded = RenderPadding(&padding);
    if (AudioFailed(padded)) return padded;
    if (frames > buffer_frames_ - padding) return audio_result::kBufferTooLarge;
    render_held_ = true;
    render_held_frames_ = frames;
    *data = render_buffer_.data();
    return audio_result::kOk;
  }

  AudioResult ReleaseBuffer(uint32_t frames, uint32_t flags) override {
    PulseLock lock(*connection_);
    if (!render_held_) return frames == 0 ? audio_result::kOk : audio_result::kOutOfOrder;
    uint32_t held = render_held_frames_;
    render_held_ = false;
    render_held_frames_ = 0;
    if (frames > held) return audio_result::kInvalidSize;
    AudioResult state = StreamState();
    if (AudioFailed(state)) return state;
    if (frames == 0) return audio_result::kOk;
    size_t bytes = size_t{frames} * frame_bytes_;
    if ((flags & kAudioBufferFlagSilent) != 0) std::memset(render_buffer_.data(), 0, bytes);
    // A stream that ran dry goes on playing silence, and the server drops what is then written
    // for the time it already played: a jump on top of the silence, and a queue left short by
    // as much. Written from where the server reads, it plays whole after the silence, as a
    // device does after an underrun.
    pa_seek_mode_t seek = PA_SEEK_RELATIVE;
    if (ran_dry_) {
      ran_dry_ = false;
      const uint64_t played = PlayedFrames();
      if (written_frames_ <= played) {
        seek = PA_SEEK_RELATIVE_ON_READ;
        const pa_timing_info* timing = pa_stream_get_timing_info(stream_);
        const uint64_t rendered_ahead =
            timing != nullptr ? pa_usec_to_bytes(timing->sink_usec, &stream_spec_) / frame_bytes_
                              : 0;
        written_frames_ = played + rendered_ahead;
      }
    }
    if (pa_stream_write(stream_, render_buffer_.data(), bytes, nullptr, 0, seek) < 0) {
      return connection_->LastError();
    }
    written_frames_ += frames;
    return audio_result::kOk;
  }

  // Capture service: each packet is a piece of the server's own buffer, handed over in place.
  AudioResult GetNextPacketSize(uint32_t* frames) override {
    if (frames == nullptr) return audio_result::kPointer;
    PulseLock lock(*connection_);
    AudioResult state = StreamState();
    if (AudioFailed(state)) return state;
    AudioResult peeked = PeekCapture();
    if (AudioFailed(peeked)) return peeked;
    *frames = CaptureFramesLeft();
    return audio_result::kOk;
  }

  AudioResult GetBuffer(uint8_t** data, uint32_t* frames, uint32_t* flags) override {
    if (data == nullptr || frames == nullptr || flags == nullptr) return audio_result::kPointer;
    *data = nullptr;
    *frames = 0;
    *flags = 0;
    PulseLock lock(*connection_);
    AudioResult state = StreamState();
    if (AudioFailed(state)) return state;
    if (capture_held_frames_ != 0) return audio_result::kOutOfOrder;
    AudioResult peeked = PeekCapture();
    if (AudioFailed(peeked)) return peeked;
    if (CaptureFramesLeft() == 0) return audio_result::kBufferEmpty;
    capture_held_frames_ = CaptureFramesLeft();
    *frames = capture_held_frames_;
    if (peek_data_ == nullptr) {
      // A hole in the stream: audio the server lost before it reached us.
      *flags = kAudioBufferFlagSilent | kAudioBufferFlagDataDiscontinuity;
    } else {
      *data = const_cast<uint8_t*>(peek_data_) + peek_offset_;
    }
    return audio_result::kOk;
  }

  AudioResult ReleaseBuffer(uint32_t frames) override {
    PulseLock lock(*connection_);
    uint32_t held = capture_held_frames_;
    capture_held_frames_ = 0;
    if (frames > held) return audio_result::kInvalidSize;
    if (frames == 0) return audio_result::kOk;
    peek_offset_ += size_t{frames} * frame_bytes_;
    if (peek_offset_ >= peek_bytes_ && StreamState() == audio_result::kOk) {
      pa_stream_drop(stream_);
      peek_bytes_ = peek_offset_ = 0;
      peek_data_ = nullptr;
    }
    return audio_result::kOk;
  }

 private:
  // Locked. The stream's condition as a code: a stream whose device went away has failed.
  AudioResult StreamState() const {
    if (stream_ == nullptr) return audio_result::kNotInitialized;
    if (pa_stream_get_state(stream_) != PA_STREAM_READY) return audio_result::kDeviceInvalidated;
    return audio_result::kOk;
  }

  AudioResult ServiceReady(AudioFlow wanted) {
    PulseLock lock(*connection_);
    if (stream_ == nullptr) return audio_result::kNotInitialized;
    return flow_ == wanted ? audio_result::kOk : audio_result::kWrongEndpointType;
  }

  // Locked. Queued frames: what was written and has not played yet, from the server's timing
  // carried forward on the clock; until the server's first timing comes, all of it.
  AudioResult RenderPadding(uint32_t* frames) const {
    if (pa_stream_writable_size(stream_) == static_cast<size_t>(-1)) {
      return audio_result::kDeviceInvalidated;
    }
    const uint64_t played = PlayedFrames();
    uint64_t queued = written_frames_ > played ? written_frames_ - played : 0;
    *frames = static_cast<uint32_t>(std::min<uint64_t>(queued, buffer_frames_));
    return audio_result::kOk;
  }

  // Locked. The frames the device has played so far, as the server last told and the time since.
  uint64_t PlayedFrames() const {
    pa_usec_t played_usec = 0;
    if (pa_stream_get_time(stream_, &played_usec) != 0) return 0;
    return pa_usec_to_bytes(played_usec, &stream_spec_) / frame_bytes_;
  }

  // Locked. Takes the next piece the server delivered, unless one is still being read.
  AudioResult PeekCapture() {
    if (peek_bytes_ > 0 || pa_stream_readable_size(stream_) == 0) return audio_result::kOk;
    const void* data = nullptr;
    size_t bytes = 0;
    if (pa_stream_peek(stream_, &data, &bytes) < 0) return connection_->LastError();
    if (bytes == 0) return audio_result::kOk;
    peek_data_ = static_cast<const uint8_t*>(data);
    peek_bytes_ = bytes - bytes % frame_bytes_;
    peek_offset_ = 0;
    if (peek_data_ == nullptr) glitches_.fetch_add(1, std::memory_order_relaxed);
    if (peek_bytes_ == 0) pa_stream_drop(stream_);
    return audio_result::kOk;
  }

  uint32_t CaptureFramesLeft() const {
    return static_cast<uint32_t>((peek_bytes_ - peek_offset_) / frame_bytes_);
  }

  // Locked.
  void Release(pa_stream* stream) {
    pa_stream_set_state_callback(stream, nullptr, nullptr);
    pa_stream_set_write_callback(stream, nullptr, nullptr);
    pa_stream_set_read_callback(stream, nullptr, nullptr);
    pa_stream_set_underflow_callback(stream, nullptr, nullptr);
    pa_stream_set_suspended_callback(stream, nullptr, nullptr);
    pa_stream_disconnect(stream);
    pa_stream_unref(stream);
  }

  // The callbacks run on the connection's loop, locked.
  static void OnStreamState(pa_stream*, void* userdata) {
    auto* client = static_cast<PulseAudioClient*>(userdata);
    client->connection_->Signal();
    // A stream that failed wakes its thread, which then finds out.
    client->event_.release();
  }

  static void OnStreamRequest(pa_stream*, size_t, void* userdata) {
    auto* client = static_cast<PulseAudioClient*>(userdata);
    client->Beat();
    client->event_.release();
  }

  // On the loop, locked: the loop ran now.
  void Beat() {
    loop_beat_ns_.store(std::chrono::duration_cast<std::chrono::nanoseconds>(
                            std::chrono::steady_clock::now().time_since_epoch())
                            .count(),
                        std::memory_order_relaxed);
  }

  static void OnBeat(pa_mainloop_api*, pa_time_event* event, const struct timeval*,
                     void* userdata) {
    auto* client = static_cast<PulseAudioClient*>(userdata);
    client->Beat();
    pa_context_rttime_restart(client->connection_->context(), event,
                              pa_rtclock_now() + kBeatPeriodUsec);
  }

  static void OnSuspended(pa_stream* stream, void* userdata) {
    auto* client = static_cast<PulseAudioClient*>(userdata);
    client->suspended_.store(pa_stream_is_suspended(stream) == 1, std::memory_order_relaxed);
  }

  static void OnUnderflow(pa_stream*, void* userdata) {
    auto* client = static_cast<PulseAudioClient*>(userdata);
    client->glitches_.fetch_add(1, std::memory_order_relaxed);
    client->ran_dry_ = true;
    client->event_.release();
  }

  // Locked. A virtual sink that nobody holds to a low latency (a null sink used as the cable)
  // renders up to two seconds ahead of the clock and asks for more only when that runs out, so
  // this stream would first be heard that much later, however low a latency it asked for.
  // Suspending and resuming such a sink restarts its clock at the pace its clients now ask for.
  // Sound cards and sinks somebody keeps at a low latency are left alone.
  void CatchUpRunawaySink() {
    SinkPaceQuery query{connection_.get()};
    pa_context* context = connection_->context();
    AudioResult asked = connection_->Finish(pa_context_get_sink_info_by_name(
        context, device_name_.c_str(), OnSinkPace, &query));
    if (AudioFailed(asked) || !query.found || query.hardware ||
        query.latency < kRunawaySinkLatencyUsec) {
      return;
    }
    for (int suspend : {1, 0}) {
      PulseSuccessRequest request{connection_.get(), false};
      connection_->Finish(pa_context_suspend_sink_by_name(context, device_name_.c_str(), suspend,
                                                          PulseSuccessRequest::OnContextAnswer,
                                                          &request),
                          request);
    }
  }

  // Locked.
  AudioResult Cork(bool pause) {
    PulseSuccessRequest request{connection_.get(), false};
    AudioResult result = connection_->Finish(
        pa_stream_cork(stream_, pause ? 1 : 0, PulseSuccessRequest::OnStreamAnswer, &request),
        request);
    if (AudioFailed(result) && pa_stream_get_state(stream_) != PA_STREAM_READY) {
      return audio_result::kDeviceInvalidated;
    }
    return result;
  }

  std::shared_ptr<PulseConnection> connection_;
  AudioFlow flow_;
  std::string device_name_;
  pa_sample_spec device_spec_;

  pa_stream* stream_ = nullptr;
  pa_sample_spec stream_spec_{};
  bool started_ = false;
  uint32_t frame_bytes_ = 0;
  uint32_t period_bytes_ = 0;
  uint32_t buffer_frames_ = 0;
  std::counting_semaphore<> event_{0};
  // The capture loop's beat, and when it last beat (steady clock, nanoseconds).
  pa_time_event* beat_ = nullptr;
  std::atomic<int64_t> loop_beat_ns_{0};
  std::atomic<uint64_t> glitches_{0};
  std::atomic<bool> suspended_{false};
  std::vector<uint8_t> render_buffer_;
  bool render_held_ = false;
  uint32_t render_held_frames_ = 0;
  uint64_t written_frames_ = 0;
  bool ran_dry_ = false;  // since the last write
  // The piece of the server's capture buffer being read, and how far.
  const uint8_t* peek_data_ = nullptr;
  size_t peek_bytes_ = 0;
  size_t peek_offset_ = 0;
  uint32_t capture_held_frames_ = 0;
};

}  // namespace

std::unique_ptr<AudioClient> MakePulseAudioClient(std::shared_ptr<PulseConnection> connection,
                                                  AudioFlow flow, std::string device_name,
                                                  const pa_sample_spec& device_spec) {
  return std::make_unique<PulseAudioClient>(std::move(connection), flow, std::move(device_name),
                                            device_spec);
}

}  // namespace zennic
