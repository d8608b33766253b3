#pragma once

#include <vector>

#include "windows_audio/setup_verifiers.h"

namespace zennic {

// Records the microphone in its own format, as mono, for `duration_ms`. `accessible` is set
// once the capture has started; false with the failure's code in `error`.
bool CaptureMicrophoneSamples(const AudioSystemFactory& audio_systems,
                              const MixerDeviceInfo& microphone, int duration_ms,
                              std::vector<float>* samples, uint32_t* sample_rate, bool* accessible,
                              std::string* error);

}  // namespace zennic
