#pragma once

#include <chrono>
#include <cstdint>

#include "engine/delivery_jitter.h"
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
// the writer's largest recent block and a margin against the two sides' jitter. The margin is
// measured: it covers the widest spread of the writer's deliveries and of the reader's requests
// over the last half minute, grows by what was missing as soon as a writer that left a read short
// delivers again, and comes down a millisecond at a time, ten seconds apart, only while the measured
// jitter leaves two milliseconds to spare.
//
// Only a real stall realigns at once: a writer that delivered nothing for kStallTime (or two of
// its blocks, when its blocks are longer), or a reader that took nothing for as long (the FIFO
// then holds that much beyond the target). The first audio of a run is aligned the same way:
// the reader holds off, reading silence, until the target waits, and drops what waits beyond it.
class DriftFollower {
 public:
  using Clock = SampleFifo::Clock;

  static constexpr double kMaxSpeedDeviation = 0.0007;  // 700 ppm
  static constexpr auto kStallTime = std::chrono::milliseconds(100);
  static constexpr uint64_t kMaxMarginFrames = 2400;  // 50 ms
  // What a run keeps in hand until it has shown its jitter.
  static constexpr uint64_t kStartMarginFrames = 192;  // 4 ms

  struct Decision {
    // Read nothing this time and play silence: the FIFO is filling up to its target.
    bool hold = false;
    // Source frames to consume per nominal frame in the next read.
    double speed = 1.0;
    // Oldest frames to drop before the next read: only to realign after a stall.
    uint64_t drop_frames = 0;
    // How long the stall lasted, when this decision realigns after one; zero otherwise.
    std::chrono::milliseconds stall{0};
    // Frames this read lacks: the writer came late and they will play as silence.
    uint64_t short_frames = 0;
    // The margin changed with this read (see margin_frames()).
    bool margin_changed = false;
    // The writer's blocks grew beyond what was held before (see block_frames()).
    bool block_grew = false;
  };

  // `start_margin_frames`: what should wait beyond the writer's block after a read, at 48,000
  // frames a second, until the run has shown its jitter.
  explicit DriftFollower(uint64_t start_margin_frames);

  // Forgets everything but the run's jitter figures: the next audio starts a new alignment.
  void Reset();
  // Forgets the figures too: a new run.
  void ResetRun();

  // Before each read at `now`: what the FIFO holds, and how many source frames the read takes.
  Decision BeforeRead(Clock::time_point now, const SampleFifo::Fill& fill, uint64_t needed);

  double speed() const { return speed_; }
  // Filling up after a start or a stall: reads play silence.
  bool holding() const { return !aligned_; }
  uint64_t margin_frames() const { return margin_; }
  // The writer's largest recent block.
  uint64_t block_frames() const;
  // What should wait after a read: the largest recent block and the margin.
  uint64_t target_frames() const;
  // How the writer's deliveries and the reader's requests kept their pace.
  const DeliveryJitter& writer_jitter() const { return writer_jitter_; }
  const DeliveryJitter& reader_jitter() const { return reader_jitter_; }

 private:
  void CloseWindow(Clock::time_point now, Decision* decision);
  // Ends a hold or a stall: `level` is what will wait after the read, the writer's due frames
  // included, `waiting` what the FIFO holds.
  Decision Align(Clock::time_point now, uint64_t level, uint64_t waiting);
  void NoteBlock(Clock::time_point now, uint64_t frames, Decision* decision);
  // The margin the measured jitter asks for.
  uint64_t MeasuredNeed() const;
  void SetMargin(Clock::time_point now, uint64_t frames, Decision* decision);
  Clock::duration StallTime() const;

  uint64_t start_margin_;
  uint64_t margin_;
  bool aligned_ = false;
  bool ever_aligned_ = false;
  // A second past the first alignment: from then on the jitter counts.
  bool settled_ = false;
  Clock::time_point first_aligned_at_;
  // The stall being realigned after, to report once aligned again.
  Clock::duration stall_{};
  bool starving_ = false;
  Clock::time_point starving_since_;
  uint64_t missing_ = 0;  // frames read as silence in the current starve
  Clock::time_point margin_changed_at_;
  // The least that waited after a read since the margin last changed.
  uint64_t lowest_since_change_ = UINT64_MAX;
  // The largest block of the current and the previous few seconds, and the largest yet.
  uint64_t block_ = 0;
  uint64_t previous_block_ = 0;
  uint64_t largest_block_ = 0;
  Clock::time_point block_since_;
  bool window_open_ = false;
  Clock::time_point window_start_;
  double window_sum_ = 0.0;
  uint64_t window_reads_ = 0;
  uint64_t window_lowest_ = UINT64_MAX;
  double integral_ = 0.0;  // frame-seconds
  double speed_ = 1.0;
  // The reader's position: the source frames its reads have taken.
  uint64_t read_frames_ = 0;
  uint64_t writer_frames_seen_ = 0;
  DeliveryJitter writer_jitter_;
  DeliveryJitter reader_jitter_;
};

}  // namespace zennic
