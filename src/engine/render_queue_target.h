#pragma once

#include <chrono>
#include <cstdint>

namespace zennic {

// How much audio a render thread keeps queued on its device: the device's margin against the
// thread's own lateness, measured where it counts, by the device running dry. It keeps kSteady,
// grows by kUnderrunStep at once whenever the device ran dry, and comes back down a
// millisecond at a time, ten seconds apart, once half a minute has passed without. A
// step, not the length of the stall behind it: what the queue grows by must come from the mixer
// at once, and from the microphone behind it.
class RenderQueueTarget {
 public:
  using Clock = std::chrono::steady_clock;

  // On the machines measured a thread is held up for 15 to 20 ms several times a minute; this
  // virtual machine also stops whole, every core at once, every 20 to 60 seconds, mostly for 10
  // to 25 ms and a few times in ten minutes for 33 to 40 ms (a real-time probe on each core, quiet
  // and while building). After such a stop the device takes all it missed at once, and it must
  // find that queued, beside the few milliseconds its server renders ahead: with 40 ms the
  // listening test broke at a 40 ms stop in two runs of three within minutes. Since the mix
  // waits for a late microphone rather than play silence, the queue covers the microphone's
  // lateness too. A run keeps this from its start, so that its delay stays the same.
  static constexpr auto kSteady = std::chrono::milliseconds(50);
  static constexpr auto kUnderrunStep = std::chrono::milliseconds(5);

  // `rate`: the device's frames a second; `most_frames`: the device buffer's capacity less a
  // period, beyond which the target never goes.
  RenderQueueTarget(uint32_t rate, uint64_t most_frames);

  // After each pass: whether the device ran dry since the last one. True when the target changed.
  bool Update(Clock::time_point now, bool ran_dry);

  uint64_t frames() const { return target_; }

 private:
  uint64_t FramesOf(Clock::duration duration) const;
  bool Set(Clock::time_point now, uint64_t frames);

  uint32_t rate_;
  uint64_t steady_;
  uint64_t most_;
  uint64_t target_;
  Clock::time_point ran_dry_at_;
  Clock::time_point lowered_at_;
};

}  // namespace zennic
