#include "support/fake_audio_stream.h"

#include <algorithm>
#include <chrono>
#include <thread>
#include <vector>

namespace zennic::testing {
namespace {

using Clock = std::chrono::steady_clock;

constexpr int64_t kDevicePeriod100ns = 100000;  // 10 ms
constexpr uint64_t kMaxWaitingPackets = 100;     // a capture device keeps at most one second

bool SameFormat(const AudioMixFormat& a, const AudioMixFormat& b) {
  return a.format_tag == b.format_tag && a.channels == b.channels &&
         a.sample_rate == b.sample_rate && a.block_align == b.block_align &&
         a.bits_per_sample == b.bits_per_sample && a.sub_format == b.sub_format;
}

// One object is the client and whichever service its flow has. A device thread owns it, so
// it needs no lock.
class FakeAudioClient final : public AudioClient, public AudioRenderClient, public AudioCaptureClient {
 public:
  FakeAudioClient(AudioFlow flow, FakeStreamSettings settings,
                  std::shared_ptr<FakeEndpointPresence> presence)
      : flow_(flow), settings_(std::move(settings)), presence_(std::move(presence)) {}

  AudioResult GetMixFormat(AudioMixFormat* format) override {
    if (format == nullptr) return audio_result::kPointer;
    if (!Present()) return audio_result::kDeviceInvalidated;
    *format = settings_.format;
    return audio_result::kOk;
  }

  AudioResult Initialize(const AudioMixFormat& format, int64_t buffer_duration_100ns) override {
    if (!Present()) return audio_result::kDeviceInvalidated;
    if (initialized_) return audio_result::kAlreadyInitialized;
    if (!SameFormat(format, settings_.format)) return audio_result::kUnsupportedFormat;
    if (AudioFailed(settings_.initialize_result)) return settings_.initialize_result;
    buffer_frames_ = static_cast<uint32_t>(buffer_duration_100ns * format.sample_rate / 10000000);
    packet_frames_ = format.sample_rate / 100;
    buffer_.resize(size_t{buffer_frames_} * format.block_align);
    initialized_ = true;
    return audio_result::kOk;
  }

  AudioResult GetBufferSize(uint32_t* frames) override {
    if (frames == nullptr) return audio_result::kPointer;
    if (!initialized_) return audio_result::kNotInitialized;
    *frames = buffer_frames_;
    return audio_result::kOk;
  }

  AudioResult GetCurrentPadding(uint32_t* frames) override {
    if (frames == nullptr) return audio_result::kPointer;
    AudioResult ready = Ready();
    if (AudioFailed(ready)) return ready;
    *frames = flow_ == AudioFlow::kRender ? RenderPadding()
                                           : static_cast<uint32_t>(WaitingPackets() * packet_frames_);
    return audio_result::kOk;
  }

  AudioResult GetDevicePeriod(int64_t* default_period, int64_t* minimum_period) override {
    if (default_period != nullptr) *default_period = kDevicePeriod100ns;
    if (minimum_period != nullptr) *minimum_period = kDevicePeriod100ns / 3;
    return audio_result::kOk;
  }

  // Wakes at the device's next period, as an event-driven stream's device signals.
  AudioResult WaitForBuffer(int64_t timeout_100ns) override {
    AudioResult ready = Ready();
    if (AudioFailed(ready)) return ready;
    auto period = std::chrono::nanoseconds(kDevicePeriod100ns * 100);
    auto elapsed = Clock::now() - start_time_;
    Clock::time_point next = start_time_ + (elapsed / period + 1) * period;
    Clock::time_point limit = Clock::now() + std::chrono::nanoseconds(timeout_100ns * 100);
    std::this_thread::sleep_until(std::min(next, limit));
    return next <= limit ? audio_result::kOk : audio_result::kFalse;
  }

  AudioResult SetQueueTarget(int64_t) override {
    return initialized_ ? audio_result::kOk : audio_result::kNotInitialized;
  }

  AudioResult GetGlitchCount(uint64_t* glitches) override {
    if (glitches == nullptr) return audio_result::kPointer;
    *glitches = glitches_;
    return audio_result::kOk;
  }

  bool DeviceSuspended() const override { return false; }

  AudioResult GetRenderClient(AudioRenderClient** service) override {
    if (service == nullptr) return audio_result::kPointer;
    if (!initialized_) return audio_result::kNotInitialized;
    if (flow_ != AudioFlow::kRender) return audio_result::kWrongEndpointType;
    *service = this;
    return audio_result::kOk;
  }

  AudioResult GetCaptureClient(AudioCaptureClient** service) override {
    if (service == nullptr) return audio_result::kPointer;
    if (!initialized_) return audio_result::kNotInitialized;
    if (flow_ != AudioFlow::kCapture) return audio_result::kWrongEndpointType;
    *service = this;
    return audio_result::kOk;
  }

  AudioResult Start() override {
    if (!initialized_) return audio_result::kNotInitialized;
    if (!Present()) return audio_result::kDeviceInvalidated;
    if (started_) return audio_result::kNotStopped;
    started_ = true;
    start_time_ = Clock::now();
    return audio_result::kOk;
  }

  AudioResult Stop() override {
    if (!initialized_) return audio_result::kNotInitialized;
    started_ = false;
    return audio_result::kOk;
  }

  // Render service.
  AudioResult GetBuffer(uint32_t frames, uint8_t** data) override {
    if (data == nullptr) return audio_result::kPointer;
    AudioResult ready = Ready();
    if (AudioFailed(ready)) return ready;
    if (frames > buffer_frames_ - RenderPadding()) return audio_result::kBufferTooLarge;
    held_frames_ = frames;
    *data = buffer_.data();
    return audio_result::kOk;
  }

