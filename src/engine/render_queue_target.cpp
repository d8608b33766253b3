#include "engine/render_queue_target.h"

#include <algorithm>

namespace zennic {
namespace {

constexpr auto kQuietTime = std::chrono::seconds(30);
constexpr auto kLoweringPause = std::chrono::seconds(10);
constexpr auto kLoweringStep = std::chrono::milliseconds(1);

}  // namespace

RenderQueueTarget::RenderQueueTarget(uint32_t rate, uint64_t most_frames)
    : rate_(rate), most_(most_frames) {
  steady_ = std::min(FramesOf(kSteady), most_);
  target_ = steady_;
}

uint64_t RenderQueueTarget::FramesOf(Clock::duration duration) const {
  return static_cast<uint64_t>(std::chrono::duration<double>(duration).count() * rate_);
}

bool RenderQueueTarget::Update(Clock::time_point now, bool ran_dry) {
  uint64_t target = target_;
  if (ran_dry) {
    ran_dry_at_ = now;
    target = std::min(most_, target_ + FramesOf(kUnderrunStep));
  } else if (target_ > steady_ && now - ran_dry_at_ >= kQuietTime &&
             now - lowered_at_ >= kLoweringPause) {
    lowered_at_ = now;
    target = std::max(steady_, target_ - std::min(target_, FramesOf(kLoweringStep)));
  }
  if (target == target_) return false;
  target_ = target;
  return true;
}

}  // namespace zennic
