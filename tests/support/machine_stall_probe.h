#pragma once

#include <atomic>
#include <chrono>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "support/tone_continuity.h"

namespace zennic::testing {

// A real-time thread on each core that sleeps two milliseconds at a time and notes each wake-up
// that came late: the times a core was taken from everything on it (a virtual machine's host
// took it), which no player on it can ride out once they exceed what it keeps queued. One
// thread a core, since the host takes its cores one at a time.
class MachineStallProbe {
 public:
  struct Stall {
    std::chrono::steady_clock::time_point at;  // when the late wake-up came
    double milliseconds;
  };

  MachineStallProbe();
  ~MachineStallProbe();
  MachineStallProbe(const MachineStallProbe&) = delete;
  MachineStallProbe& operator=(const MachineStallProbe&) = delete;

  // Stalls of any core of at least `milliseconds` since the probe started.
  std::vector<Stall> StallsOver(double milliseconds) const;

  // The breaks of a recording that ended at `recording_end` that lie within a second of a stall
  // of at least `milliseconds`, taken out of `breaks` and described ("" when none were).
  std::string TakeOutBreaksAtStalls(ToneBreaks* breaks, double recording_seconds,
                                    std::chrono::steady_clock::time_point recording_end,
                                    double milliseconds) const;

 private:
  void Run(unsigned core);

  std::atomic<bool> stop_{false};
  mutable std::mutex mutex_;
  std::vector<Stall> stalls_;
  std::vector<std::thread> threads_;
};

}  // namespace zennic::testing
