#include "engine/adaptive_target.h"

#include <algorithm>

namespace zennic {

AdaptiveTarget::AdaptiveTarget(const Shape& shape, uint32_t rate) : rate_(rate), shape_(shape) {
  most_ = FramesOf(shape.most);
  floor_ = std::min(FramesOf(shape.floor), most_);
  target_ = floor_;
}

uint64_t AdaptiveTarget::FramesOf(Clock::duration duration) const {
  return static_cast<uint64_t>(std::chrono::duration<double>(duration).count() * rate_);
}

void AdaptiveTarget::Reset() {
  target_ = floor_;
  broke_at_ = {};
  lowered_at_ = {};
}

void AdaptiveTarget::LimitTo(uint64_t frames) {
  most_ = std::min(most_, frames);
  floor_ = std::min(floor_, most_);
  target_ = std::min(target_, most_);
}

bool AdaptiveTarget::Grow(Clock::time_point now, uint64_t missing_frames) {
  broke_at_ = now;
  const uint64_t growth = std::clamp(missing_frames, FramesOf(shape_.least_growth),
                                     FramesOf(shape_.most_growth));
  const uint64_t target = std::min(most_, target_ + growth);
  if (target == target_) return false;
  target_ = target;
  return true;
}

bool AdaptiveTarget::Settle(Clock::time_point now) {
  if (target_ <= floor_ || now - broke_at_ < shape_.quiet || now - lowered_at_ < shape_.pause) {
    return false;
  }
  lowered_at_ = now;
  target_ = std::max(floor_, target_ - std::min(target_, FramesOf(shape_.step)));
  return true;
}

}  // namespace zennic
