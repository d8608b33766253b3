#include "support/machine_stall_probe.h"

#include <fcntl.h>
#include <pthread.h>
#include <sched.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <optional>

namespace zennic::testing {
namespace {

using Clock = MachineStallProbe::Clock;

constexpr auto kNap = std::chrono::milliseconds(2);
constexpr double kNotedLateness = 5.0;  // ms past the nap
// Threads come and go as devices do; a new one is found within this.
constexpr auto kThreadSearchPause = std::chrono::milliseconds(100);

double Milliseconds(Clock::duration duration) {
  return std::chrono::duration<double, std::milli>(duration).count();
}

void RunAtRealtimePriority(int priority) {
  sched_param param{};
  param.sched_priority = priority;
  pthread_setschedparam(pthread_self(), SCHED_FIFO, &param);
}

std::optional<std::string> ReadSmallFile(const std::string& path) {
  int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return std::nullopt;
  char buffer[1024];
  ssize_t got = ::read(fd, buffer, sizeof buffer - 1);
  ::close(fd);
  if (got <= 0) return std::nullopt;
  return std::string(buffer, static_cast<size_t>(got));
}

// Field 39 of /proc/<pid>/task/<tid>/stat, the core the thread last ran on; the fields start
// after the name's closing parenthesis with field 3.
std::optional<unsigned> ProcessorOf(const std::string& stat) {
  size_t at = stat.rfind(')');
  if (at == std::string::npos) return std::nullopt;
  for (int field = 2; field < 39; ++field) {
    at = stat.find(' ', at + 1);
    if (at == std::string::npos) return std::nullopt;
  }
  return static_cast<unsigned>(std::strtoul(stat.c_str() + at + 1, nullptr, 10));
}

}  // namespace

MachineStallProbe::MachineStallProbe() {
  for (unsigned core = 0; core < std::max(1u, std::thread::hardware_concurrency()); ++core) {
    threads_.emplace_back([this, core] { WatchCore(core); });
  }
}

MachineStallProbe::~MachineStallProbe() {
  ending_ = true;
  for (std::thread& thread : threads_) thread.join();
}

void MachineStallProbe::WatchCore(unsigned core) {
  cpu_set_t cores;
  CPU_ZERO(&cores);
  CPU_SET(core, &cores);
  pthread_setaffinity_np(pthread_self(), sizeof cores, &cores);
  // At the audio threads' own priority, so it is held up only when they could be.
  RunAtRealtimePriority(10);
  while (!ending_.load(std::memory_order_relaxed)) {
    Clock::time_point asleep = Clock::now();
    std::this_thread::sleep_for(kNap);
    Clock::time_point awake = Clock::now();
    double late = Milliseconds(awake - asleep - kNap);
    if (late >= kNotedLateness) {
      std::lock_guard lock(mutex_);
      stops_.push_back({core, asleep, awake, late});
    }
  }
}

void MachineStallProbe::FollowThreads(pid_t pid, std::vector<std::string> names) {
  threads_.emplace_back([this, pid, names = std::move(names)] { FollowThreadsMain(pid, names); });
}

void MachineStallProbe::FollowThreadsMain(pid_t pid, std::vector<std::string> names) {
  // Real-time, below the audio threads, so that a loaded machine does not hold the samples up.
  RunAtRealtimePriority(1);
  const std::string tasks = "/proc/" + std::to_string(pid) + "/task/";
  std::map<std::string, std::string> followed;  // stat file, thread name
  Clock::time_point next_search;
  while (!ending_.load(std::memory_order_relaxed)) {
    Clock::time_point now = Clock::now();
    if (now >= next_search) {
      next_search = now + kThreadSearchPause;
      std::error_code error;
      for (std::filesystem::directory_iterator task(tasks, error), end; !error && task != end;
           task.increment(error)) {
        std::optional<std::string> comm = ReadSmallFile(task->path() / "comm");
        if (!comm) continue;
        comm->erase(comm->find_last_not_of('\n') + 1);
        if (std::find(names.begin(), names.end(), *comm) != names.end()) {
          followed[task->path() / "stat"] = *comm;
        }
      }
    }
    for (auto thread = followed.begin(); thread != followed.end();) {
      std::optional<std::string> stat = ReadSmallFile(thread->first);
      std::optional<unsigned> core = stat ? ProcessorOf(*stat) : std::nullopt;
      if (!core) {
        thread = followed.erase(thread);
        continue;
      }
      std::lock_guard lock(mutex_);
      std::vector<Placement>& seen = placements_[thread->second];
      if (seen.empty() || seen.back().core != *core) seen.push_back({now, *core});
      ++thread;
    }
    std::this_thread::sleep_for(kNap);
  }
}

std::vector<MachineStallProbe::Stop> MachineStallProbe::StopsOver(double milliseconds) const {
  std::lock_guard lock(mutex_);
  std::vector<Stop> over;
  for (const Stop& stop : stops_) {
    if (stop.milliseconds >= milliseconds) over.push_back(stop);
  }
  return over;
}

std::vector<MachineStallProbe::Stop> MachineStallProbe::StopsUnder(const std::string& name,
                                                                   Clock::time_point from,
                                                                   Clock::time_point to) const {
  std::lock_guard lock(mutex_);
  std::vector<Stop> under;
  auto seen = placements_.find(name);
  if (seen == placements_.end()) return under;
  const std::vector<Placement>& placements = seen->second;
  for (const Stop& stop : stops_) {
    if (stop.to < from || stop.from > to) continue;
    // The placement in force as the stop began, and those that came while it lasted.
    auto first = std::upper_bound(
        placements.begin(), placements.end(), stop.from,
        [](Clock::time_point at, const Placement& placement) { return at < placement.at; });
    if (first != placements.begin()) --first;
    for (auto placement = first; placement != placements.end() && placement->at <= stop.to;
         ++placement) {
      if (placement->core == stop.core) {
        under.push_back(stop);
        break;
      }
    }
  }
  return under;
}

}  // namespace zennic::testing
