#pragma once

#include <chrono>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <vector>

#include "engine/raw_input_window.h"

namespace zennic::testing {

// Collects the events a callback receives on another thread.
class RawKeyEventRecorder {
 public:
  std::function<void(const RawKeyEvent&)> Callback() {
    return [this](const RawKeyEvent& event) {
      std::lock_guard lock(mutex_);
      events_.push_back(event);
      changed_.notify_all();
    };
  }

  // Waits until `count` events have arrived (or the time is up) and returns all of them.
  std::vector<RawKeyEvent> WaitFor(size_t count,
                                   std::chrono::milliseconds timeout = std::chrono::seconds(10)) {
    std::unique_lock lock(mutex_);
    changed_.wait_for(lock, timeout, [&] { return events_.size() >= count; });
    return events_;
  }

  void Clear() {
    std::lock_guard lock(mutex_);
    events_.clear();
  }

 private:
  std::mutex mutex_;
  std::condition_variable changed_;
  std::vector<RawKeyEvent> events_;
};

}  // namespace zennic::testing
