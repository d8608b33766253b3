#include "engine/endpoint_format.h"

#include <gtest/gtest.h>

#include <cstring>

namespace zennic {
namespace {

AudioMixFormat Extensible(uint16_t channels, uint16_t bits, AudioMixFormat::SubFormat sub,
                          uint16_t valid_bits = 0) {
  AudioMixFormat format;
  format.format_tag = AudioMixFormat::kTagExtensible;
  format.extension_size = AudioMixFormat::kExtensibleSize;
  format.channels = channels;
  format.sample_rate = 48000;
  format.bits_per_sample = bits;
  format.valid_bits_per_sample = valid_bits != 0 ? valid_bits : bits;
  format.block_align = static_cast<uint16_t>(channels * bits / 8);
  format.sub_format = sub;
  return format;
}

EndpointFormat Read(const AudioMixFormat& mix) {
  EndpointFormat format;
  EXPECT_TRUE(ReadEndpointFormat(mix, &format));
  return format;
}

template <typename T>
std::vector<T> Rendered(const std::vector<float>& stereo, uint32_t frames,
                        const EndpointFormat& format) {
  std::vector<uint8_t> bytes(size_t{frames} * format.block_align, 0xAB);
  ConvertStereoToEndpointFormat(stereo.data(), static_cast<uint32_t>(stereo.size() / 2), frames,
                                format, bytes.data());
  std::vector<T> values(bytes.size() / sizeof(T));
  std::memcpy(values.data(), bytes.data(), bytes.size());
  return values;
}

TEST(EndpointFormat, OnlyTheSampleTypesTheThreadsCanConvertAreAccepted) {
  using Sub = AudioMixFormat::SubFormat;
  EndpointFormat format;
  EXPECT_FALSE(ReadEndpointFormat(Extensible(2, 32, Sub::kOther), &format));
  EXPECT_FALSE(ReadEndpointFormat(Extensible(2, 64, Sub::kIeeeFloat), &format));
  EXPECT_FALSE(ReadEndpointFormat(Extensible(2, 8, Sub::kPcm), &format));
  EXPECT_FALSE(ReadEndpointFormat(Extensible(0, 16, Sub::kPcm), &format));
  AudioMixFormat adpcm = Extensible(2, 16, Sub::kPcm);
  adpcm.format_tag = 2;
  EXPECT_FALSE(ReadEndpointFormat(adpcm, &format));

  EXPECT_TRUE(Read(Extensible(2, 32, Sub::kIeeeFloat)).is_float);
  EndpointFormat packed = Read(Extensible(2, 32, Sub::kPcm, 24));
  EXPECT_FALSE(packed.is_float);
  EXPECT_EQ(packed.bits_per_sample, 32u);
  AudioMixFormat plain_float = Extensible(1, 32, Sub::kPcm);
  plain_float.format_tag = AudioMixFormat::kTagIeeeFloat;
  plain_float.extension_size = 0;
  EXPECT_TRUE(Read(plain_float).is_float);
}

TEST(EndpointFormat, IntegerEndpointsGetClampedFullScaleFloatOnesTheFloatsAsTheyAre) {
  using Sub = AudioMixFormat::SubFormat;
  std::vector<float> stereo = {1.0f, -1.0f, 1.5f, -7.0f};
  EXPECT_EQ(Rendered<int16_t>(stereo, 2, Read(Extensible(2, 16, Sub::kPcm))),
            (std::vector<int16_t>{32767, -32767, 32767, -32767}));
  EXPECT_EQ(Rendered<int32_t>(stereo, 2, Read(Extensible(2, 32, Sub::kPcm))),
            (std::vector<int32_t>{2147483647, -2147483647 - 1, 2147483647, -2147483647 - 1}));
  std::vector<uint8_t> bytes(6);
  ConvertStereoToEndpointFormat(stereo.data(), 1, 1, Read(Extensible(2, 24, Sub::kPcm)),
                                bytes.data());
  EXPECT_EQ(bytes, (std::vector<uint8_t>{0xFF, 0xFF, 0x7F, 0x01, 0x00, 0x80}));
  EXPECT_EQ(Rendered<float>(stereo, 2, Read(Extensible(2, 32, Sub::kIeeeFloat))), stereo);
}

TEST(EndpointFormat, StereoIsSpreadOverTheEndpointsChannelsWithSilenceAfterTheSource) {
  using Sub = AudioMixFormat::SubFormat;
  std::vector<float> stereo = {0.5f, 0.25f};
  EXPECT_EQ(Rendered<float>(stereo, 2, Read(Extensible(1, 32, Sub::kIeeeFloat))),
            (std::vector<float>{0.375f, 0.0f}));
  EXPECT_EQ(Rendered<float>(stereo, 1, Read(Extensible(6, 32, Sub::kIeeeFloat))),
            (std::vector<float>{0.5f, 0.25f, 0, 0, 0, 0}));
}

TEST(EndpointFormat, CapturedIntegersAreScaledAndSignExtended) {
  using Sub = AudioMixFormat::SubFormat;
  std::vector<float> samples;
  const uint8_t pcm16[] = {0x00, 0x80, 0xFF, 0x7F};
  DecodeCapturedSamples(pcm16, 1, Read(Extensible(2, 16, Sub::kPcm)), &samples);
  EXPECT_EQ(samples, (std::vector<float>{-1.0f, 32767.0f / 32768.0f}));
  const uint8_t pcm24[] = {0x00, 0x00, 0x80, 0x00, 0x00, 0x40};
  DecodeCapturedSamples(pcm24, 1, Read(Extensible(2, 24, Sub::kPcm)), &samples);
  EXPECT_EQ(samples, (std::vector<float>{-1.0f, 0.5f}));
  const uint8_t pcm32[] = {0x00, 0x00, 0x00, 0xC0, 0x00, 0x00, 0x00, 0x40};
  DecodeCapturedSamples(pcm32, 1, Read(Extensible(2, 32, Sub::kPcm)), &samples);
  EXPECT_EQ(samples, (std::vector<float>{-0.5f, 0.5f}));
  DecodeCapturedSamples(nullptr, 3, Read(Extensible(2, 16, Sub::kPcm)), &samples);
  EXPECT_EQ(samples, std::vector<float>(6, 0.0f));
}

TEST(EndpointFormat, ExtraChannelsJoinTheirSideAtAReducedLevel) {
  std::vector<float> stereo;
  ConvertChannelCount({0.1f, 0.2f, 1.0f, 1.0f, 0.5f, 0.5f}, 6, &stereo);
  EXPECT_FLOAT_EQ(stereo[0], 0.1f + 0.707f + 0.3535f);
  EXPECT_FLOAT_EQ(stereo[1], 0.2f + 0.707f + 0.3535f);
  ConvertChannelCount({0.3f, -0.3f}, 1, &stereo);
  EXPECT_EQ(stereo, (std::vector<float>{0.3f, 0.3f, -0.3f, -0.3f}));
}

}  // namespace
}  // namespace zennic
