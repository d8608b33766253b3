// A paced FIFO reader against a writer on another clock, as the ticks read the microphone: the
// reader waits for a writer that is late, as long as the outputs' queues allow, and reads short
// only when it can wait no longer.

#include "engine/paced_fifo_reader.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <numbers>
#include <optional>
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
  double away_at_ms = -1;  // it goes away there, if ever,
  double away_ms = 300;    // for this long,
  bool held = false;       // and its audio meanwhile is lost, or comes at once when it is back,
  double rest_after_ms = 0;  // or, if given, its later half this much later
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
// cable's queue lasts. Simulated in quarter milliseconds.
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
  uint64_t written = 0;
  double next_read_ms = 0.0;
  double waiting_since = -1.0;
  bool heard = false;
  double last_angle = 0.0;
  SimulatedRun run;
  for (double ms = 0.0; ms < minutes * 60000.0; ms += 0.25) {
    const bool away = writer.away_at_ms >= 0 && ms >= writer.away_at_ms &&
                      ms < writer.away_at_ms + writer.away_ms;
    for (; due_ms <= ms && !(away && writer.held);
         next_block_ms += period_ms, due_ms = std::max(due_ms, next_block_ms + lateness(random))) {
      if (away) continue;
      const bool held_back = writer.held && due_ms >= writer.away_at_ms &&
                             due_ms < writer.away_at_ms + writer.away_ms;
      if (held_back && due_ms >= writer.away_at_ms + writer.away_ms / 2 &&
          ms < writer.away_at_ms + writer.away_ms + writer.rest_after_ms) {
        break;
      }
      for (uint64_t i = 0; i < writer.block; ++i, ++written) {
        const double angle = step * static_cast<double>(written % static_cast<uint64_t>(kCircleFrames));
        block[2 * i] = static_cast<float>(std::sin(angle));
        block[2 * i + 1] = static_cast<float>(std::cos(angle));
      }
      // Blocks held back come at once, now.
      fifo.Write(block.data(), writer.block, At(held_back ? ms : due_ms));
    }
    if (ms < next_read_ms) continue;
    if (reader.FramesReady(fifo.Size(), 48000, kRead) < kRead) {
      if (waiting_since < 0) waiting_since = ms;
      if (ms - waiting_since < most_wait_ms) continue;
    }
    if (waiting_since >= 0) run.longest_wait_ms = std::max(run.longest_wait_ms, ms - waiting_since);
    waiting_since = -1.0;
    next_read_ms += 10.0;
    DriftFollower::Decision read = reader.Read(&fifo, 48000, kRead, At(ms), &out);
    run.short_frames += read.short_frames;
    // A read is skipped into or padded: its first frame heard must follow the last one heard
    // before (silence read for a late writer skips nothing), and its last frame heard must lie
    // as far on as it is in the read.
    auto angle_at = [&](uint64_t i) { return std::atan2(out[2 * i], out[2 * i + 1]); };
    bool silent = false;
    std::optional<uint64_t> first;
    uint64_t last = 0;
    for (uint64_t i = 0; i < kRead; ++i) {
      if (std::hypot(out[2 * i], out[2 * i + 1]) < 0.5) {
        silent = true;
      } else {
        if (!first) first = i;
        last = i;
      }
    }
    auto follows = [&](double from, double to, double frames) {
      const double moved = std::remainder(to - from, 2 * std::numbers::pi) / step;
      // Half a frame more: the last frame before silence is drawn towards it.
      return std::abs(moved - frames) <= 0.01 * frames + 0.5;
    };
    if (first) {
      if (heard && !follows(last_angle, angle_at(*first), 1.0)) ++run.jumps;
      if (last > *first && !follows(angle_at(*first), angle_at(last), last - *first)) ++run.jumps;
      heard = true;
      last_angle = angle_at(last);
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
  // 300 ms away and the few it takes to build up again.
  EXPECT_GE(run.silent_reads, 28u);
  EXPECT_LE(run.silent_reads, 33u);
  EXPECT_LE(run.jumps, 1u);
  // The reads that waited as long as they could went short until the writer was later than the
  // reader works off, and the one that found it so reads nothing.
  EXPECT_LE(run.short_frames, 960u + kRead);
}

TEST(PacedFifoReader, AWriterBackFromAStopWithWhatItHeldInTwoPiecesIsRealignedOnce) {
  // 300 ms held, handed over as it comes back: half at once, half a read later. Aligned on the
  // first half, the second would be a backlog dropped a window later, a second jump.
  SimulatedRun run = Simulate({240, 0.0, 1.0, 30000.0, 300.0, true, 12.0}, 1);
  EXPECT_LE(run.jumps, 1u);
  EXPECT_LE(run.silent_reads, 33u);
}

TEST(PacedFifoReader, AWriterHeldUpIsHeardWhenItComesBackAtItsPlace) {
  // Reads that may wait 15 ms; the writer held up for longer than one of them waits, or two, at
  // several phases of its blocks: its audio comes late, in one burst, and what comes in time for a
  // read is heard on without a jump, after the silence of the reads that could wait no longer.
  for (double away_ms : {30.0, 40.0}) {
    for (double at_ms : {30000.0, 30001.0, 30003.0, 30006.0, 30008.0}) {
      SCOPED_TRACE(::testing::Message() << "held up for " << away_ms << " ms at " << at_ms);
      SimulatedRun run = Simulate({240, 0.0, 1.0, at_ms, away_ms, true}, 0.6, 15.0);
      EXPECT_LE(run.silent_reads, 2u);
      EXPECT_EQ(run.jumps, 0u);
    }
  }
}

}  // namespace
}  // namespace zennic
