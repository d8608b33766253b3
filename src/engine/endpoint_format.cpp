#include "engine/endpoint_format.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <limits>

namespace zennic {
namespace {

constexpr float kSideChannelGain = 0.707f;

int32_t ReadInt24(const uint8_t* bytes) {
  uint32_t value = bytes[0] | (uint32_t{bytes[1]} << 8) | (uint32_t{bytes[2]} << 16);
  if ((value & 0x800000u) != 0) value |= 0xFF000000u;  // sign extension
  return static_cast<int32_t>(value);
}

template <typename T>
T ReadLittleEndian(const uint8_t* bytes) {
  T value;
  std::memcpy(&value, bytes, sizeof value);
  return value;
}

}  // namespace

bool ReadEndpointFormat(const AudioMixFormat& mix_format, EndpointFormat* format) {
  EndpointFormat result;
  result.sample_rate = mix_format.sample_rate;
  result.channels = mix_format.channels;
  result.bits_per_sample = mix_format.bits_per_sample;
  result.valid_bits_per_sample = mix_format.bits_per_sample;
  result.block_align = mix_format.block_align;
  result.is_float = mix_format.format_tag == AudioMixFormat::kTagIeeeFloat;
  if (mix_format.format_tag == AudioMixFormat::kTagExtensible &&
      mix_format.extension_size >= AudioMixFormat::kExtensibleSize) {
    result.valid_bits_per_sample = mix_format.valid_bits_per_sample;
    if (mix_format.sub_format == AudioMixFormat::SubFormat::kIeeeFloat) {
      result.is_float = true;
    } else if (mix_format.sub_format == AudioMixFormat::SubFormat::kPcm) {
      result.is_float = false;
    } else {
      return false;
    }
  } else if (mix_format.format_tag != AudioMixFormat::kTagPcm &&
             mix_format.format_tag != AudioMixFormat::kTagIeeeFloat) {
    return false;
  }
  if (result.channels == 0 || result.sample_rate == 0) return false;
  if (result.is_float && result.bits_per_sample != 32) return false;
  if (!result.is_float && result.bits_per_sample != 16 && result.bits_per_sample != 24 &&
      result.bits_per_sample != 32) {
    return false;
  }
  if (result.block_align < result.channels * result.bits_per_sample / 8) return false;
  *format = result;
  return true;
}

void DecodeCapturedSamples(const uint8_t* data, uint32_t frame_count, const EndpointFormat& format,
                           std::vector<float>* samples) {
  size_t count = size_t{frame_count} * format.channels;
  samples->assign(count, 0.0f);
  if (data == nullptr) return;
  const uint32_t bytes_per_sample = format.bits_per_sample / 8;
  for (uint32_t frame = 0; frame < frame_count; ++frame) {
    const uint8_t* in = data + size_t{frame} * format.block_align;
    float* out = samples->data() + size_t{frame} * format.channels;
    for (uint32_t channel = 0; channel < format.channels; ++channel, in += bytes_per_sample) {
      if (format.is_float) {
        out[channel] = ReadLittleEndian<float>(in);
      } else if (format.bits_per_sample == 16) {
        out[channel] = static_cast<float>(ReadLittleEndian<int16_t>(in)) * (1.0f / 32768.0f);
      } else if (format.bits_per_sample == 24) {
        out[channel] = static_cast<float>(ReadInt24(in)) * (1.0f / 8388608.0f);
      } else {
        out[channel] = static_cast<float>(ReadLittleEndian<int32_t>(in)) * (1.0f / 2147483648.0f);
      }
    }
  }
}

void ConvertChannelCount(const std::vector<float>& samples, uint32_t channels,
                         std::vector<float>* stereo) {
  if (channels == 0) {
    stereo->clear();
    return;
  }
  size_t frames = samples.size() / channels;
  stereo->assign(frames * 2, 0.0f);
  for (size_t frame = 0; frame < frames; ++frame) {
    const float* in = samples.data() + frame * channels;
    float left = in[0];
    float right = channels == 1 ? in[0] : in[1];
    for (uint32_t extra = 2; extra < channels; ++extra) {
      (extra % 2 == 1 ? right : left) += in[extra] * kSideChannelGain;
    }
    (*stereo)[2 * frame] = left;
    (*stereo)[2 * frame + 1] = right;
  }
}

void ConvertStereoToEndpointFormat(const float* stereo, uint32_t stereo_frames,
                                   uint32_t frame_count, const EndpointFormat& format,
                                   uint8_t* destination) {
  if (destination == nullptr || frame_count == 0 || format.channels < 1) return;
  const uint32_t bytes_per_sample = format.bits_per_sample / 8;
  for (uint32_t frame = 0; frame < frame_count; ++frame) {
    float left = 0.0f;
    float right = 0.0f;
    if (stereo != nullptr && frame < stereo_frames) {
      left = stereo[2 * frame];
      right = stereo[2 * frame + 1];
    }
    uint8_t* out = destination + size_t{frame} * format.block_align;
    for (uint32_t channel = 0; channel < format.channels; ++channel, out += bytes_per_sample) {
      float value = format.channels == 1 ? (left + right) * 0.5f
                    : channel == 0       ? left
                    : channel == 1       ? right
                                         : 0.0f;
      if (format.is_float) {
        std::memcpy(out, &value, sizeof value);
        continue;
      }
      double clamped = std::clamp(static_cast<double>(value), -1.0, 1.0);
      if (std::isnan(value)) clamped = 0.0;
      if (format.bits_per_sample == 16) {
        auto sample = static_cast<int16_t>(std::nearbyint(clamped * 32767.0));
        std::memcpy(out, &sample, sizeof sample);
      } else if (format.bits_per_sample == 24) {
        auto sample = static_cast<int32_t>(std::nearbyint(clamped * 8388607.0));
        out[0] = static_cast<uint8_t>(sample & 0xFF);
        out[1] = static_cast<uint8_t>((sample >> 8) & 0xFF);
        out[2] = static_cast<uint8_t>((sample >> 16) & 0xFF);
      } else {
        double scaled = std::min(std::nearbyint(clamped * 2147483648.0),
                                 static_cast<double>(std::numeric_limits<int32_t>::max()));
        auto sample = static_cast<int32_t>(scaled);
        std::memcpy(out, &sample, sizeof sample);
      }
    }
  }
}

}  // namespace zennic
