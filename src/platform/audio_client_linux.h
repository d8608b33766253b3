#pragma once

#include <memory>
#include <string>

#include "platform/audio_system.h"
#include "platform/pulse_connection_linux.h"

namespace zennic {

// A shared-mode stream on one PulseAudio sink or source, created not yet initialised.
// `device_spec` is the device's own sample format, reported as the mix format.
std::unique_ptr<AudioClient> MakePulseAudioClient(std::shared_ptr<PulseConnection> connection,
                                                  AudioFlow flow, std::string device_name,
                                                  const pa_sample_spec& device_spec);

}  // namespace zennic
