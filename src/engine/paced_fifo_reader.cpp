#include "engine/paced_fifo_reader.h"

namespace zennic {

void PacedFifoReader::Reset() {
  resampler_.Reset();
  follower_.Reset();
  speed_ = 1.0;
}

void PacedFifoReader::ResetRun() {
  Reset();
  follower_.ResetRun();
}

uint64_t PacedFifoReader::FramesReady(uint64_t fifo_frames, uint32_t rate, uint64_t wanted) const {
  if (follower_.holding()) return wanted;
  return resampler_.FramesProducible(fifo_frames, rate, wanted, speed_);
}

DriftFollower::Decision PacedFifoReader::Read(SampleFifo* fifo, uint32_t rate,
                                              uint64_t frame_count,
                                              SampleFifo::Clock::time_point now,
                                              std::vector<float>* out) {
  DriftFollower::Decision decision = follower_.BeforeRead(
      now, fifo->GetFill(), resampler_.FramesNeeded(rate, frame_count, speed_));
  if (decision.drop_frames > 0) fifo->DropOldest(decision.drop_frames);
  if (decision.hold) {
    // The alignment after it starts afresh: what the resampler holds from before the hold would
    // play ahead of the new audio.
    resampler_.Reset();
    out->assign(2 * frame_count, 0.0f);
  } else {
    decision.short_frames = resampler_.Pull(fifo, rate, frame_count, out, speed_);
  }
  speed_ = follower_.speed();
  return decision;
}

}  // namespace zennic
