#include "engine/mix_block.h"

#include <gtest/gtest.h>

#include <vector>

namespace zennic {
namespace {

constexpr uint32_t kBlock = 8;

// A clip whose frame i carries (i + 1) / 100 on both sides.
std::vector<float> Clip(uint32_t frames) {
  std::vector<float> clip;
  for (uint32_t i = 0; i < frames; ++i) {
    clip.push_back(static_cast<float>(i + 1) / 100);
    clip.push_back(static_cast<float>(i + 1) / 100);
  }
  return clip;
}

struct Block {
  std::vector<float> mix = std::vector<float>(2 * kBlock);
  std::vector<float> monitor = std::vector<float>(2 * kBlock);
};

Block Mix(const std::vector<float>& clip, ClipPlayhead* playhead, bool* ended, float mic = 0.0f,
          float mic_gain = 1.0f, float sfx_gain = 1.0f) {
  std::vector<float> microphone(2 * kBlock, mic);
  Block block;
  *ended = ClipBlock(clip, playhead, sfx_gain, kBlock, block.monitor.data());
  AddVoice(microphone.data(), block.monitor.data(), mic_gain, kBlock, block.mix.data());
  return block;
}

TEST(ClipBlockAndVoice, AClipPlaysEveryFrameOnceThenSilenceForTheRestOfTheBlock) {
  std::vector<float> clip = Clip(5);
  ClipPlayhead playhead{true, false, 0};
  bool ended = false;
  Block block = Mix(clip, &playhead, &ended, 0.5f, 0.5f);
  EXPECT_TRUE(ended);
  EXPECT_FALSE(playhead.playing);
  for (uint32_t i = 0; i < 5; ++i) {
    EXPECT_FLOAT_EQ(block.monitor[2 * i], clip[2 * i]) << i;
    EXPECT_FLOAT_EQ(block.mix[2 * i + 1], 0.25f + clip[2 * i]) << i;
  }
  for (uint32_t i = 5; i < kBlock; ++i) {
    EXPECT_EQ(block.monitor[2 * i], 0.0f) << i;
    EXPECT_EQ(block.mix[2 * i], 0.25f) << i;  // the voice goes on
  }
}

TEST(ClipBlockAndVoice, AClipEndingExactlyAtTheBlocksEndStopsAtTheStartOfTheNext) {
  std::vector<float> clip = Clip(kBlock);
  ClipPlayhead playhead{true, false, 0};
  bool ended = false;
  Mix(clip, &playhead, &ended);
  EXPECT_FALSE(ended);
  Block next = Mix(clip, &playhead, &ended);
  EXPECT_TRUE(ended);
  EXPECT_EQ(next.monitor, std::vector<float>(2 * kBlock, 0.0f));
}

TEST(ClipBlockAndVoice, ALoopingClipStartsAgainWithoutAGap) {
  std::vector<float> clip = Clip(3);
  ClipPlayhead playhead{true, true, 0};
  bool ended = false;
  Block block = Mix(clip, &playhead, &ended);
  EXPECT_FALSE(ended);
  EXPECT_TRUE(playhead.playing);
  const float expected[] = {0.01f, 0.02f, 0.03f, 0.01f, 0.02f, 0.03f, 0.01f, 0.02f};
  for (uint32_t i = 0; i < kBlock; ++i) EXPECT_FLOAT_EQ(block.monitor[2 * i], expected[i]) << i;
  EXPECT_EQ(playhead.position, 2u);
}

TEST(ClipBlockAndVoice, AnEmptyClipOrNoneIsSilentAndKeepsItsPlace) {
  ClipPlayhead playhead{true, false, 0};
  bool ended = false;
  Block block = Mix({}, &playhead, &ended, 0.1f);
  EXPECT_FALSE(ended);
  EXPECT_TRUE(playhead.playing);
  EXPECT_EQ(block.monitor, std::vector<float>(2 * kBlock, 0.0f));
  EXPECT_EQ(block.mix, std::vector<float>(2 * kBlock, 0.1f));

  ClipPlayhead stopped;
  block = Mix(Clip(4), &stopped, &ended);
  EXPECT_EQ(stopped.position, 0u);
  EXPECT_EQ(block.monitor, std::vector<float>(2 * kBlock, 0.0f));
}

TEST(ClipBlockAndVoice, LoudnessIsClampedOnTheMonitorAndAgainInTheMix) {
  std::vector<float> loud(2 * kBlock, 1.0f);
  loud[1] = -1.0f;
  ClipPlayhead playhead{true, true, 0};
  bool ended = false;
  Block block = Mix(loud, &playhead, &ended, 0.6f, 1.0f, 2.0f);
  EXPECT_EQ(block.monitor[0], 1.0f);
  EXPECT_EQ(block.monitor[1], -1.0f);
  EXPECT_EQ(block.mix[0], 1.0f);
  EXPECT_FLOAT_EQ(block.mix[1], -0.4f);  // the clamped monitor plus the voice
}

}  // namespace
}  // namespace zennic
