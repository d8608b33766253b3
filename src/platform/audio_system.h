#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace zennic {

// The audio seam: audio endpoints, the default endpoint per flow and role, endpoint change
// notifications, and shared-mode capture and render streams. The calls and their failure points
// follow the endpoint and stream model that the engine and the verifiers are written against,
// so their algorithms and messages stay the same on every system.
//
// Every call returns an HRESULT-shaped code: 0 (or another value without the high bit) is
// success, a value with the high bit set is a failure whose number callers print with
// FormatHresult.
using AudioResult = uint32_t;

namespace audio_result {
constexpr AudioResult kOk = 0x00000000;
constexpr AudioResult kFalse = 0x00000001;            // done, but nothing needed doing
// Done, but the system's own service did not get to look at the device meanwhile (its thread was
// held up), so nothing is known of what the device did.
constexpr AudioResult kNotSeen = 0x00000002;
constexpr AudioResult kBufferEmpty = 0x08890001;      // no capture packet is waiting
constexpr AudioResult kNotImplemented = 0x80004001;
constexpr AudioResult kPointer = 0x80004003;          // a null output pointer
constexpr AudioResult kFail = 0x80004005;
constexpr AudioResult kAccessDenied = 0x80070005;
constexpr AudioResult kOutOfMemory = 0x8007000E;
constexpr AudioResult kInvalidArgument = 0x80070057;
constexpr AudioResult kTimeout = 0x800705B4;
constexpr AudioResult kNotFound = 0x80070490;         // no such endpoint, or no default
constexpr AudioResult kNotInitialized = 0x88890001;
constexpr AudioResult kAlreadyInitialized = 0x88890002;
constexpr AudioResult kWrongEndpointType = 0x88890003;
constexpr AudioResult kDeviceInvalidated = 0x88890004;  // the endpoint went away
constexpr AudioResult kNotStopped = 0x88890005;
constexpr AudioResult kBufferTooLarge = 0x88890006;
constexpr AudioResult kOutOfOrder = 0x88890007;
constexpr AudioResult kUnsupportedFormat = 0x88890008;
constexpr AudioResult kInvalidSize = 0x88890009;
constexpr AudioResult kDeviceInUse = 0x8889000A;
constexpr AudioResult kServiceNotRunning = 0x88890010;  // no audio server answers
}  // namespace audio_result

constexpr bool AudioSucceeded(AudioResult result) { return (result & 0x80000000u) == 0; }
constexpr bool AudioFailed(AudioResult result) { return !AudioSucceeded(result); }

// "<message> (0x%08lX)": how every low-level audio failure is worded.
std::string FormatHresult(std::string_view message, AudioResult result);

enum class AudioFlow : int32_t { kRender = 0, kCapture = 1 };
enum class AudioRole : int32_t { kConsole = 0, kMultimedia = 1, kCommunications = 2 };

// One active endpoint. The id is stable across runs and restarts of the audio server, carries
// its flow, and is the one form every part of the program stores and compares (exactly).
struct AudioEndpointDescription {
  std::string id;
  std::string friendly_name;
};

// A stream format in the shape of WAVEFORMATEXTENSIBLE: a plain tag (PCM or IEEE float), or the
// extensible tag with the sample type in `sub_format`.
struct AudioMixFormat {
  static constexpr uint16_t kTagPcm = 1;
  static constexpr uint16_t kTagIeeeFloat = 3;
  static constexpr uint16_t kTagExtensible = 0xFFFE;
  static constexpr uint16_t kExtensibleSize = 22;
  enum class SubFormat : int32_t { kPcm = 0, kIeeeFloat = 1, kOther = 2 };

  uint16_t format_tag = kTagExtensible;
  uint16_t channels = 0;
  uint32_t sample_rate = 0;
  uint16_t block_align = 0;       // bytes per frame
  uint16_t bits_per_sample = 0;   // container bits
  uint16_t extension_size = 0;    // 22 for the extensible tag
  uint16_t valid_bits_per_sample = 0;
  SubFormat sub_format = SubFormat::kPcm;
};

// A captured packet that does not follow the one before: the device lost audio in between.
constexpr uint32_t kAudioBufferFlagDataDiscontinuity = 0x1;
// Marks a buffer as silence: whatever it holds is played (or was recorded) as zeros.
constexpr uint32_t kAudioBufferFlagSilent = 0x2;

// The writing side of a started render stream.
class AudioRenderClient {
 public:
  virtual ~AudioRenderClient() = default;
  // Room for `frames` frames, at most the buffer size minus the padding; valid until release.
  virtual AudioResult GetBuffer(uint32_t frames, uint8_t** data) = 0;
  // Queues the first `frames` frames of the buffer just taken.
  virtual AudioResult ReleaseBuffer(uint32_t frames, uint32_t flags) = 0;
};