  AudioResult ReleaseBuffer(uint32_t frames, uint32_t flags) override {
    if (frames > held_frames_) return audio_result::kInvalidSize;
    held_frames_ = 0;
    if ((flags & kAudioBufferFlagSilent) != 0) {
      std::fill(buffer_.begin(), buffer_.begin() + frames * settings_.format.block_align, 0);
    }
    RenderPadding();  // brings the write position up to the device after an underrun
    written_ += frames;
    if (settings_.render_sink) settings_.render_sink(buffer_.data(), frames);
    return audio_result::kOk;
  }

  // Capture service.
  AudioResult GetNextPacketSize(uint32_t* frames) override {
    if (frames == nullptr) return audio_result::kPointer;
    AudioResult ready = Ready();
    if (AudioFailed(ready)) return ready;
    *frames = WaitingPackets() > 0 ? packet_frames_ : 0;
    return audio_result::kOk;
  }

  AudioResult GetBuffer(uint8_t** data, uint32_t* frames, uint32_t* flags) override {
    if (data == nullptr || frames == nullptr || flags == nullptr) return audio_result::kPointer;
    AudioResult ready = Ready();
    if (AudioFailed(ready)) return ready;
    if (WaitingPackets() == 0) {
      *frames = 0;
      return audio_result::kBufferEmpty;
    }
    uint64_t first = delivered_packets_ * packet_frames_;
    std::fill(buffer_.begin(), buffer_.end(), 0);
    if (settings_.capture_source) settings_.capture_source(first, packet_frames_, buffer_.data());
    *data = buffer_.data();
    *frames = packet_frames_;
    *flags = 0;
    return audio_result::kOk;
  }

  AudioResult ReleaseBuffer(uint32_t frames) override {
    if (frames == packet_frames_) ++delivered_packets_;
    return audio_result::kOk;
  }

 private:
  bool Present() const { return presence_->present.load(); }

  AudioResult Ready() const {
    if (!initialized_) return audio_result::kNotInitialized;
    if (!Present()) return audio_result::kDeviceInvalidated;
    return audio_result::kOk;
  }

  // Frames the device has played or recorded since it started.
  uint64_t DevicePosition() const {
    if (!started_) return 0;
    double seconds = std::chrono::duration<double>(Clock::now() - start_time_).count();
    return static_cast<uint64_t>(seconds * settings_.format.sample_rate * settings_.clock_speed);
  }

  // A device that ran dry played silence meanwhile: what is written next plays from now on.
  uint32_t RenderPadding() {
    uint64_t position = DevicePosition();
    if (started_ && position > written_) ++glitches_;
    written_ = std::max(written_, position);
    return static_cast<uint32_t>(std::min<uint64_t>(written_ - position, buffer_frames_));
  }

  uint64_t WaitingPackets() {
    uint64_t due = DevicePosition() / packet_frames_;
    // Like a real device, an unread capture buffer overflows and loses its oldest packets.
    if (due > delivered_packets_ + kMaxWaitingPackets) {
      delivered_packets_ = due - kMaxWaitingPackets;
      ++glitches_;
    }
    if (settings_.capture_held && settings_.capture_held()) return 0;
    return due - delivered_packets_;
  }

  AudioFlow flow_;
  FakeStreamSettings settings_;
  std::shared_ptr<FakeEndpointPresence> presence_;
  bool initialized_ = false;
  bool started_ = false;
  Clock::time_point start_time_;
  uint32_t buffer_frames_ = 0;
  uint32_t packet_frames_ = 0;
  std::vector<uint8_t> buffer_;
  uint32_t held_frames_ = 0;
  uint64_t written_ = 0;
  uint64_t delivered_packets_ = 0;
  uint64_t glitches_ = 0;
};

class FakeEndpoint final : public AudioEndpoint {
 public:
  FakeEndpoint(AudioFlow flow, FakeStreamSettings settings,
               std::shared_ptr<FakeEndpointPresence> presence)
      : flow_(flow), settings_(std::move(settings)), presence_(std::move(presence)) {}

  AudioResult Activate(std::unique_ptr<AudioClient>* client) override {
    if (client == nullptr) return audio_result::kPointer;
    if (!presence_->present.load()) return audio_result::kDeviceInvalidated;
    *client = std::make_unique<FakeAudioClient>(flow_, settings_, presence_);
    return audio_result::kOk;
  }

 private:
  AudioFlow flow_;
  FakeStreamSettings settings_;
  std::shared_ptr<FakeEndpointPresence> presence_;
};

}  // namespace

AudioMixFormat FakeMixFormat(uint16_t channels, uint16_t bits, AudioMixFormat::SubFormat sub,
                             uint32_t sample_rate) {
  AudioMixFormat format;
  format.format_tag = AudioMixFormat::kTagExtensible;
  format.extension_size = AudioMixFormat::kExtensibleSize;
  format.channels = channels;
  format.sample_rate = sample_rate;
  format.bits_per_sample = bits;
  format.valid_bits_per_sample = bits;
  format.block_align = static_cast<uint16_t>(channels * bits / 8);
  format.sub_format = sub;
  return format;
}

FakeStreamSettings::FakeStreamSettings()
    : format(FakeMixFormat(2, 32, AudioMixFormat::SubFormat::kIeeeFloat)) {}

std::unique_ptr<AudioEndpoint> MakeFakeEndpoint(AudioFlow flow, FakeStreamSettings settings,
                                                std::shared_ptr<FakeEndpointPresence> presence) {
  return std::make_unique<FakeEndpoint>(flow, std::move(settings), std::move(presence));
}

}  // namespace zennic::testing
