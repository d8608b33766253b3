#pragma once

#include <chrono>
#include <cstdint>

namespace zennic {

// How much audio a render thread keeps queued on its device: the device's margin against the
// thread's own lateness. It starts at kLeast, covers the widest recent spread of the thread's
// requests and two device periods more (what the device takes in one go, and a guard), grows by
// kUnderrunStep at once whenever the device ran dry, and comes down a millisecond at a time,
// ten seconds apart, while the measured jitter leaves two milliseconds to spare.
class RenderQueueTarget {
 public:
  using Clock = std::chrono::steady_clock;

  static constexpr auto kLeast = std::chrono::milliseconds(20);
  static constexpr auto kUnderrunStep = std::chrono::milliseconds(5);

  // `rate`: the device's frames a second; `most_frames`: the device buffer's capacity less a
  // period, beyond which the target never goes.
  RenderQueueTarget(uint32_t rate, uint64_t period_frames, uint64_t most_frames);

  // After each pass: the thread's request jitter lately, and whether the device ran dry since
  // the last pass. True when the target changed.
  bool Update(Clock::time_point now, Clock::duration recent_jitter, bool ran_dry);

  uint64_t frames() const { return target_; }

 private:
  uint64_t FramesOf(Clock::duration duration) const;
  bool Set(Clock::time_point now, uint64_t frames);

  uint32_t rate_;
  uint64_t period_;
  uint64_t least_;
  uint64_t most_;
  uint64_t target_;
  Clock::time_point changed_at_;
};

}  // namespace zennic
