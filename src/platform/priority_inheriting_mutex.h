#pragma once

#include <memory>

namespace zennic {

// A mutex that an audio thread shares with ordinary threads. While an audio thread waits for it,
// the thread holding it runs at the waiter's priority: on a busy machine an ordinary thread can
// lose its processor for tens of milliseconds in the middle of a short section, and the audio
// thread would wait all that time. Lockable, so std::lock_guard, std::unique_lock and
// std::condition_variable_any take it.
class PriorityInheritingMutex {
 public:
  PriorityInheritingMutex();
  ~PriorityInheritingMutex();
  PriorityInheritingMutex(const PriorityInheritingMutex&) = delete;
  PriorityInheritingMutex& operator=(const PriorityInheritingMutex&) = delete;

  void lock();
  bool try_lock();
  void unlock();

 private:
  struct Native;
  std::unique_ptr<Native> native_;
};

}  // namespace zennic
