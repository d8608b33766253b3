#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>

#include "platform/audio_system.h"

namespace zennic::testing {

// How the streams of one fake endpoint behave. They run on the real steady clock, in whole
// 10 ms device periods, as a real device would, at `clock_speed` times the nominal rate.
struct FakeStreamSettings {
  FakeStreamSettings();

  AudioMixFormat format;  // 48,000 Hz stereo float unless set
  double clock_speed = 1.0;
  // Capture: fills `frames` frames in `format`, the first of them the device's frame `first`.
  // Unset: silence.
  std::function<void(uint64_t first, uint32_t frames, uint8_t* data)> capture_source;
  // Capture: while it answers true the device hands over nothing; what it recorded meanwhile
  // comes all at once after, as from a driver or server that was held up.
  std::function<bool()> capture_held;
  // Render: every buffer the client releases, in `format`.
  std::function<void(const uint8_t* data, uint32_t frames)> render_sink;
  // What Initialize answers (after its own checks).
  AudioResult initialize_result = audio_result::kOk;
};

// Shared between the world and the streams opened on one endpoint: when the endpoint goes, its
// open streams fail as a real one's do.
struct FakeEndpointPresence {
  std::atomic<bool> present{true};
};

std::unique_ptr<AudioEndpoint> MakeFakeEndpoint(AudioFlow flow, FakeStreamSettings settings,
                                                std::shared_ptr<FakeEndpointPresence> presence);

// A 48,000 Hz (unless given) extensible format.
AudioMixFormat FakeMixFormat(uint16_t channels, uint16_t bits, AudioMixFormat::SubFormat sub,
                             uint32_t sample_rate = 48000);

}  // namespace zennic::testing
