// A paced FIFO reader against a writer on another clock, as the ticks read the microphone: the
// reader waits for a writer that is late, as long as the outputs' queues allow, and reads short
// only when it can wait no longer.

#include "engine/paced_fifo_reader.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <numbers>
#include <random>
#include <vector>

#include "engine/mixer_engine.h"
#include "engine/sample_fifo.h"

namespace zennic {
namespace {

using namespace std::chrono_literals;
using Clock = DriftFollower::Clock;

constexpr uint64_t kRead = 480;
// The writer's frames go round a circle, left the sine and right the cosine of their position,
// so every frame read back says where in the stream it lies.
constexpr double kCircleFrames = 4800;

Clock::time_point At(double milliseconds) {
  return Clock::time_point(std::chrono::duration_cast<Clock::duration>(
      std::chrono::duration<double, std::milli>(milliseconds)));
}

struct Writer {
  uint64_t block = 240;
  double ppm = 0.0;        // its clock against the reader's
  double late_ms = 0.0;    // each block late by up to this, at random
  double stop_at_ms = -1;  // it stops for 300 ms there, if ever
};

struct SimulatedRun {
  uint64_t short_frames = 0;  // frames a read went ahead without
  uint64_t jumps = 0;         // frames read back that do not follow the one before
  uint64_t silent_reads = 0;  // reads of silence after the first audio
  double longest_wait_ms = 0.0;
  uint64_t highest_level = 0;  // after the first minute
};

// The writer hands over its blocks on its own clock; every 10 ms the reader reads a tick's worth,
// waiting up to `most_wait_ms` for frames that are not there yet, as a tick waits while the
// outputs can; with `stall_detection` it stops waiting once the writer has been silent for
// 20 ms, as the microphone's stall detector says. Simulated in quarter milliseconds.
SimulatedRun Simulate(const Writer& writer, double minutes, double most_wait_ms = 40.0) {
  SampleFifo fifo(96000, 2);
  PacedFifoReader reader(MixerEngine::kFifoMargin, DriftFollower::Start::kWithBacklog);
  reader.Reserve(kRead);
  std::mt19937 random(7);
  std::uniform_real_distribution<double> lateness(0.0, writer.late_ms);
  std::vector<float> block(2 * writer.block);
  std::vector<float> out;
  const double period_ms = writer.block / 48.0 / (1.0 + writer.ppm * 1e-6);
  const double step = 2 * std::numbers::pi / kCircleFrames;
  double next_block_ms = 3.7;
  double due_ms = next_block_ms;
  double last_write_ms = 0.0;
  uint64_t written = 0;
  double next_read_ms = 0.0;
  double waiting_since = -1.0;
  bool heard = false;
  double last_angle = 0.0;
  SimulatedRun run;
  for (double ms = 0.0; ms < minutes * 60000.0; ms += 0.25) {
    const bool stopped = writer.stop_at_ms >= 0 && ms >= writer.stop_at_ms &&
                         ms < writer.stop_at_ms + 300.0;
    for (; due_ms <= ms; next_block_ms += period_ms,
                         due_ms = std::max(due_ms, next_block_ms + lateness(random))) {
      if (stopped) continue;
      for (uint64_t i = 0; i < writer.block; ++i, ++written) {
        const double angle = step * static_cast<double>(written % static_cast<uint64_t>(kCircleFrames));
        block[2 * i] = static_cast<float>(std::sin(angle));
        block[2 * i + 1] = static_cast<float>(std::cos(angle));
      }
      fifo.Write(block.data(), writer.block, At(due_ms));
      last_write_ms = due_ms;
    }
    if (ms < next_read_ms) continue;
    if (reader.FramesReady(fifo.Size(), 48000, kRead) < kRead) {
      if (waiting_since < 0) waiting_since = ms;
      const bool writer_silent = ms - last_write_ms > 20.0;
      if (writer_silent) reader.WriterStopped();
      if (!writer_silent && ms - waiting_since < most_wait_ms) continue;
    }
    if (waiting_since >= 0) run.longest_wait_ms = std::max(run.longest_wait_ms, ms - waiting_since);
    waiting_since = -1.0;
    next_read_ms += 10.0;
    DriftFollower::Decision read = reader.Read(&fifo, 48000, kRead, At(ms), &out);
    run.short_frames += read.short_frames;
    // A read is skipped into or padded at its edges: its first frame must follow the last one
    // before, and its last frame must lie a read's length on.
    bool silent = false;
    for (uint64_t i : {uint64_t{0}, kRead - 1}) {
      const double left = out[2 * i];
      const double right = out[2 * i + 1];
      if (std::hypot(left, right) < 0.5) {
        silent = true;
        continue;
      }
      const double angle = std::atan2(left, right);
      const double moved = std::remainder(angle - last_angle, 2 * std::numbers::pi) / step;
      const double expected = i == 0 ? 1.0 : static_cast<double>(kRead - 1);
      if (heard && std::abs(moved - expected) > 0.01 * expected) ++run.jumps;
      heard = true;
      last_angle = angle;
    }
    if (silent && heard) ++run.silent_reads;
    if (ms >= 60000.0) run.highest_level = std::max(run.highest_level, fifo.Size());
  }
  return run;
}

TEST(PacedFifoReader, ClocksApartAndLateBlocksAreFollowedWithoutSkippingOrPadding) {
  // The production margin; blocks of 5 ms and of 10 ms, clocks 300 ppm apart both ways, each
  // block late by up to the margin or by 8 ms: the speed changes at most windows, and the reader
  // often finds the FIFO holding exactly what it needs as one closes.
  const double margin_ms =
      std::chrono::duration<double, std::milli>(MixerEngine::kFifoMargin.floor).count();
  for (uint64_t block : {uint64_t{240}, uint64_t{480}}) {
    for (double ppm : {300.0, -300.0}) {
      for (double late_ms : {margin_ms, 8.0}) {
        SCOPED_TRACE(::testing::Message() << block << " frames, " << ppm << " ppm, late by up to "
                                          << late_ms << " ms");
        SimulatedRun run = Simulate({block, ppm, late_ms}, 5);
        EXPECT_EQ(run.short_frames, 0u);
        EXPECT_EQ(run.silent_reads, 0u);
        EXPECT_EQ(run.jumps, 0u);
        // A wait is for the frames a read needs and, where the two clocks' phases slip past each
        // other, for one block more: never longer than their spacing and their lateness.
        EXPECT_LE(run.longest_wait_ms, (kRead + block) / 48.0 + late_ms + 0.5);
        // The delay stays put: the block, the margin and a read's swing at most.
        EXPECT_LE(run.highest_level, block + kRead + 3 * 48);
      }
    }
  }
}

TEST(PacedFifoReader, AWriterThatStopsIsSilenceUntilItComesBackAndThenOneRealignment) {
  SimulatedRun run = Simulate({240, 0.0, 1.0, 30000.0}, 1);
  // 300 ms away, the 20 ms the reader waits and the few it takes to build up again.
  EXPECT_GE(run.silent_reads, 28u);
  EXPECT_LE(run.silent_reads, 33u);
  EXPECT_LE(run.jumps, 1u);
  EXPECT_EQ(run.short_frames, 0u) << "it stops waiting when the writer stops, and reads nothing";
}

}  // namespace
}  // namespace zennic
