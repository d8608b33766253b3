#include "engine/stall_detector.h"

#include <algorithm>
#include <functional>

namespace zennic {

void StallDetector::Reset(Clock::duration on_time_gap) {
  on_time_gap_ = on_time_gap;
  passed_ = false;
  quiet_ = {};
  suspended_ = false;
  recent_.fill(0);
  next_ = 0;
  stalled_.store(false, std::memory_order_release);
}

void StallDetector::NotePass(Clock::time_point at, uint64_t frames, Clock::time_point seen_until) {
  const Clock::duration gap = passed_ ? at - last_pass_ : Clock::duration{};
  const Clock::duration seen = passed_ && seen_until > last_pass_
                                   ? std::min(at, seen_until) - last_pass_
                                   : Clock::duration{};
  passed_ = true;
  last_pass_ = at;
  if (frames > 0) {
    recent_[next_] = frames;
    next_ = (next_ + 1) % recent_.size();
    quiet_ = {};
    suspended_ = false;
    stalled_.store(false, std::memory_order_release);
    return;
  }
  if (gap <= on_time_gap_) quiet_ += seen;
  std::array<uint64_t, 8> sorted = recent_;
  std::nth_element(sorted.begin(), sorted.begin() + 1, sorted.end(), std::greater<>());
  const auto spacing = std::chrono::duration_cast<Clock::duration>(
      std::chrono::duration<double>(static_cast<double>(sorted[1]) / 48000.0));
  stalled_.store(suspended_ || quiet_ > spacing + allowance_, std::memory_order_release);
}

void StallDetector::NoteSuspended() {
  suspended_ = true;
  stalled_.store(true, std::memory_order_release);
}

}  // namespace zennic
