#pragma once

#include <array>
#include <atomic>
#include <chrono>
#include <cstdint>

namespace zennic {

// Tells a writer that stopped from one that is only late, or whose own thread (or the whole
// machine) was held up. Fed by the writer's thread after each of its passes, it calls the writer
// stalled once that thread, passing on time, has found nothing to hand over for longer than the
// writer's usual spacing and an allowance. Time in which the thread did not run counts for
// nothing: nobody saw the device meanwhile, and the thread's next pass tells what it did.
//
// One thread notes passes; any thread may ask.
class StallDetector {
 public:
  using Clock = std::chrono::steady_clock;

  // `allowance`: how far a delivery may come behind the writer's usual spacing before the writer
  // counts as stopped.
  explicit StallDetector(Clock::duration allowance) : allowance_(allowance) {}

  // A new start of the writer's thread; `on_time_gap`: the longest gap between two passes of a
  // thread that runs on time (its longest wait for the device, and a little more).
  void Reset(Clock::duration on_time_gap);
  // After each pass at `at`, with the frames (48,000 a second) it handed over; `seen_until`: up to
  // when the system is known to have looked at the device since the last pass: not at all when
  // its own service was held up, and only until the sound server was last seen running when the
  // server carries the device (a server that stands still holds the audio back, not the device).
  void NotePass(Clock::time_point at, uint64_t frames, Clock::time_point seen_until);
  void NotePass(Clock::time_point at, uint64_t frames) { NotePass(at, frames, at); }
  // The writer's thread ended (its device went away): stopped until a thread starts anew.
  void NoteEnd() { stalled_.store(true, std::memory_order_release); }
  // The system told that the writer's device is suspended: stopped from now until its next
  // delivery, without waiting out the allowance.
  void NoteSuspended();
  bool stalled() const { return stalled_.load(std::memory_order_acquire); }

 private:
  Clock::duration allowance_;
  Clock::duration on_time_gap_{};
  bool passed_ = false;
  Clock::time_point last_pass_;
  // Time on time since the last delivery.
  Clock::duration quiet_{};
  bool suspended_ = false;
  // The latest deliveries; the spacing is the second largest, so one burst (a catch-up) does not
  // count as the writer's own.
  std::array<uint64_t, 8> recent_{};
  size_t next_ = 0;
  std::atomic<bool> stalled_{false};
};

}  // namespace zennic
