#pragma once

#include <chrono>
#include <cstdint>

namespace zennic {

// What a render thread tells of its device from pass to pass: whether the device ran dry since
// the last pass and how much silence it played, and how long the thread itself paused between
// passes lately (a long pause says the thread came late, a short one that the device's side took
// the audio faster than it plays).
class OutputDryWatch {
 public:
  using Clock = std::chrono::steady_clock;

  // `rate`: the device's frames a second.
  OutputDryWatch(uint32_t rate, Clock::time_point start);

  // At each pass, before writing: the frames found queued, and whether the device told of running
  // dry since the last pass. Returns the silence it played meanwhile, in its frames: from when
  // what was written last ran out by the clock, or a millisecond when the device alone told of it
  // (the queue it reports may have caught up already).
  uint64_t Pass(Clock::time_point now, uint64_t queued, bool device_ran_dry);
  // After a write of `frames` that ended at `at`. A thread held up between its pass and its write
  // finds the queue it was told of gone by then: the silence until the write is the next pass's.
  void Wrote(Clock::time_point at, uint64_t frames);

  // The longest pause between two passes over the last quarter to half second.
  std::chrono::milliseconds longest_pause() const;

 private:
  uint64_t FramesSince(Clock::time_point from, Clock::time_point to) const;
  Clock::duration DurationOf(uint64_t frames) const;

  uint32_t rate_;
  bool wrote_ = false;
  uint64_t unseen_ = 0;  // silence that ended with a write, for the next pass
  // When the last write runs out if nothing follows, and up to when silence was already counted.
  Clock::time_point runs_out_at_;
  Clock::time_point counted_until_;
  Clock::time_point last_pass_;
  Clock::time_point pauses_since_;
  Clock::duration longest_pause_{};
  Clock::duration longest_pause_before_{};
};

}  // namespace zennic
