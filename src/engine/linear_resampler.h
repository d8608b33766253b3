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
  // Room for buffers of up to `frames` frames at any rate up to twice the engine's, made
  // before an audio thread's loop so that the loop never allocates.
  void Reserve(uint64_t frames);

  // Capture side: takes `frame_count` frames at `source_rate` and appends every 48,000 Hz frame
  // that can be computed so far to `out`.
  void Push(const float* stereo, uint64_t frame_count, uint32_t source_rate,
            std::vector<float>* out);

  // Reading side: `frame_count` frames at `target_rate` into `out` (resized to fit), drawn from
  // `fifo` `speed` times as fast as the rates alone would (a clock follower's correction); a dry
  // FIFO gives silence. Returns how many source frames the FIFO lacked. At 48,000 Hz and speed 1
  // the frames are the FIFO's own.
  uint64_t Pull(SampleFifo* fifo, uint32_t target_rate, uint64_t frame_count,
                std::vector<float>* out, double speed = 1.0);

  // How many frames the next Pull with these arguments takes from its FIFO.
  uint64_t FramesNeeded(uint32_t target_rate, uint64_t frame_count, double speed) const;
  // The most frames, up to `wanted`, that a Pull can make from `fifo_frames` without silence.
  uint64_t FramesProducible(uint64_t fifo_frames, uint32_t target_rate, uint64_t wanted,
                            double speed) const;

  uint64_t pending_frames() const { return pending_.size() / 2; }
  double phase() const { return phase_; }

 private:
  // Interpolates `count` frames starting at the current phase, `step` source frames apart,
  // then moves past the source frames used up.
  void Produce(uint64_t count, double step, float* out);
  bool PassesThrough(uint32_t target_rate, double speed) const;
  // The source frames the interpolation of `frame_count` frames reaches, the one after included.
  uint64_t FramesSpanned(uint64_t frame_count, double step) const;
  // Makes sure that `frames` source frames are pending, reading the missing ones from the FIFO;
  // returns how many it lacked.
  uint64_t TopUpFrames(SampleFifo* fifo, uint64_t frames);

  std::vector<float> pending_;  // interleaved stereo source frames
  double phase_ = 0.0;          // position of the next output frame within pending_
};

}  // namespace zennic
