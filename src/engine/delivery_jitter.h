#pragma once

#include <array>
#include <atomic>
#include <chrono>
#include <cstdint>

namespace zennic {

// How unevenly one side of a FIFO keeps its pace: a device handing over audio, a device asking
// for it, the mixer's ticks. Each event is placed against the stream's own position (its time
// less the frames so far at 48,000 a second), and the jitter of a second is how far those
// places spread within it: a delivery later than the rest, or a request earlier. Seconds are
// short enough that clocks a little off do not count as jitter (700 ppm is 0.7 ms a second).
//
// One thread notes events; any thread may read the figures.
class DeliveryJitter {
 public:
  using Clock = std::chrono::steady_clock;
  // How many past seconds the recent peak looks back on.
  static constexpr int kRecentSeconds = 30;

  DeliveryJitter() { Reset(); }
  DeliveryJitter(const DeliveryJitter&) = delete;
  DeliveryJitter& operator=(const DeliveryJitter&) = delete;

  // Forgets the stream's position and the recent seconds; the run's figures stay.
  void Restart();
  // Forgets everything: a new run.
  void Reset();

  // An event at `at` that brings the stream to `position_frames`.
  void Note(Clock::time_point at, uint64_t position_frames);

  // The widest spread of any of the last kRecentSeconds seconds, the current one included.
  Clock::duration RecentPeak() const;
  // The widest spread of any second of the run, and the median second's.
  Clock::duration RunPeak() const;
  Clock::duration RunMedian() const;

 private:
  static constexpr int kBinMicroseconds = 250;
  static constexpr int kBins = 200;  // up to 50 ms

  void CloseSecond();

  // The noting thread's own.
  bool started_ = false;
  Clock::time_point second_start_;
  int64_t lowest_us_ = 0;
  int64_t highest_us_ = 0;
  std::array<int64_t, kRecentSeconds> recent_us_{};
  int recent_next_ = 0;

  std::atomic<int64_t> current_us_{0};
  std::atomic<int64_t> recent_peak_us_{0};
  std::atomic<int64_t> run_peak_us_{0};
  // Seconds of the run by their spread, kBinMicroseconds a bin; the last bin takes the rest.
  std::array<std::atomic<uint32_t>, kBins> seconds_by_spread_{};
};

}  // namespace zennic
