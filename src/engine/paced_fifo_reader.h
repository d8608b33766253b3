#pragma once

#include <chrono>
#include <cstdint>
#include <vector>

#include "engine/drift_follower.h"
#include "engine/linear_resampler.h"
#include "engine/sample_fifo.h"

namespace zennic {

// The reading side of a FIFO whose writer runs on another clock: frames at the reader's rate,
// drawn at the pace a drift follower sets, so that the delay stays steady and nothing is
// skipped or padded while the writer delivers.
class PacedFifoReader {
 public:
  explicit PacedFifoReader(uint64_t margin_frames) : follower_(margin_frames) {}

  void Reset();

  // `frame_count` stereo frames at `rate` into `out` (resized to fit), silence while the FIFO
  // fills up after a start or a stall. Returns the follower's decision, with the stall this read
  // realigned after or the late delivery it made room for.
  DriftFollower::Decision Read(SampleFifo* fifo, uint32_t rate, uint64_t frame_count,
                               SampleFifo::Clock::time_point now, std::vector<float>* out);

  // How many of `wanted` frames a read could make now from what the FIFO holds: all of them
  // while the FIFO fills up (the read plays silence then). A reader that can wait for a writer
  // a little late reads no more than these.
  uint64_t FramesReady(const SampleFifo& fifo, uint32_t rate, uint64_t wanted) const;

  uint64_t margin_frames() const { return follower_.margin_frames(); }

 private:
  LinearResampler resampler_;
  DriftFollower follower_;
  double speed_ = 1.0;
};

}  // namespace zennic
