// The audio seam against a real PulseAudio server with the virtual devices.

#include "platform/audio_system.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <condition_variable>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <thread>

#include "support/eventually.h"
#include "support/private_audio_server.h"
#include "support/temp_folder.h"

namespace zennic {
namespace {

using testing::Eventually;

using namespace std::chrono_literals;
using testing::PrivateAudioServer;

// How the server lists the program's own streams.
constexpr char kOurStreams[] = "application.name = \"Ruzerad\"";

std::unique_ptr<AudioSystem> Connect() {
  AudioResult result = audio_result::kFail;
  std::unique_ptr<AudioSystem> system = ConnectAudioSystem(&result);
  EXPECT_NE(system, nullptr) << FormatHresult("connect", result);
  return system;
}

std::vector<AudioEndpointDescription> Endpoints(AudioSystem& system, AudioFlow flow) {
  std::vector<AudioEndpointDescription> endpoints;
  EXPECT_EQ(system.EnumerateEndpoints(flow, &endpoints), audio_result::kOk);
  return endpoints;
}

std::vector<std::string> Names(const std::vector<AudioEndpointDescription>& endpoints) {
  std::vector<std::string> names;
  for (const auto& endpoint : endpoints) names.push_back(endpoint.friendly_name);
  return names;
}

std::string IdOf(AudioSystem& system, AudioFlow flow, const std::string& name) {
  for (const auto& endpoint : Endpoints(system, flow)) {
    if (endpoint.friendly_name == name) return endpoint.id;
  }
  ADD_FAILURE() << "no endpoint named " << name;
  return {};
}

std::string DefaultName(AudioSystem& system, AudioFlow flow, AudioRole role) {
  AudioEndpointDescription endpoint;
  AudioResult result = system.GetDefaultEndpoint(flow, role, &endpoint);
  return result == audio_result::kNotFound ? "<none>" : endpoint.friendly_name;
}

TEST(AudioSystemEndpoints, ListsSinksAndRealSourcesWithStableFlowTaggedIds) {
  PrivateAudioServer server;
  auto system = Connect();
  ASSERT_NE(system, nullptr);

  auto render = Endpoints(*system, AudioFlow::kRender);
  auto capture = Endpoints(*system, AudioFlow::kCapture);
  EXPECT_EQ(Names(render),
            (std::vector<std::string>{"Speakers (Virtual)", "CABLE Input", "Headphones (Virtual)"}));
  // The sinks' monitors are not microphones.
  EXPECT_EQ(Names(capture), (std::vector<std::string>{"CABLE Output", "Microphone (Virtual)"}));
  for (const auto& endpoint : render) {
    for (const auto& other : capture) EXPECT_NE(endpoint.id, other.id);
  }

  // Another connection, and a restarted server, give the same ids.
  auto again = Connect();
  ASSERT_NE(again, nullptr);
  EXPECT_EQ(Endpoints(*again, AudioFlow::kRender)[1].id, render[1].id);
  PrivateAudioServer restarted;
  auto fresh = Connect();
  ASSERT_NE(fresh, nullptr);
  EXPECT_EQ(Endpoints(*fresh, AudioFlow::kCapture)[0].id, capture[0].id);
}

TEST(AudioSystemEndpoints, TheThreeRolesShareTheServersOneDefault) {
  PrivateAudioServer server;
  auto system = Connect();
  ASSERT_NE(system, nullptr);
  for (AudioRole role : {AudioRole::kConsole, AudioRole::kMultimedia, AudioRole::kCommunications}) {
    EXPECT_EQ(DefaultName(*system, AudioFlow::kRender, role), "Speakers (Virtual)");
    EXPECT_EQ(DefaultName(*system, AudioFlow::kCapture, role), "Microphone (Virtual)");
  }

  // A default that was set is the default as soon as the call returns, as on Windows: read back
  // at once, before the server is asked from outside.
  std::string cable_output = IdOf(*system, AudioFlow::kCapture, "CABLE Output");
  ASSERT_EQ(system->SetDefaultEndpoint(cable_output, AudioRole::kCommunications),
            audio_result::kOk);
  EXPECT_EQ(DefaultName(*system, AudioFlow::kCapture, AudioRole::kConsole), "CABLE Output");
  EXPECT_EQ(server.DefaultSource(), "cable_output");

  ASSERT_EQ(system->SetDefaultEndpoint(IdOf(*system, AudioFlow::kRender, "Headphones (Virtual)"),
                                       AudioRole::kConsole),
            audio_result::kOk);
  EXPECT_EQ(DefaultName(*system, AudioFlow::kRender, AudioRole::kMultimedia),
            "Headphones (Virtual)");
  EXPECT_EQ(server.DefaultSink(), "headphones");
}

TEST(AudioSystemEndpoints, SettingAnUnknownOrVanishedEndpointIsRefused) {
  PrivateAudioServer server;
  auto system = Connect();
  ASSERT_NE(system, nullptr);
  std::string headphones = IdOf(*system, AudioFlow::kRender, "Headphones (Virtual)");
  server.UnloadModuleWith("sink_name=headphones");
  EXPECT_EQ(system->SetDefaultEndpoint(headphones, AudioRole::kConsole), audio_result::kNotFound);
  EXPECT_EQ(system->SetDefaultEndpoint("no such endpoint", AudioRole::kConsole),
            audio_result::kNotFound);
  std::unique_ptr<AudioEndpoint> endpoint;
  EXPECT_EQ(system->OpenEndpoint(headphones, &endpoint), audio_result::kNotFound);
  EXPECT_EQ(server.DefaultSink(), "speakers");
}

TEST(AudioSystemEndpoints, ADefaultSourceThatFallsBackToAMonitorIsNoDefault) {
  PrivateAudioServer server;
  server.UnloadModuleWith("source_name=test_microphone");
  server.UnloadModuleWith("source_name=cable_output");
  ASSERT_NE(server.DefaultSource().find(".monitor"), std::string::npos)
      << "the server now falls back to a monitor: " << server.DefaultSource();

  auto system = Connect();
  ASSERT_NE(system, nullptr);
  EXPECT_TRUE(Endpoints(*system, AudioFlow::kCapture).empty());
  AudioEndpointDescription endpoint;
  EXPECT_EQ(system->GetDefaultEndpoint(AudioFlow::kCapture, AudioRole::kConsole, &endpoint),
            audio_result::kNotFound);
  EXPECT_EQ(endpoint.id, "");
}

TEST(AudioSystemEndpoints, NoServerIsAFailureNotAHang) {
  testing::TempFolder folder;
  std::string missing = "unix:" + (folder / "no-server").string();
  const char* previous = std::getenv("PULSE_SERVER");
  std::string saved = previous ? previous : "";
  ::setenv("PULSE_SERVER", missing.c_str(), 1);
  AudioResult result = audio_result::kOk;
  EXPECT_EQ(ConnectAudioSystem(&result), nullptr);
  EXPECT_TRUE(AudioFailed(result));
  if (previous) ::setenv("PULSE_SERVER", saved.c_str(), 1);
  EXPECT_EQ(FormatHresult("MMDeviceEnumerator creation failed", audio_result::kServiceNotRunning),
            "MMDeviceEnumerator creation failed (0x88890010)");
}

class RecordingListener : public AudioEndpointListener {
 public:
  void OnAudioEndpointEvent(AudioEndpointEvent event) override {
    std::lock_guard lock(mutex_);
    events_.push_back(event);
    changed_.notify_all();
  }
  bool WaitFor(AudioEndpointEvent wanted) {
    std::unique_lock lock(mutex_);
    return changed_.wait_for(lock, 5s, [&] {
      return std::find(events_.begin(), events_.end(), wanted) != events_.end();
    });
  }
  size_t Count() {
    std::lock_guard lock(mutex_);
    return events_.size();
  }
  void Clear() {
    std::lock_guard lock(mutex_);
    events_.clear();
  }

