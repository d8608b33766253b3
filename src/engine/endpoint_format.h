#pragma once

#include <cstdint>
#include <vector>

#include "platform/audio_system.h"

namespace zennic {

// An endpoint's shared-mode sample format, as the device threads convert to and from it.
struct EndpointFormat {
  uint32_t sample_rate = 0;
  uint32_t channels = 0;
  uint32_t bits_per_sample = 0;  // container bits
  uint32_t valid_bits_per_sample = 0;
  bool is_float = false;
  uint32_t block_align = 0;  // bytes per frame
};

// Float with 32 bits, or integer PCM in 16, 24 or 32 bits (24 valid bits in 32 count as 32-bit
// PCM), with a channel and a rate. False for anything else.
bool ReadEndpointFormat(const AudioMixFormat& mix_format, EndpointFormat* format);

// One captured packet as floats, `channels` per frame; silence for a null packet.
void DecodeCapturedSamples(const uint8_t* data, uint32_t frame_count, const EndpointFormat& format,
                           std::vector<float>* samples);

// Any channel count down (or up) to stereo: one channel goes to both sides; further channels
// join the left (even) or right (odd) side at 0.707.
void ConvertChannelCount(const std::vector<float>& samples, uint32_t channels,
                         std::vector<float>* stereo);

// Writes `frame_count` frames into the endpoint buffer: stereo frames from `stereo` (silence
// past its end), mapped to the endpoint's channels and sample type. Float passes unclamped;
// integers are clamped to [-1, 1] first.
void ConvertStereoToEndpointFormat(const float* stereo, uint32_t stereo_frames,
                                   uint32_t frame_count, const EndpointFormat& format,
                                   uint8_t* destination);

}  // namespace zennic
