#pragma once

#include <cstddef>
#include <memory>
#include <string>
#include <vector>

#include "engine/endpoint_format.h"
#include "platform/audio_system.h"

namespace zennic {

// The stream steps both setup verifiers share. Low-level failures are worded "code (0x........)"
// with the audio system's number, or the bare code where there is none.

// The endpoint with the id, on a connection of its own; null with the failure in `result`
// (kNotFound when it is not there).
std::unique_ptr<AudioEndpoint> OpenEndpointById(const AudioSystemFactory& audio_systems,
                                                const std::string& endpoint_id,
                                                AudioResult* result);

// Activates a client in the endpoint's own mix format and initialises it shared with a 20 ms
// buffer. Only 32-bit float and 16-, 24- or 32-bit integer formats are taken.
bool OpenSharedAudioClient(AudioEndpoint* endpoint, std::unique_ptr<AudioClient>* client,
                           EndpointFormat* format, std::string* error);

// Appends every waiting packet to `samples` as mono, the mean of the first two channels;
// silent packets as zeros, non-finite samples as 0.
bool DrainCaptureToMono(AudioCaptureClient* capture, const EndpointFormat& format,
                        std::vector<float>* samples, std::string* error);

// Peak and RMS of the finite samples of a recording (0 when there are none).
struct RecordingLevels {
  double peak = 0.0;
  double rms = 0.0;
  size_t finite_samples = 0;
};
RecordingLevels MeasureRecordingLevels(const std::vector<float>& samples);
// 20 * log10(x), and -120 for x at most 0.000001.
double LevelToDbfs(double linear);

}  // namespace zennic