 private:
  std::mutex mutex_;
  std::condition_variable changed_;
  std::vector<AudioEndpointEvent> events_;
};

TEST(AudioSystemNotifications, DefaultChangesAndDevicesComingAndGoingAreDelivered) {
  PrivateAudioServer server;
  auto system = Connect();
  ASSERT_NE(system, nullptr);
  RecordingListener listener;
  ASSERT_EQ(system->RegisterEndpointListener(&listener), audio_result::kOk);

  server.Pactl("set-default-source cable_output");
  EXPECT_TRUE(listener.WaitFor(AudioEndpointEvent::kDefaultChanged));
  server.LoadModule("module-null-sink sink_name=usb_headset");
  EXPECT_TRUE(listener.WaitFor(AudioEndpointEvent::kAdded));
  server.UnloadModuleWith("sink_name=usb_headset");
  EXPECT_TRUE(listener.WaitFor(AudioEndpointEvent::kRemoved));

  ASSERT_EQ(system->UnregisterEndpointListener(&listener), audio_result::kOk);
  listener.Clear();
  server.Pactl("set-default-source test_microphone");
  // A round trip through the server orders this check after the change's notification.
  Endpoints(*system, AudioFlow::kCapture);
  std::this_thread::sleep_for(200ms);
  EXPECT_EQ(listener.Count(), 0u);
}

// Stream helpers: what the engine does, reduced to one tone.
struct OpenedStream {
  std::unique_ptr<AudioClient> client;
  AudioMixFormat format;
};

OpenedStream Open(AudioSystem& system, const std::string& id, const AudioMixFormat* wanted,
                  int64_t buffer_duration = 200000) {
  OpenedStream stream;
  std::unique_ptr<AudioEndpoint> endpoint;
  EXPECT_EQ(system.OpenEndpoint(id, &endpoint), audio_result::kOk);
  if (!endpoint) return stream;
  EXPECT_EQ(endpoint->Activate(&stream.client), audio_result::kOk);
  EXPECT_EQ(stream.client->GetMixFormat(&stream.format), audio_result::kOk);
  if (wanted != nullptr) stream.format = *wanted;
  EXPECT_EQ(stream.client->Initialize(stream.format, buffer_duration), audio_result::kOk);
  return stream;
}

AudioMixFormat FloatStereo48k() {
  AudioMixFormat format;
  format.format_tag = AudioMixFormat::kTagExtensible;
  format.extension_size = AudioMixFormat::kExtensibleSize;
  format.channels = 2;
  format.sample_rate = 48000;
  format.bits_per_sample = format.valid_bits_per_sample = 32;
  format.block_align = 8;
  format.sub_format = AudioMixFormat::SubFormat::kIeeeFloat;
  return format;
}

void WriteSample(const AudioMixFormat& format, float value, uint8_t* out) {
  if (format.sub_format == AudioMixFormat::SubFormat::kIeeeFloat) {
    std::memcpy(out, &value, 4);
  } else {
    ASSERT_EQ(format.bits_per_sample, 16) << "the virtual sinks run 16-bit or float";
    auto sample = static_cast<int16_t>(std::lrintf(value * 32767.0f));
    std::memcpy(out, &sample, 2);
  }
}

// The cable's two sides: the playback side in the device's own mix format, the recording side in
// stereo floats, which the server converts to.
struct CableStreams {
  OpenedStream render;
  OpenedStream capture;
};
CableStreams OpenCable(AudioSystem& system, int64_t render_buffer) {
  AudioMixFormat float_format = FloatStereo48k();
  return {Open(system, IdOf(system, AudioFlow::kRender, "CABLE Input"), nullptr, render_buffer),
          Open(system, IdOf(system, AudioFlow::kCapture, "CABLE Output"), &float_format)};
}

// Every packet the capture stream has ready, its left channel (stereo floats) onto `recorded`.
void ReadLeftChannel(AudioCaptureClient* reader, std::vector<float>* recorded) {
  uint32_t packet = 0;
  while (reader->GetNextPacketSize(&packet) == audio_result::kOk && packet > 0) {
    uint8_t* captured = nullptr;
    uint32_t frames = 0;
    uint32_t flags = 0;
    ASSERT_EQ(reader->GetBuffer(&captured, &frames, &flags), audio_result::kOk);
    for (uint32_t frame = 0; frame < frames; ++frame) {
      float left = 0;
      std::memcpy(&left, captured + frame * 8, 4);
      recorded->push_back(left);
    }
    ASSERT_EQ(reader->ReleaseBuffer(frames), audio_result::kOk);
  }
}

TEST(AudioSystemStreams, AToneRenderedIntoTheCableIsCapturedOnItsRecordingSide) {
  PrivateAudioServer server;
  auto system = Connect();
  ASSERT_NE(system, nullptr);
  // 100 ms on the playback side, so a stall of this test's writer loop on a busy machine does
  // not leave a gap in the tone.
  CableStreams cable = OpenCable(*system, 1000000);
  OpenedStream& render = cable.render;
  OpenedStream& capture = cable.capture;
  ASSERT_TRUE(render.client && capture.client);
  EXPECT_EQ(render.format.sample_rate, 48000u);
  EXPECT_EQ(render.format.channels, 2);

  AudioRenderClient* writer = nullptr;
  AudioCaptureClient* reader = nullptr;
  ASSERT_EQ(render.client->GetRenderClient(&writer), audio_result::kOk);
  ASSERT_EQ(capture.client->GetCaptureClient(&reader), audio_result::kOk);
  EXPECT_EQ(render.client->GetCaptureClient(&reader), audio_result::kWrongEndpointType);
  ASSERT_EQ(capture.client->GetCaptureClient(&reader), audio_result::kOk);

  uint32_t buffer_frames = 0;
  ASSERT_EQ(render.client->GetBufferSize(&buffer_frames), audio_result::kOk);
  ASSERT_GT(buffer_frames, 0u);
  uint8_t* data = nullptr;
  ASSERT_EQ(writer->GetBuffer(buffer_frames, &data), audio_result::kOk);
  ASSERT_EQ(writer->ReleaseBuffer(buffer_frames, kAudioBufferFlagSilent), audio_result::kOk);
  EXPECT_EQ(writer->GetBuffer(buffer_frames + 1, &data), audio_result::kBufferTooLarge);

  ASSERT_EQ(capture.client->Start(), audio_result::kOk);
  ASSERT_EQ(render.client->Start(), audio_result::kOk);
  EXPECT_EQ(render.client->Start(), audio_result::kNotStopped);

  std::vector<float> recorded;
  uint64_t written_frames = 0;
  auto end = std::chrono::steady_clock::now() + 700ms;
  while (std::chrono::steady_clock::now() < end) {
    uint32_t padding = 0;
    ASSERT_EQ(render.client->GetCurrentPadding(&padding), audio_result::kOk);
    uint32_t room = buffer_frames - padding;
    if (room > 0) {
      ASSERT_EQ(writer->GetBuffer(room, &data), audio_result::kOk);
      uint32_t bytes_per_sample = render.format.bits_per_sample / 8;
      for (uint32_t frame = 0; frame < room; ++frame, ++written_frames) {
        float value = 0.5f * static_cast<float>(std::sin(2.0 * M_PI * 1000.0 * written_frames /
                                                         render.format.sample_rate));
        for (uint32_t channel = 0; channel < render.format.channels; ++channel) {
          WriteSample(render.format, value,
                      data + frame * render.format.block_align + channel * bytes_per_sample);
        }
      }
      ASSERT_EQ(writer->ReleaseBuffer(room, 0), audio_result::kOk);
    }
    ReadLeftChannel(reader, &recorded);
    std::this_thread::sleep_for(3ms);
  }
  EXPECT_EQ(render.client->Stop(), audio_result::kOk);
  EXPECT_EQ(capture.client->Stop(), audio_result::kOk);

  ASSERT_GT(recorded.size(), 48000u * 3 / 10) << "at least 300 ms came back";
  // The last 200 ms hold a 1 kHz tone at about half scale: 400 zero crossings.
  std::vector<float> tail(recorded.end() - 9600, recorded.end());
  float peak = 0;
  int crossings = 0;
  for (size_t i = 0; i < tail.size(); ++i) {
    peak = std::max(peak, std::fabs(tail[i]));
    if (i > 0 && (tail[i - 1] < 0) != (tail[i] < 0)) ++crossings;
  }
  EXPECT_NEAR(peak, 0.5f, 0.05f);
  EXPECT_NEAR(crossings, 400, 20);
}

// A stream whose writer came too late plays silence meanwhile, as a device does; what is written
// then plays whole from where the device is, none of it dropped for the time already gone.
TEST(AudioSystemStreams, AStreamThatRanDryPlaysWhatComesNextWhole) {
  PrivateAudioServer server;
  auto system = Connect();
  ASSERT_NE(system, nullptr);
  CableStreams cable = OpenCable(*system, 2000000);
  OpenedStream& render = cable.render;
  OpenedStream& capture = cable.capture;
  ASSERT_TRUE(render.client && capture.client);
  AudioRenderClient* writer = nullptr;
  AudioCaptureClient* reader = nullptr;
  ASSERT_EQ(render.client->GetRenderClient(&writer), audio_result::kOk);
  ASSERT_EQ(capture.client->GetCaptureClient(&reader), audio_result::kOk);
  auto write = [&](uint32_t frames, float value) {
    uint8_t* data = nullptr;
    ASSERT_EQ(writer->GetBuffer(frames, &data), audio_result::kOk);
    const uint32_t bytes_per_sample = render.format.bits_per_sample / 8;
    for (uint32_t frame = 0; frame < frames; ++frame) {
      for (uint32_t channel = 0; channel < render.format.channels; ++channel) {
        WriteSample(render.format, value,
                    data + frame * render.format.block_align + channel * bytes_per_sample);
      }
    }
    ASSERT_EQ(writer->ReleaseBuffer(frames, 0), audio_result::kOk);
  };
  std::vector<float> recorded;
  auto read = [&] { ReadLeftChannel(reader, &recorded); };

  write(960, 0.0f);
  ASSERT_EQ(capture.client->Start(), audio_result::kOk);
  ASSERT_EQ(render.client->Start(), audio_result::kOk);
  // 20 ms queued, and nothing more for 150 ms: the stream runs dry and says so.
  ASSERT_TRUE(Eventually([&] {
    uint64_t glitches = 0;
    render.client->GetGlitchCount(&glitches);
    read();
    return glitches > 0;
  }));
  std::this_thread::sleep_for(150ms);
  // 100 ms of a level that stands out of the silence, all of it queued.
  write(4800, 0.5f);
  uint32_t padding = 0;
  ASSERT_EQ(render.client->GetCurrentPadding(&padding), audio_result::kOk);
  EXPECT_GT(padding, 4800u * 9 / 10);
  for (auto end = std::chrono::steady_clock::now() + 400ms; std::chrono::steady_clock::now() < end;
       std::this_thread::sleep_for(5ms)) {
    read();
  }
  EXPECT_EQ(render.client->Stop(), audio_result::kOk);
  EXPECT_EQ(capture.client->Stop(), audio_result::kOk);
  const auto heard = std::count_if(recorded.begin(), recorded.end(),
                                   [](float sample) { return std::fabs(sample - 0.5f) < 0.01f; });
  EXPECT_NEAR(static_cast<double>(heard), 4800.0, 48.0) << "frames of the level heard";
}

TEST(AudioSystemStreams, AStreamEndsWithItsDeviceInsteadOfMovingToAnother) {
  PrivateAudioServer server;
  auto system = Connect();
  ASSERT_NE(system, nullptr);
  OpenedStream render = Open(*system, IdOf(*system, AudioFlow::kRender, "CABLE Input"), nullptr);
  OpenedStream capture = Open(*system, IdOf(*system, AudioFlow::kCapture, "CABLE Output"), nullptr);
  ASSERT_TRUE(render.client && capture.client);
  ASSERT_EQ(render.client->Start(), audio_result::kOk);
  ASSERT_EQ(capture.client->Start(), audio_result::kOk);
  ASSERT_NE(server.Pactl("list sink-inputs").find(kOurStreams), std::string::npos);

  // The virtual cable is removed, both sides: PipeWire would keep a remap source whose master
  // went, fed from the default output instead.
  server.UnloadModuleWith("source_name=cable_output");
  server.UnloadModuleWith("sink_name=cable_input");
  uint32_t frames = 0;
  EXPECT_TRUE(Eventually([&] {
    return render.client->GetCurrentPadding(&frames) == audio_result::kDeviceInvalidated;
  }));
  AudioCaptureClient* reader = nullptr;
  ASSERT_EQ(capture.client->GetCaptureClient(&reader), audio_result::kOk);
  EXPECT_TRUE(Eventually(
      [&] { return reader->GetNextPacketSize(&frames) == audio_result::kDeviceInvalidated; }));
  AudioRenderClient* writer = nullptr;
  ASSERT_EQ(render.client->GetRenderClient(&writer), audio_result::kOk);
  uint8_t* data = nullptr;
  EXPECT_EQ(writer->GetBuffer(1, &data), audio_result::kDeviceInvalidated);
  // Nothing was moved to the speakers or to another source.
  EXPECT_EQ(server.Pactl("list sink-inputs").find(kOurStreams), std::string::npos);
  EXPECT_EQ(server.Pactl("list source-outputs").find(kOurStreams), std::string::npos);
  EXPECT_EQ(render.client->Stop(), audio_result::kOk);
}

TEST(AudioSystemStreams, TheMixFormatIsTheDevicesOwnAndUnsupportedFormatsAreRefused) {
  PrivateAudioServer server;
  server.LoadModule(
      "module-null-sink sink_name=surround rate=44100 channels=6 format=float32le "
      "sink_properties=device.description=Surround");
  auto system = Connect();
  ASSERT_NE(system, nullptr);
  std::unique_ptr<AudioEndpoint> endpoint;
  ASSERT_EQ(system->OpenEndpoint(IdOf(*system, AudioFlow::kRender, "Surround"), &endpoint),
            audio_result::kOk);
  std::unique_ptr<AudioClient> client;
  ASSERT_EQ(endpoint->Activate(&client), audio_result::kOk);
  AudioMixFormat format;
  ASSERT_EQ(client->GetMixFormat(&format), audio_result::kOk);
  EXPECT_EQ(format.format_tag, AudioMixFormat::kTagExtensible);
  EXPECT_GE(format.extension_size, AudioMixFormat::kExtensibleSize);
  EXPECT_EQ(format.sub_format, AudioMixFormat::SubFormat::kIeeeFloat);
  EXPECT_EQ(format.sample_rate, 44100u);
  EXPECT_EQ(format.channels, 6);
  EXPECT_EQ(format.bits_per_sample, 32);
  EXPECT_EQ(format.block_align, 24);

  AudioRenderClient* writer = nullptr;
  EXPECT_EQ(client->GetRenderClient(&writer), audio_result::kNotInitialized);
  AudioMixFormat eight_bit = format;
  eight_bit.sub_format = AudioMixFormat::SubFormat::kPcm;
  eight_bit.bits_per_sample = eight_bit.valid_bits_per_sample = 8;
  eight_bit.block_align = 6;
  EXPECT_EQ(client->Initialize(eight_bit, 200000), audio_result::kUnsupportedFormat);
  AudioMixFormat unknown = format;
  unknown.sub_format = AudioMixFormat::SubFormat::kOther;
  EXPECT_EQ(client->Initialize(unknown, 200000), audio_result::kUnsupportedFormat);
  ASSERT_EQ(client->Initialize(format, 200000), audio_result::kOk);
  EXPECT_EQ(client->Initialize(format, 200000), audio_result::kAlreadyInitialized);
  int64_t period = 0;
  ASSERT_EQ(client->GetDevicePeriod(&period, nullptr), audio_result::kOk);
  EXPECT_GT(period, 0);
}

}  // namespace
}  // namespace zennic