// The reading side of a capture stream.
class AudioCaptureClient {
 public:
  virtual ~AudioCaptureClient() = default;
  // Frames in the next packet; 0 when nothing waits.
  virtual AudioResult GetNextPacketSize(uint32_t* frames) = 0;
  // The next packet; kBufferEmpty with 0 frames when nothing waits. Valid until release.
  virtual AudioResult GetBuffer(uint8_t** data, uint32_t* frames, uint32_t* flags) = 0;
  virtual AudioResult ReleaseBuffer(uint32_t frames) = 0;
};

// A shared-mode stream on one endpoint. Steps: GetMixFormat, Initialize, the render or capture
// service, Start, the buffer calls, Stop. A stream never follows its endpoint's role to another
// device: when its endpoint disappears, every call fails with kDeviceInvalidated.
class AudioClient {
 public:
  virtual ~AudioClient() = default;
  virtual AudioResult GetMixFormat(AudioMixFormat* format) = 0;
  // Shared mode only; `buffer_duration_100ns` is the requested buffer length in 100-ns units.
  virtual AudioResult Initialize(const AudioMixFormat& format, int64_t buffer_duration_100ns) = 0;
  virtual AudioResult GetBufferSize(uint32_t* frames) = 0;
  // Render: frames queued and not yet played. Capture: frames waiting to be read.
  virtual AudioResult GetCurrentPadding(uint32_t* frames) = 0;
  virtual AudioResult GetDevicePeriod(int64_t* default_period_100ns,
                                      int64_t* minimum_period_100ns) = 0;
  // As an event-driven stream: waits until the stream asks for audio (render) or has audio to
  // hand over (capture), at most `timeout_100ns`. kOk when it did, kFalse when the time ran out,
  // kNotSeen when it ran out while the system's own service was held up.
  virtual AudioResult WaitForBuffer(int64_t timeout_100ns) = 0;
  // Render: how much the caller keeps queued on the device. A system that paces a stream's
  // requests asks for audio whenever less than this is queued; one that wakes its streams at the
  // device's period takes it as a hint. May be called again while the stream runs.
  virtual AudioResult SetQueueTarget(int64_t duration_100ns) = 0;
  // Breaks on the device's side of a started stream, counted since Initialize: render, each time
  // its queue ran dry and the device played silence; capture, each stretch of audio lost before
  // the stream handed it over.
  virtual AudioResult GetGlitchCount(uint64_t* glitches) = 0;
  // Whether the system has told that it suspended the stream's device (a capture stream then
  // hands over nothing until the device resumes); false where the system does not tell.
  virtual bool DeviceSuspended() const = 0;
  // The services live as long as the client; the wrong one for the flow is kWrongEndpointType.
  virtual AudioResult GetRenderClient(AudioRenderClient** service) = 0;
  virtual AudioResult GetCaptureClient(AudioCaptureClient** service) = 0;
  virtual AudioResult Start() = 0;
  virtual AudioResult Stop() = 0;
};

// An endpoint opened by id.
class AudioEndpoint {
 public:
  virtual ~AudioEndpoint() = default;
  virtual AudioResult Activate(std::unique_ptr<AudioClient>* client) = 0;
};

enum class AudioEndpointEvent : int32_t {
  kStateChanged = 0,
  kAdded = 1,
  kRemoved = 2,
  kDefaultChanged = 3,
  kPropertyChanged = 4,
  // The audio service went away: this connection hears nothing more and every call on it fails,
  // so only a new connection finds the service again.
  kServiceLost = 5,
};

// Receives endpoint notifications on the audio system's own thread. It must return quickly and
// must not call back into the audio system.
class AudioEndpointListener {
 public:
  virtual ~AudioEndpointListener() = default;
  virtual void OnAudioEndpointEvent(AudioEndpointEvent event) = 0;
};

// One connection to the system's audio service. Every call may come from any thread, except
// from a listener's notification. Endpoints and clients it hands out may outlive it.
class AudioSystem {
 public:
  virtual ~AudioSystem() = default;
  // The flow's active endpoints in the system's order.
  virtual AudioResult EnumerateEndpoints(AudioFlow flow,
                                         std::vector<AudioEndpointDescription>* endpoints) = 0;
  // kNotFound when the flow has no default endpoint for the role.
  virtual AudioResult GetDefaultEndpoint(AudioFlow flow, AudioRole role,
                                         AudioEndpointDescription* endpoint) = 0;
  // Makes the endpoint the default of its flow for the role.
  virtual AudioResult SetDefaultEndpoint(const std::string& id, AudioRole role) = 0;
  virtual AudioResult OpenEndpoint(const std::string& id,
                                   std::unique_ptr<AudioEndpoint>* endpoint) = 0;
  // After Unregister returns, or the system is destroyed, the listener is never called again.
  virtual AudioResult RegisterEndpointListener(AudioEndpointListener* listener) = 0;
  virtual AudioResult UnregisterEndpointListener(AudioEndpointListener* listener) = 0;
};

// Makes a new connection; null with the failure in `result` when no audio service answers.
using AudioSystemFactory = std::function<std::unique_ptr<AudioSystem>(AudioResult* result)>;

// The system's own audio service.
std::unique_ptr<AudioSystem> ConnectAudioSystem(AudioResult* result);

}  // namespace zennic
