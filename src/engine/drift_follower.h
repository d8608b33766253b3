#pragma once

#include <array>
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
// the writer's largest recent block and a margin against the jitter of the two sides: a writer
// that delivers late, a reader that asks early. The jitter is measured where it counts, at the
// reads: how deep each read ate into the margin, from the level the reads keep (a level still
// coming up to a raised target is no jitter). The margin keeps a millisecond beyond the
// deepest of the last half minute, grows at once when a read comes closer than that, grows by
// what was missing as soon as a writer that left a read short delivers again, and comes down a
// millisecond at a time, ten seconds apart, only while the jitter leaves two milliseconds more
// to spare.
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
  // What a run keeps in hand until it has shown its jitter: on the machines measured a thread
  // is now and then held up for 15 to 20 ms (its virtual processor taken away), several times a
  // minute, the whole machine for 20 to 40 ms a few times in ten minutes, and a microphone
  // delivered up to 10 ms late within its first second.
  static constexpr uint64_t kStartMarginFrames = 1680;  // 35 ms

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

  // Forgets everything but the margin: the next audio starts a new alignment.
  void Reset();
  // Forgets the margin too: a new run.
  void ResetRun();

  // Before each read at `now`: what the FIFO holds, and how many source frames the read takes.
  Decision BeforeRead(Clock::time_point now, const SampleFifo::Fill& fill, uint64_t needed);

  double speed() const { return speed_; }
  // Filling up after a start or a stall: reads play silence.
  bool holding() const { return !aligned_; }
  uint64_t margin_frames() const { return margin_; }
  // The writer's block: the largest of its recent deliveries but one, so that a single burst
  // (a writer catching up after a stall) does not count as its block.
  uint64_t block_frames() const { return block_; }
  // What should wait after a read: the largest recent block and the margin.
  uint64_t target_frames() const;

 private:
  void CloseWindow(Clock::time_point now, Decision* decision);
  // Ends a hold or a stall: `level` is what will wait after the read, the writer's due frames
  // included, `waiting` what the FIFO holds.
  Decision Align(Clock::time_point now, uint64_t level, uint64_t waiting);
  // Takes note of a delivery the reader has not seen before.
  void NoteWrite(Clock::time_point now, const SampleFifo::Fill& fill, Decision* decision);
  // The margin the measured jitter asks for.
  uint64_t MeasuredNeed() const;

  // The deepest a read ate into the margin in each of the last kSeconds seconds.
  class RecentDepth {
   public:
    static constexpr int kSeconds = 30;
    void Clear();
    void Note(Clock::time_point now, uint64_t frames);
    uint64_t Peak() const;

   private:
    std::array<uint64_t, kSeconds> seconds_{};
    int next_ = 0;
    uint64_t current_ = 0;
    bool started_ = false;
    Clock::time_point second_start_;
  };
  void SetMargin(Clock::time_point now, uint64_t frames, Decision* decision);
  Clock::duration StallTime() const;

  uint64_t start_margin_;
  uint64_t margin_;
  bool aligned_ = false;
  bool ever_aligned_ = false;
  Clock::time_point first_aligned_at_;
  // The stall being realigned after, to report once aligned again.
  Clock::duration stall_{};
  bool starving_ = false;
  Clock::time_point starving_since_;
  uint64_t missing_ = 0;  // frames read as silence in the current starve
  Clock::time_point margin_changed_at_;
  // The writer's recent deliveries, its block, and the largest block held yet.
  std::array<uint64_t, 8> recent_writes_{};
  size_t next_write_ = 0;
  uint64_t written_seen_ = 0;
  uint64_t writes_ = 0;
  Clock::time_point first_write_at_;
  uint64_t block_ = 0;
  uint64_t largest_block_ = 0;
  bool window_open_ = false;
  Clock::time_point window_start_;
  double window_sum_ = 0.0;
  uint64_t window_reads_ = 0;
  // The mean level of the last half second's reads, the writer's due frames included.
  uint64_t held_level_ = 0;
  double integral_ = 0.0;  // frame-seconds
  double speed_ = 1.0;
  RecentDepth depth_;
};

}  // namespace zennic
