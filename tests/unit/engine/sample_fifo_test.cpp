#include "engine/sample_fifo.h"

#include <gtest/gtest.h>

#include <numeric>
#include <vector>

namespace zennic {
namespace {

// Stereo frames whose left sample is the frame's number, so order and loss are visible.
std::vector<float> NumberedFrames(uint64_t first, uint64_t count) {
  std::vector<float> frames;
  for (uint64_t i = 0; i < count; ++i) {
    frames.push_back(static_cast<float>(first + i));
    frames.push_back(-static_cast<float>(first + i));
  }
  return frames;
}

TEST(SampleFifo, ABlockLargerThanTheRingKeepsItsNewestFramesInOrder) {
  SampleFifo fifo(96000, 2);
  fifo.Write(NumberedFrames(500, 10).data(), 10);
  auto block = NumberedFrames(0, 96001);
  EXPECT_EQ(fifo.Write(block.data(), 96001), 96000u);
  std::vector<float> out(96000 * 2);
  EXPECT_EQ(fifo.Read(out.data(), 96000, false), 96000u);
  EXPECT_EQ(out[0], 1.0f);
  EXPECT_EQ(out[2 * 95999], 96000.0f);
  EXPECT_EQ(out[2 * 95999 + 1], -96000.0f);
  EXPECT_EQ(fifo.Size(), 0u);
}

TEST(SampleFifo, AFullRingDropsItsOldestFramesAcrossTheWrap) {
  SampleFifo fifo(8, 2);
  fifo.Write(NumberedFrames(0, 5).data(), 5);
  std::vector<float> out(16);
  fifo.Read(out.data(), 3, false);  // the read index now sits inside the ring
  fifo.Write(NumberedFrames(5, 8).data(), 8);
  EXPECT_EQ(fifo.Size(), 8u);
  ASSERT_EQ(fifo.Read(out.data(), 8, false), 8u);
  for (int i = 0; i < 8; ++i) EXPECT_EQ(out[2 * i], static_cast<float>(5 + i)) << i;
}

TEST(SampleFifo, AShortReadFillsSilenceOnlyWhenAsked) {
  SampleFifo fifo(96000, 2);
  fifo.Write(NumberedFrames(1, 100).data(), 100);
  std::vector<float> out(480 * 2, 7.0f);
  EXPECT_EQ(fifo.Read(out.data(), 480, true), 100u);
  EXPECT_EQ(out[2 * 99], 100.0f);
  EXPECT_EQ(out[2 * 100], 0.0f);
  EXPECT_EQ(out[2 * 479 + 1], 0.0f);

  std::fill(out.begin(), out.end(), 7.0f);
  fifo.Write(NumberedFrames(1, 100).data(), 100);
  EXPECT_EQ(fifo.Read(out.data(), 480, false), 100u);
  EXPECT_EQ(out[2 * 100], 7.0f);

  EXPECT_EQ(fifo.Read(out.data(), 0, true), 0u);
  EXPECT_EQ(fifo.Write(out.data(), 0), 0u);
  EXPECT_EQ(fifo.Read(nullptr, 10, true), 0u);
  fifo.Write(NumberedFrames(1, 3).data(), 3);
  fifo.Clear();
  std::fill(out.begin(), out.end(), 7.0f);
  EXPECT_EQ(fifo.Read(out.data(), 480, true), 0u);
  EXPECT_EQ(out[0], 0.0f);
}

TEST(SampleFifo, DroppingSkipsTheOldestFramesAcrossTheWrap) {
  SampleFifo fifo(8, 2);
  fifo.Write(NumberedFrames(0, 6).data(), 6);
  std::vector<float> out(16);
  fifo.Read(out.data(), 5, false);
  fifo.Write(NumberedFrames(6, 6).data(), 6);  // the ring now wraps
  EXPECT_EQ(fifo.DropOldest(4), 4u);
  ASSERT_EQ(fifo.Read(out.data(), 8, false), 3u);
  EXPECT_EQ(out[0], 9.0f);
  EXPECT_EQ(fifo.DropOldest(5), 0u);
}

TEST(SampleFifo, AChannelCountBelowOneMeansStereo) {
  SampleFifo fifo(4, 0);
  EXPECT_EQ(fifo.channels(), 2u);
}

}  // namespace
}  // namespace zennic
