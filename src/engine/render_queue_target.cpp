#include "engine/render_queue_target.h"

#include <algorithm>

namespace zennic {
namespace {

constexpr auto kLoweringPause = std::chrono::seconds(10);
constexpr auto kLoweringStep = std::chrono::milliseconds(1);
constexpr auto kHysteresis = std::chrono::milliseconds(2);

}  // namespace

RenderQueueTarget::RenderQueueTarget(uint32_t rate, uint64_t period_frames, uint64_t most_frames)
    : rate_(rate), period_(period_frames) {
  most_ = most_frames;
  least_ = std::min(FramesOf(kLeast), most_);
  target_ = least_;
}

uint64_t RenderQueueTarget::FramesOf(Clock::duration duration) const {
  return static_cast<uint64_t>(std::chrono::duration<double>(duration).count() * rate_);
}

bool RenderQueueTarget::Set(Clock::time_point now, uint64_t frames) {
  changed_at_ = now;
  frames = std::clamp(frames, least_, most_);
  if (frames == target_) return false;
  target_ = frames;
  return true;
}

bool RenderQueueTarget::Update(Clock::time_point now, Clock::duration recent_jitter,
                               bool ran_dry) {
  if (ran_dry) return Set(now, target_ + FramesOf(kUnderrunStep));
  const uint64_t need = FramesOf(recent_jitter) + 2 * period_;
  if (need > target_) return Set(now, need);
  if (now - changed_at_ >= kLoweringPause && need + FramesOf(kHysteresis) <= target_ &&
      target_ > least_) {
    return Set(now, target_ - FramesOf(kLoweringStep));
  }
  return false;
}

}  // namespace zennic
