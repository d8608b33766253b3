#include "sound_files/sample_conversion.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <limits>

namespace zennic {
namespace {

TEST(SampleConversion, ResamplingRoundsTheFrameCountToTheNearest) {
  EXPECT_EQ(ResampleLinear(std::vector<float>(44100, 0.25f), 1, 44100, 48000).size(), 48000u);
  EXPECT_EQ(ResampleLinear(std::vector<float>(2 * 44100, 0.25f), 2, 44100, 48000).size(),
            2 * 48000u);
  // (48000 + 22050) / 44100 = 1: one frame stays one frame.
  EXPECT_EQ(ResampleLinear({0.5f, -0.5f}, 2, 44100, 48000), (std::vector<float>{0.5f, -0.5f}));
  // A trailing partial frame is dropped.
  EXPECT_EQ(ResampleLinear({1, 2, 3, 4, 5}, 2, 24000, 48000).size(), 8u);
}

TEST(SampleConversion, ResamplingInterpolatesAndRepeatsTheLastFrame) {
  EXPECT_EQ(ResampleLinear({0, 1, 2, 3}, 1, 1, 2),
            (std::vector<float>{0, 0.5f, 1, 1.5f, 2, 2.5f, 3, 3}));
  EXPECT_EQ(ResampleLinear({0, 1, 2, 3}, 1, 2, 1), (std::vector<float>{0, 2}));
  // Channels are interpolated apart.
  EXPECT_EQ(ResampleLinear({0, 10, 1, 20}, 2, 1, 2),
            (std::vector<float>{0, 10, 0.5f, 15, 1, 20, 1, 20}));
}

TEST(SampleConversion, ResamplingReturnsACopyWhenThereIsNothingToDo) {
  const std::vector<float> input = {0.1f, 0.2f, 0.3f};
  EXPECT_EQ(ResampleLinear(input, 1, 48000, 48000), input);
  EXPECT_EQ(ResampleLinear(input, 0, 44100, 48000), input);
  EXPECT_EQ(ResampleLinear(input, 1, 0, 48000), input);
  EXPECT_EQ(ResampleLinear(input, 1, 44100, -1), input);
  EXPECT_TRUE(ResampleLinear({}, 2, 44100, 48000).empty());
}

TEST(SampleConversion, MixingFoldsExtraChannelsIntoTheSides) {
  EXPECT_EQ(MixToStereo({0.25f, -0.5f}, 1), (std::vector<float>{0.25f, 0.25f, -0.5f, -0.5f}));
  EXPECT_EQ(MixToStereo({0.25f, -0.5f}, 2), (std::vector<float>{0.25f, -0.5f}));
  const std::vector<float> six = MixToStereo({1, 2, 3, 4, 5, 6}, 6);
  ASSERT_EQ(six.size(), 2u);
  EXPECT_FLOAT_EQ(six[0], 1 + 0.707f * 3 + 0.707f * 5);
  EXPECT_FLOAT_EQ(six[1], 2 + 0.707f * 4 + 0.707f * 6);
  // No clamping: the mix may exceed full scale.
  EXPECT_GT(MixToStereo({1, 1, 1}, 3)[0], 1.0f);
  EXPECT_TRUE(MixToStereo({1, 2}, 0).empty());
}

TEST(SampleConversion, DitherIsRepeatableAndStaysWithinOneStep) {
  const std::vector<float> silence(4096, 0.0f);
  const std::vector<int16_t> first = FloatToPcm16Dithered(silence);
  EXPECT_EQ(first, FloatToPcm16Dithered(silence));
  EXPECT_TRUE(std::all_of(first.begin(), first.end(), [](int16_t v) { return v >= -1 && v <= 1; }));
  EXPECT_TRUE(std::any_of(first.begin(), first.end(), [](int16_t v) { return v != 0; }));

  const std::vector<int16_t> half = FloatToPcm16Dithered(std::vector<float>(64, 0.5f));
  for (int16_t v : half) EXPECT_NEAR(v, 16384, 1);
}

TEST(SampleConversion, DitheredOutputIsClampedToSymmetricFullScale) {
  const std::vector<int16_t> out = FloatToPcm16Dithered({1.0f, -1.0f, 4.0f, -4.0f});
  EXPECT_GE(out[0], 32766);
  EXPECT_LE(out[1], -32766);
  EXPECT_GT(out[1], -32768);
  EXPECT_EQ(out[2], 32767);
  EXPECT_EQ(out[3], -32767);
}

TEST(SampleConversion, NonFiniteSamplesBecomeSilenceNotClicks) {
  const float nan = std::numeric_limits<float>::quiet_NaN();
  const float inf = std::numeric_limits<float>::infinity();
  for (int16_t v : FloatToPcm16Dithered({nan, inf, -inf, -nan})) {
    EXPECT_LE(std::abs(v), 1);
  }
}

}  // namespace
}  // namespace zennic
