#pragma once

#include <chrono>
#include <cstdint>
#include <vector>

#include "engine/drift_follower.h"
#include "engine/linear_resampler.h"
#include "engine/sample_fifo.h"

namespace zennic {

// The reading side of a FIFO whose writer runs on another clock: frames at the reader's rate,
// drawn at the pace a drift follower sets, so that the delay stays steady and nothing is skipped
// or padded while the writer keeps up.
class PacedFifoReader {
 public:
  PacedFifoReader(const AdaptiveTarget::Shape& margin, DriftFollower::Start start)
      : follower_(margin, start) {}

  // A new alignment; the margin stays.
  void Reset();
  // A new run.
  void ResetRun();
  // The writer stopped: silence until its audio has built up again, then a new alignment.
  void WriterStopped() { follower_.WriterStopped(); }
  // Room for reads of up to `frames` frames, so that reading never allocates.
  void Reserve(uint64_t frames) { resampler_.Reserve(frames); }

  // `frame_count` stereo frames at `rate` into `out` (resized to fit), silence while the FIFO
  // fills up after a start or a stall. Returns the follower's decision, with the frames the read
  // lacked and played as silence.
  DriftFollower::Decision Read(SampleFifo* fifo, uint32_t rate, uint64_t frame_count,
                               SampleFifo::Clock::time_point now, std::vector<float>* out);

  // The most frames, up to `wanted`, that a read at `rate` makes from `fifo_frames` without
  // silence for a late writer: all of them while the FIFO fills up after a start or a stall, when
  // the read plays silence anyway.
  uint64_t FramesReady(uint64_t fifo_frames, uint32_t rate, uint64_t wanted) const;

  const DriftFollower& follower() const { return follower_; }

 private:
  LinearResampler resampler_;
  DriftFollower follower_;
  // The speed of the next read, sized for before the read: a change the follower makes during a
  // read takes effect with the one after, or the read would take other frames than it was sized
  // for.
  double speed_ = 1.0;
};

}  // namespace zennic
