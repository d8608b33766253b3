#include "engine/rate_controller.h"

#include <algorithm>

namespace zennic {
namespace {

constexpr double kFramesPerSecond = 48000.0;
// 2 ms (96 frames) beyond the target give 500 ppm: 1 / (48,000 x 4 s) per frame.
constexpr double kProportionalGain = 1.0 / (kFramesPerSecond * 4.0);
// A fortieth of it: the integral settles over minutes, well below the loop's own bandwidth, so
// that it never rings.
constexpr double kIntegralGain = kProportionalGain / 40.0;

}  // namespace

void RateController::Reset() {
  integral_ = 0.0;
  speed_ = 1.0;
}

double RateController::Update(double error_frames, double seconds) {
  const double integral_limit = kMaxDeviation / kIntegralGain;
  integral_ = std::clamp(integral_ + error_frames * seconds, -integral_limit, integral_limit);
  speed_ = 1.0 + std::clamp(kProportionalGain * error_frames + kIntegralGain * integral_,
                            -kMaxDeviation, kMaxDeviation);
  return speed_;
}

}  // namespace zennic
