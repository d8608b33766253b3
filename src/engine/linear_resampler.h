#pragma once

#include <cstdint>
#include <vector>

namespace zennic {

class SampleFifo;

// A linear-interpolating resampler of stereo float frames between the engine's 48,000 Hz and
// one endpoint's rate. It keeps its fractional position and the source frames not yet used
// from one buffer to the next, so consecutive buffers join without clicks and no frame is
// gained or lost to rounding however the buffers are cut.
class LinearResampler {
 public:
  static constexpr uint32_t kEngineRate = 48000;

  void Reset();

  // Capture side: takes `frame_count` frames at `source_rate` and appends every 48,000 Hz frame
  // that can be computed so far to `out`.
  void Push(const float* stereo, uint64_t frame_count, uint32_t source_rate,
            std::vector<float>* out);

  // Render side: `frame_count` frames at `target_rate` into `out` (resized to fit), drawn from
  // `fifo`; a dry FIFO gives silence. At 48,000 Hz the frames are the FIFO's own.
  void Pull(SampleFifo* fifo, uint32_t target_rate, uint64_t frame_count, std::vector<float>* out);

  uint64_t pending_frames() const { return pending_.size() / 2; }
  double phase() const { return phase_; }

 private:
  // Interpolates `count` frames starting at the current phase, `step` source frames apart,
  // then moves past the source frames used up.
  void Produce(uint64_t count, double step, float* out);
  // Makes sure that `frames` source frames are pending, reading the missing ones from the FIFO.
  void TopUpFrames(SampleFifo* fifo, uint64_t frames);

  std::vector<float> pending_;  // interleaved stereo source frames
  double phase_ = 0.0;          // position of the next output frame within pending_
};

}  // namespace zennic
