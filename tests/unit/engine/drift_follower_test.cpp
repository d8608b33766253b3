#include "engine/drift_follower.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <numbers>
#include <random>
#include <vector>

#include "engine/paced_fifo_reader.h"
#include "engine/sample_fifo.h"

namespace zennic {
namespace {

using namespace std::chrono_literals;
using Clock = DriftFollower::Clock;

constexpr uint64_t kMargin = 144;
constexpr uint64_t kBlock = 480;
// The writer's frames go round a circle, left the sine and right the cosine of their position,
// so every frame read back says where in the stream it lies.
constexpr double kCircleFrames = 4800;

struct SimulatedRun {
  uint64_t jumps = 0;     // frames read back that do not follow the one before
  uint64_t silences = 0;  // silent reads after the first audio
  uint64_t stalls = 0;
  uint64_t short_frames = 0;  // frames a read lacked and played as silence
  uint64_t highest_level = 0;  // after the first minute
  double final_speed = 1.0;
};

Clock::time_point At(double milliseconds) {
  return Clock::time_point(std::chrono::duration_cast<Clock::duration>(
      std::chrono::duration<double, std::milli>(milliseconds)));
}

// A writer that hands over 10 ms blocks on its own clock, `writer_ppm` off the reader's, each
// late by up to `late_ms` at random, and a reader that takes 10 ms blocks on the reader's clock,
// for `minutes` simulated minutes in 1 ms steps. `stall_at`: when the writer stops for 150 ms,
// if ever.
SimulatedRun Simulate(double writer_ppm, int minutes, std::chrono::milliseconds stall_at = 0ms,
                      double late_ms = 0.0, uint64_t margin = kMargin) {
  SampleFifo fifo(96000, 2);
  PacedFifoReader reader(margin);
  std::mt19937 random(7);
  std::uniform_real_distribution<double> lateness(0.0, late_ms);
  std::vector<float> circle(2 * static_cast<size_t>(kCircleFrames));
  for (size_t i = 0; i < circle.size() / 2; ++i) {
    circle[2 * i] = static_cast<float>(std::sin(2 * std::numbers::pi * i / kCircleFrames));
    circle[2 * i + 1] = static_cast<float>(std::cos(2 * std::numbers::pi * i / kCircleFrames));
  }
  std::vector<float> block(2 * kBlock);
  std::vector<float> out;
  const double writer_period_ms = 10.0 / (1.0 + writer_ppm * 1e-6);
  const double step = 2 * std::numbers::pi / kCircleFrames;
  double next_write_ms = 3.7;
  double due_ms = next_write_ms;
  uint64_t written = 0;
  bool heard = false;
  double last_angle = 0.0;
  SimulatedRun run;
  for (int64_t ms = 0; ms < int64_t{minutes} * 60000; ++ms) {
    bool stalled = stall_at.count() > 0 && ms >= stall_at.count() && ms < stall_at.count() + 150;
    for (; due_ms <= static_cast<double>(ms);
         next_write_ms += writer_period_ms,
         due_ms = std::max(due_ms, next_write_ms + lateness(random))) {
      if (stalled) continue;
      for (uint64_t i = 0; i < kBlock; ++i, ++written) {
        size_t at = written % static_cast<size_t>(kCircleFrames);
        block[2 * i] = circle[2 * at];
        block[2 * i + 1] = circle[2 * at + 1];
      }
      fifo.Write(block.data(), kBlock, At(due_ms));
    }
    if (ms % 10 != 0) continue;
    DriftFollower::Decision read = reader.Read(&fifo, 48000, kBlock, At(static_cast<double>(ms)), &out);
    if (read.stall.count() > 0) ++run.stalls;
    run.short_frames += read.short_frames;
    // A read is skipped into or padded at its edges: its first frame must follow the last one
    // before, and its last frame must lie a read's length on.
    bool silent = false;
    for (uint64_t i : {uint64_t{0}, kBlock - 1}) {
      double left = out[2 * i];
      double right = out[2 * i + 1];
      if (std::hypot(left, right) < 0.5) {
        silent = true;
        continue;
      }
      double angle = std::atan2(left, right);
      double moved = std::remainder(angle - last_angle, 2 * std::numbers::pi) / step;
      double expected = i == 0 ? 1.0 : static_cast<double>(kBlock - 1);
      if (heard && std::abs(moved - expected) > 0.01 * expected) ++run.jumps;
      heard = true;
      last_angle = angle;
    }
    if (silent && heard) ++run.silences;
    if (ms >= 60000) run.highest_level = std::max(run.highest_level, fifo.Size());
  }
  return run;
}

TEST(DriftFollower, ClocksHalfAPerMilleApartKeepTheDelayWithoutSkippingOrPadding) {
  for (double ppm : {500.0, -500.0, 0.0}) {
    SCOPED_TRACE(ppm);
    SimulatedRun run = Simulate(ppm, 10);
    EXPECT_EQ(run.jumps, 0u);
    EXPECT_EQ(run.silences, 0u);
    EXPECT_EQ(run.stalls, 0u);
    // The writer's block and the margin wait after a read, and the follower swings within 10 ms.
    EXPECT_LE(run.highest_level, kBlock + kMargin + 480);
  }
}

TEST(DriftFollower, OnlyAStallRealignsAndAClockFarOffIsFollowedOnlySoFar) {
  // A writer that stops for 150 ms is silence for about as long, then one realignment.
  SimulatedRun stalled = Simulate(0.0, 2, 70000ms);
  EXPECT_EQ(stalled.stalls, 1u);
  EXPECT_GE(stalled.silences, 15u);
  EXPECT_LE(stalled.silences, 18u);
  EXPECT_LE(stalled.jumps, 1u);

  // Beyond the speed the follower may take, the backlog is realigned as a stall, never more
  // than the stall's worth beyond the target.
  SimulatedRun far_off = Simulate(2000.0, 4);
  EXPECT_GT(far_off.stalls, 0u);
  EXPECT_LE(far_off.highest_level, kBlock + kMargin + 4800 + kBlock);
}

TEST(DriftFollower, DeliveriesLateByUpToTheMarginNeverPlaySilence) {
  // The production margin, a writer a little off that makes the speed change at every window,
  // and every block late by a random amount up to the margin: the reader never runs short.
  for (double ppm : {300.0, -300.0}) {
    SCOPED_TRACE(ppm);
    SimulatedRun run = Simulate(ppm, 10, 0ms, DriftFollower::kStartMarginFrames / 48.0,
                                DriftFollower::kStartMarginFrames);
    EXPECT_EQ(run.short_frames, 0u);
    EXPECT_EQ(run.silences, 0u);
    EXPECT_EQ(run.jumps, 0u);
  }
}

TEST(DriftFollower, AReaderThatWaitsForItsWriterKeepsTheMarginItsJitterAsks) {
  // A writer of 256 frames every 5.3 ms, as one audio server hands a microphone over, and a
  // reader of two 10 ms reads at once every 20 ms, as that server's output asks for the mix,
  // that waits for the frames it lacks, as the mixer does. After a wait the level takes seconds
  // to come back up to the target; what the reads find short of it meanwhile is no jitter, and
  // raised the margin read after read to 42 ms.
  SampleFifo fifo(96000, 2);
  PacedFifoReader reader(240);
  std::vector<float> block(2 * 256, 0.25f);
  std::vector<float> out;
  uint64_t written = 0;
  double next_read_ms = 0.0;
  uint64_t reads = 0;
  uint64_t short_frames = 0;
  for (double ms = 0.0; ms < 120000.0; ms += 0.25) {
    for (; static_cast<double>(written) / 48.0 <= ms; written += 256) {
      fifo.Write(block.data(), 256, At(ms));
    }
    if (ms < next_read_ms || reader.FramesReady(fifo.Size(), 48000, 480) < 480) continue;
    short_frames += reader.Read(&fifo, 48000, 480, At(ms), &out).short_frames;
    next_read_ms += ++reads % 2 == 1 ? 0.0 : 20.0;
  }
  EXPECT_EQ(short_frames, 0u);
  EXPECT_LE(reader.follower().margin_frames(), 15u * 48) << reader.follower().margin_frames();
}

}  // namespace
}  // namespace zennic
