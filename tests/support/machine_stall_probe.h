#pragma once

#include <sys/types.h>

#include <atomic>
#include <chrono>
#include <map>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace zennic::testing {

// A real-time thread on each core that sleeps two milliseconds at a time and notes each wake-up
// that came late: the times a core was taken from everything on it (a virtual machine's host
// took it), which no thread on it can ride out. One thread a core, since the host takes its
// cores one at a time. Beside them, on a thread of its own, which core each named thread of a
// process was on, so that a break can be laid beside the stops of the core its device's thread
// ran on.
class MachineStallProbe {
 public:
  using Clock = std::chrono::steady_clock;
  struct Stop {
    unsigned core;
    Clock::time_point from;  // the probe's nap began: the core stopped no earlier
    Clock::time_point to;    // the probe woke
    double milliseconds;     // how late it woke: how long the core stopped at the least
  };

  MachineStallProbe();
  ~MachineStallProbe();
  MachineStallProbe(const MachineStallProbe&) = delete;
  MachineStallProbe& operator=(const MachineStallProbe&) = delete;

  // From now on notes which core each thread of process `pid` named one of `names` ran on (as
  // /proc tells, every 2 ms); threads that end and start anew under a name are found again.
  void FollowThreads(pid_t pid, std::vector<std::string> names);

  // Stops of any core of at least `milliseconds` since the probe started.
  std::vector<Stop> StopsOver(double milliseconds) const;
  // The stops that overlap [from, to] of the core the thread named `name` was on as each began
  // (or came to while it lasted).
  std::vector<Stop> StopsUnder(const std::string& name, Clock::time_point from,
                               Clock::time_point to) const;

 private:
  // From `at` on, the thread was seen on `core`.
  struct Placement {
    Clock::time_point at;
    unsigned core;
  };

  void WatchCore(unsigned core);
  void FollowThreadsMain(pid_t pid, std::vector<std::string> names);

  std::atomic<bool> ending_{false};
  mutable std::mutex mutex_;
  std::vector<Stop> stops_;
  std::map<std::string, std::vector<Placement>> placements_;
  std::vector<std::thread> threads_;
};

}  // namespace zennic::testing
