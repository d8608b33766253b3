#include "support/machine_stall_probe.h"

#include <pthread.h>
#include <sched.h>

#include <algorithm>
#include <cmath>
#include <cstdio>

namespace zennic::testing {
namespace {

using Clock = std::chrono::steady_clock;

constexpr auto kNap = std::chrono::milliseconds(2);
constexpr double kNotedLateness = 5.0;  // ms past the nap
constexpr double kNearBreakSeconds = 1.0;

double Milliseconds(Clock::duration duration) {
  return std::chrono::duration<double, std::milli>(duration).count();
}

}  // namespace

MachineStallProbe::MachineStallProbe() {
  for (unsigned core = 0; core < std::max(1u, std::thread::hardware_concurrency()); ++core) {
    threads_.emplace_back([this, core] { Run(core); });
  }
}

MachineStallProbe::~MachineStallProbe() {
  stop_ = true;
  for (std::thread& thread : threads_) thread.join();
}

void MachineStallProbe::Run(unsigned core) {
  cpu_set_t cores;
  CPU_ZERO(&cores);
  CPU_SET(core, &cores);
  pthread_setaffinity_np(pthread_self(), sizeof cores, &cores);
  // At the audio threads' own priority, so it is held up only when they could be.
  sched_param priority{};
  priority.sched_priority = 10;
  pthread_setschedparam(pthread_self(), SCHED_FIFO, &priority);
  while (!stop_.load(std::memory_order_relaxed)) {
    Clock::time_point asleep = Clock::now();
    std::this_thread::sleep_for(kNap);
    Clock::time_point awake = Clock::now();
    double late = Milliseconds(awake - asleep - kNap);
    if (late >= kNotedLateness) {
      std::lock_guard<std::mutex> lock(mutex_);
      stalls_.push_back({awake, late});
    }
  }
}

std::vector<MachineStallProbe::Stall> MachineStallProbe::StallsOver(double milliseconds) const {
  std::lock_guard<std::mutex> lock(mutex_);
  std::vector<Stall> over;
  for (const Stall& stall : stalls_) {
    if (stall.milliseconds >= milliseconds) over.push_back(stall);
  }
  return over;
}

std::string MachineStallProbe::TakeOutBreaksAtStalls(ToneBreaks* breaks, double recording_seconds,
                                                     Clock::time_point recording_end,
                                                     double milliseconds) const {
  std::vector<double> stalls_at;  // seconds into the recording
  std::string described;
  for (const Stall& stall : StallsOver(milliseconds)) {
    double at = recording_seconds - Milliseconds(recording_end - stall.at) / 1000.0;
    if (at < -kNearBreakSeconds || at > recording_seconds + kNearBreakSeconds) continue;
    stalls_at.push_back(at);
    char text[64];
    std::snprintf(text, sizeof text, "%s%.0f ms at %.3f s", described.empty() ? "" : ", ",
                  stall.milliseconds, at);
    described += text;
  }
  auto near_stall = [&](double seconds) {
    return std::any_of(stalls_at.begin(), stalls_at.end(), [&](double at) {
      return std::abs(seconds - at) <= kNearBreakSeconds;
    });
  };
  ToneBreaks taken;
  std::erase_if(breaks->discontinuities, [&](double at) {
    if (!near_stall(at)) return false;
    taken.discontinuities.push_back(at);
    return true;
  });
  std::erase_if(breaks->silences, [&](const ToneBreaks::Silence& silence) {
    if (!near_stall(silence.at_seconds)) return false;
    taken.silences.push_back(silence);
    return true;
  });
  if (taken.empty()) return "";
  return taken.Describe() + " while a core of the machine stopped (" + described + ")";
}

}  // namespace zennic::testing
