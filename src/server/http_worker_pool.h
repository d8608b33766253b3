#pragma once

#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <deque>
#include <functional>
#include <list>
#include <mutex>
#include <thread>

namespace zennic {

// Runs tasks on threads of their own, up to a limit; further tasks wait their turn. A thread
// stays a moment for the next task and ends once idle, so a quiet server keeps none.
class HttpWorkerPool {
 public:
  HttpWorkerPool(size_t max_threads, std::chrono::milliseconds idle_life);
  ~HttpWorkerPool();
  HttpWorkerPool(const HttpWorkerPool&) = delete;
  HttpWorkerPool& operator=(const HttpWorkerPool&) = delete;

  // False when no thread runs and none could be started: the task was not taken.
  bool Post(std::function<void()> task);
  // Drops the tasks still waiting, lets the running ones finish and joins every thread. The
  // pool takes tasks again afterwards.
  void Stop();

 private:
  struct Worker {
    std::thread thread;
    bool ended = false;
  };

  void Run(Worker* self);
  // The caller holds the lock. An ended thread takes the lock no more, so it can be joined.
  void JoinEnded();

  const size_t max_threads_;
  const std::chrono::milliseconds idle_life_;
  std::mutex mutex_;
  std::condition_variable task_waiting_;
  std::deque<std::function<void()>> tasks_;
  std::list<Worker> workers_;
  size_t running_ = 0;
  size_t idle_ = 0;
  bool stopping_ = false;
};

}  // namespace zennic
