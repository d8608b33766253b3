#pragma once

#include <array>
#include <chrono>
#include <cstdint>

#include "engine/adaptive_target.h"
#include "engine/rate_controller.h"
#include "engine/sample_fifo.h"

namespace zennic {

// Keeps the audio that waits in a FIFO between a writer and a reader on two different clocks (a
// microphone's crystal against the cable's, the cable's against the headphones') near a small
// target, without dropping or inserting a frame while the writer keeps up: the reader consumes
// the FIFO a little faster or slower than its nominal rate, as its rate controller says from the
// mean level of each half second.
//
// Writers deliver in blocks, so the level jumps by a block whenever a delivery passes a read. The
// level followed is the writer's pace instead: the frames waiting after a read plus those of the
// next block already due by the time since the last one came. The target is the margin alone, not
// a whole block on top: a reader that finds the next block not yet there waits for it (the
// outputs' queues on their devices cover such waits), so holding a block in hand would only add
// its length to the delay. The margin spares the reader most of those waits; it grows when a read
// had to go ahead short (its silence is delay the writer needed) and comes down after a quiet
// time, as every target of the audio road does.
//
// The reader holds off, reading silence, until the target waits: at a run's first audio (for a
// device, after a few of its deliveries, which may hand over audio from before the run at once),
// and after the writer stopped (it was later than a backlog worth working off; for a device, until
// a second read finds it back, since what it held may come in pieces). Then it drops what waits
// beyond the target. A backlog that stays beyond the target for a whole window is dropped the
// same way.
class DriftFollower {
 public:
  using Clock = SampleFifo::Clock;

  struct Decision {
    // Read nothing this time and play silence: the FIFO is filling up to its target (or, with
    // `short_frames`, it was empty when the read could wait no longer).
    bool hold = false;
    // Source frames to consume per nominal frame in the next read.
    double speed = 1.0;
    // Oldest frames to drop before the read: only to realign.
    uint64_t drop_frames = 0;
    // Frames this read lacks: it went ahead without them, and they play as silence.
    uint64_t short_frames = 0;
    // The margin changed with this read (see margin_frames()).
    bool margin_changed = false;
  };

  // Whether a writer may open with audio from before the run (a device's backlog), which the
  // first alignment must wait out, or starts with the run (the engine's own ticks).
  enum class Start { kWithBacklog, kFresh };

  DriftFollower(const AdaptiveTarget::Shape& margin, Start start);

  // Forgets everything but the margin: the next audio starts a new alignment.
  void Reset();
  // Forgets the margin too: a new run.
  void ResetRun();
  // The writer stopped: read silence until its audio has built up to the target again.
  void WriterStopped();

  // Before each read at `now`: what the FIFO holds, and how many source frames the read takes. A
  // read that finds fewer goes ahead short: the caller waits for its writer when it can.
  Decision BeforeRead(Clock::time_point now, const SampleFifo::Fill& fill, uint64_t needed);

  double speed() const { return rate_.speed(); }
  bool holding() const { return !aligned_; }
  // Whether the writer's audio was ever read: before it, silence is the run's start, not a break.
  bool ever_aligned() const { return ever_aligned_; }
  uint64_t margin_frames() const { return margin_.frames(); }
  uint64_t target_frames() const { return margin_.frames(); }

 private:
  // `spare`: what waits beyond the read, all that a drop may take.
  Decision Align(uint64_t level, uint64_t spare);
  void NoteWrite(Clock::time_point now, const SampleFifo::Fill& fill);
  // `spare`: what waits beyond the read, all that a drop may take.
  void CloseWindow(Clock::time_point now, uint64_t spare, Decision* decision);

  AdaptiveTarget margin_;
  Start start_;
  RateController rate_;
  bool aligned_ = false;
  bool ever_aligned_ = false;
  // What reads lacked while the writer was late, since it last kept up.
  uint64_t missing_ = 0;
  uint64_t written_seen_ = 0;
  // Reads that found a new delivery, since the last alignment began, and when the writer stopped.
  uint64_t writes_ = 0;
  uint64_t writes_at_stop_ = 0;
  Clock::time_point first_write_at_;
  bool window_open_ = false;
  Clock::time_point window_start_;
  double window_sum_ = 0.0;
  uint64_t window_reads_ = 0;
};

}  // namespace zennic
