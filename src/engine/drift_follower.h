#pragma once

#include <chrono>
#include <cstdint>

#include "engine/sample_fifo.h"

namespace zennic {

// Keeps the audio that waits in a FIFO between a writer and a reader on two different clocks
// (a microphone's crystal against the mixer's tick, the mixer's tick against a sound card's)
// near a small target, without ever dropping or inserting a block: the reader consumes the FIFO
// a little faster or slower than its nominal rate, by at most kMaxSpeedDeviation, with a slow
// proportional-integral control on the mean level of each half second, the way an adaptive
// loopback keeps its delay.
//
// Writers deliver in blocks, so the level jumps by a block whenever a delivery moves past a
// read. The level followed is the writer's pace instead: the frames waiting plus those of the
// next block that are due by the time since the last one came. What should wait after a read is
// the largest recent block and a margin against jitter. When less than a millisecond was left
// after some read, or a writer came so late that the reader ran short (the silence read then
// becomes delay in hand), the margin grows by what was missing (up to kMaxMarginFrames); ten
// seconds with room to spare bring it back down by a millisecond.
//
// Only a real stall realigns at once: a writer that delivered nothing for kStallTime, or a
// reader that took nothing for as long (the FIFO then holds that much beyond the target). The
// first audio of a run is aligned the same way: the reader holds off, reading silence, until the
// target waits, and drops what waits beyond it.
class DriftFollower {
 public:
  using Clock = SampleFifo::Clock;

  static constexpr double kMaxSpeedDeviation = 0.0007;  // 700 ppm
  static constexpr auto kStallTime = std::chrono::milliseconds(100);
  static constexpr uint64_t kMaxMarginFrames = 1440;  // 30 ms

  struct Decision {
    // Read nothing this time and play silence: the FIFO is filling up to its target.
    bool hold = false;
    // Source frames to consume per nominal frame in the next read.
    double speed = 1.0;
    // Oldest frames to drop before the next read: only to realign after a stall.
    uint64_t drop_frames = 0;
    // How long the stall lasted, when this decision realigns after one; zero otherwise.
    std::chrono::milliseconds stall{0};
    // How much silence a late delivery cost, when this read ends one; the margin grew by it.
    std::chrono::milliseconds late{0};
  };

  // `margin_frames`: what should wait beyond the writer's block after a read, at 48,000 frames
  // a second.
  explicit DriftFollower(uint64_t margin_frames);

  // Forgets everything: the next audio starts a new alignment.
  void Reset();

  // Before each read at `now`: what the FIFO holds, and about how many source frames the read
  // will take at the current speed.
  Decision BeforeRead(Clock::time_point now, const SampleFifo::Fill& fill, uint64_t needed);

  double speed() const { return speed_; }
  // Filling up after a start or a stall: reads play silence.
  bool holding() const { return !aligned_; }
  uint64_t margin_frames() const { return margin_; }
  // What should wait after a read: the largest recent block and the margin.
  uint64_t target_frames() const;

 private:
  void CloseWindow(Clock::time_point now);
  // Ends a hold or a stall: `level` is what will wait after the read, the writer's due frames
  // included, `waiting` what the FIFO holds.
  Decision Align(Clock::time_point now, uint64_t level, uint64_t waiting);
  void NoteBlock(Clock::time_point now, uint64_t frames);
  void RaiseMargin(Clock::time_point now, uint64_t frames);

  uint64_t base_margin_;
  uint64_t margin_;
  bool aligned_ = false;
  bool ever_aligned_ = false;
  Clock::time_point first_aligned_at_;
  // The stall being realigned after, to report once aligned again.
  Clock::duration stall_{};
  bool starving_ = false;
  Clock::time_point starving_since_;
  uint64_t missing_ = 0;  // frames read as silence in the current starve
  Clock::time_point last_raise_;
  Clock::time_point last_lowering_;
  // The least that waited after a read since the margin last changed.
  uint64_t lowest_since_change_ = UINT64_MAX;
  // The largest block of the current and the previous few seconds.
  uint64_t block_ = 0;
  uint64_t previous_block_ = 0;
  Clock::time_point block_since_;
  bool window_open_ = false;
  Clock::time_point window_start_;
  double window_sum_ = 0.0;
  uint64_t window_reads_ = 0;
  uint64_t window_lowest_ = UINT64_MAX;
  double integral_ = 0.0;  // frame-seconds
  double speed_ = 1.0;
};

}  // namespace zennic
