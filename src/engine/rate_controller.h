#pragma once

namespace zennic {

// Follows a writer's clock by a slow change of its reader's speed: a proportional-integral loop on
// the mean level of the FIFO between them over each window, the way an adaptive loopback keeps its
// delay. Its bandwidth: 2 ms of level beyond the target make the reader 500 ppm faster, a time
// constant of 4 s, so that a clock half a per mille off is caught within a couple of
// milliseconds of delay; the integral then takes over the lasting difference within a minute or
// two, without overshoot.
class RateController {
 public:
  // Sound cards keep their rate within 100 ppm, cheap ones within a few hundred: 700 ppm covers
  // them all and is still no change of pitch anyone hears.
  static constexpr double kMaxDeviation = 0.0007;

  void Reset();
  // A window of `seconds` whose mean level stood `error_frames` (48,000 a second) above the
  // target; returns the speed to read at, source frames per nominal frame.
  double Update(double error_frames, double seconds);
  double speed() const { return speed_; }

 private:
  double integral_ = 0.0;  // frame-seconds
  double speed_ = 1.0;
};

}  // namespace zennic
