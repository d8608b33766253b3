#include "sound_files/sample_conversion.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <limits>

#include "sound_files/audio_decoding.h"

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

TEST(SampleConversion, KnownLayoutsFoldDownWithTheCentreInTheMiddleAndNeverClip) {
  using namespace speaker;
  constexpr uint32_t kFront = kFrontLeft | kFrontRight;
  constexpr uint32_t kFiveOne = kFront | kFrontCenter | kLowFrequency | kBackLeft | kBackRight;
  constexpr uint32_t kSevenOne = kFiveOne | kSideLeft | kSideRight;
  struct Case {
    uint32_t mask;
    std::vector<float> frame;
    float left;
    float right;
  };
  const float surround = 0.7071f / (1 + 2 * 0.7071f);
  const std::vector<Case> cases = {
      // The centre alone is heard equally on both sides.
      {kFiveOne, {0, 0, 1, 0, 0, 0}, surround, surround},
      {kFront | kFrontCenter, {0, 0, 1}, 0.7071f / 1.7071f, 0.7071f / 1.7071f},
      // The LFE is left out; each surround stays on its own side.
      {kFiveOne, {0, 0, 0, 1, 0, 0}, 0, 0},
      {kFiveOne, {0, 0, 0, 0, 1, 0}, surround, 0},
      {kFront | kBackLeft | kBackRight, {1, 0, 0, 1}, 1 / 1.7071f, 0.7071f / 1.7071f},
      // Every channel at full scale reaches full scale, no more.
      {kFiveOne, std::vector<float>(6, 1.0f), 1, 1},
      {kSevenOne, std::vector<float>(8, -1.0f), -1, -1},
      {kFront | kFrontCenter | kLowFrequency | kBackCenter | kSideLeft | kSideRight,
       std::vector<float>(7, 1.0f), 1, 1},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << "mask " << c.mask << " channel " << c.frame.size());
    const std::vector<float> stereo =
        MixToStereo(c.frame, static_cast<int>(c.frame.size()), c.mask);
    ASSERT_EQ(stereo.size(), 2u);
    EXPECT_NEAR(stereo[0], c.left, 1e-5);
    EXPECT_NEAR(stereo[1], c.right, 1e-5);
  }
  // A mask that does not name every channel, or names other speakers, keeps the plain rule.
  for (uint32_t unknown : {kFiveOne & ~kLowFrequency, kFiveOne | 0x40000u, 0u}) {
    const std::vector<float> six = MixToStereo({1, 2, 3, 4, 5, 6}, 6, unknown);
    EXPECT_FLOAT_EQ(six[0], 1 + 0.707f * 3 + 0.707f * 5) << unknown;
  }
}

// The dither written out plainly, one sample after another, as the reference for the fast one.
std::vector<int16_t> PlainDither(const std::vector<float>& samples) {
  std::vector<int16_t> out;
  uint32_t state = 0x12345678u;
  for (float x : samples) {
    const uint32_t r1 = state * 1664525u + 1013904223u;
    state = r1 * 1664525u + 1013904223u;
    const float d =
        (static_cast<float>(r1 >> 8) * 0x1p-24f - static_cast<float>(state >> 8) * 0x1p-24f) *
        0x1p-15f;
    float v = (std::isfinite(x) ? x : 0.0f) + d;
    v = v > 1.0f ? 1.0f : (v < -1.0f ? -1.0f : v);
    out.push_back(static_cast<int16_t>(std::clamp(std::lrint(v * 32767.0f), -32768L, 32767L)));
  }
  return out;
}

TEST(SampleConversion, DitherMatchesThePlainAlgorithmAcrossPieces) {
  std::vector<float> samples(10007);
  for (size_t i = 0; i < samples.size(); ++i) {
    samples[i] = std::sin(static_cast<float>(i) * 0.37f) * 1.2f;
  }
  samples[5] = std::numeric_limits<float>::quiet_NaN();
  // Halves of the smallest step, where rounding ties to even.
  samples[6] = 0.5f / 32767.0f;
  samples[7] = 1.5f / 32767.0f;
  for (size_t length : {size_t{0}, size_t{1}, size_t{3}, size_t{4}, size_t{9}, samples.size()}) {
    const std::vector<float> part(samples.begin(), samples.begin() + length);
    EXPECT_EQ(FloatToPcm16Dithered(part), PlainDither(part)) << length;
  }
  // Pieces of odd sizes carry the dither on as one signal would.
  std::vector<int16_t> pieces(samples.size());
  Pcm16Ditherer ditherer;
  for (size_t done = 0, piece = 1; done < samples.size(); done += piece, piece += 2) {
    piece = std::min(piece, samples.size() - done);
    ditherer.Convert(samples.data() + done, piece, pieces.data() + done);
  }
  EXPECT_EQ(pieces, PlainDither(samples));
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

TEST(SampleConversion, StreamingGivesExactlyTheWholeArrayResult) {
  for (int channels : {1, 2, 3, 6}) {
    for (auto [source, target] :
         {std::pair{44100, 48000}, {48000, 48000}, {96000, 48000}, {0, 48000}, {8000, 48000}}) {
      const uint32_t mask = channels == 6 ? StandardChannelMask(6) : 0;
      SCOPED_TRACE(std::to_string(channels) + " channels from " + std::to_string(source));
      // Long enough for several blocks and a partial one, with a trailing partial frame.
      std::vector<float> samples(static_cast<size_t>(channels) * 10007 + channels / 2);
      for (size_t i = 0; i < samples.size(); ++i) {
        samples[i] = std::sin(static_cast<float>(i) * 0.01f) * (i % 7 == 0 ? 1.5f : 0.7f);
      }
      const std::vector<int16_t> whole = FloatToPcm16Dithered(
          MixToStereo(ResampleLinear(samples, channels, source, target), channels, mask));
      EXPECT_EQ(ResampledFrameCount(samples.size() / channels, source, target) * 2, whole.size());

      const std::vector<int16_t> streamed =
          ToStereoPcm16(samples, channels, mask, source, target);
      EXPECT_TRUE(streamed == whole);
    }
  }
  bool called = false;
  StreamToStereo({1, 2}, 0, 0, 44100, 48000, [&](const float*, size_t) { called = true; });
  EXPECT_FALSE(called);
}

}  // namespace
}  // namespace zennic
