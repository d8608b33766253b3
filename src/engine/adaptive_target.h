#pragma once

#include <chrono>
#include <cstdint>

namespace zennic {

// What one boundary of the audio road keeps in hand against lateness: the audio a FIFO's reader
// keeps waiting beyond what it reads (its margin), or the audio an output keeps queued on its
// device. One policy for both: it starts at its floor, grows at once when its audio broke, by
// what was missing (at least a step, at most a cap), and comes back down a step at a time, a pause
// apart, only once no break has come for a quiet time. A break says what the boundary needs; only
// a long quiet says it needs less, so that it does not swing with every break.
class AdaptiveTarget {
 public:
  using Clock = std::chrono::steady_clock;

  struct Shape {
    Clock::duration floor;
    Clock::duration most;
    Clock::duration least_growth;
    Clock::duration most_growth;
    Clock::duration quiet;  // without a break before the first step down
    Clock::duration pause;  // between two steps down
    Clock::duration step;   // one step down
  };

  // `rate`: the boundary's frames a second.
  AdaptiveTarget(const Shape& shape, uint32_t rate);

  // The floor again, as at a run's start.
  void Reset();
  // Never beyond this many frames (a device buffer's room), nor the shape's most.
  void LimitTo(uint64_t frames);
  // The audio broke for want of `missing_frames`. True when the target changed.
  bool Grow(Clock::time_point now, uint64_t missing_frames);
  // Now and then: a step down once the quiet time has passed. True when the target changed.
  bool Settle(Clock::time_point now);

  uint64_t frames() const { return target_; }
  uint64_t floor_frames() const { return floor_; }

 private:
  uint64_t FramesOf(Clock::duration duration) const;

  uint32_t rate_;
  Shape shape_;
  uint64_t floor_;
  uint64_t most_;
  uint64_t target_;
  Clock::time_point broke_at_;
  Clock::time_point lowered_at_;
};

}  // namespace zennic
