#include "server/http_worker_pool.h"

#include <system_error>

namespace zennic {

HttpWorkerPool::HttpWorkerPool(size_t max_threads, std::chrono::milliseconds idle_life)
    : max_threads_(max_threads), idle_life_(idle_life) {}

HttpWorkerPool::~HttpWorkerPool() { Stop(); }

bool HttpWorkerPool::Post(std::function<void()> task) {
  std::lock_guard<std::mutex> lock(mutex_);
  JoinEnded();
  tasks_.push_back(std::move(task));
  if (tasks_.size() > idle_ && running_ < max_threads_) {
    Worker& worker = workers_.emplace_back();
    try {
      worker.thread = std::thread(&HttpWorkerPool::Run, this, &worker);
      ++running_;
    } catch (const std::system_error&) {
      workers_.pop_back();
      if (running_ == 0) {
        tasks_.pop_back();
        return false;
      }
    }
  }
  task_waiting_.notify_one();
  return true;
}

void HttpWorkerPool::Run(Worker* self) {
  std::unique_lock<std::mutex> lock(mutex_);
  for (;;) {
    ++idle_;
    bool woken = task_waiting_.wait_for(lock, idle_life_,
                                        [this] { return stopping_ || !tasks_.empty(); });
    --idle_;
    if (stopping_ || !woken) break;
    std::function<void()> task = std::move(tasks_.front());
    tasks_.pop_front();
    lock.unlock();
    task();
    task = nullptr;
    lock.lock();
  }
  --running_;
  // Threads that ended before this one are joined now, not at the next task: until joined, each
  // keeps its whole stack, so a pool left idle after a burst would keep a hundred of them.
  JoinEnded();
  self->ended = true;
}

void HttpWorkerPool::JoinEnded() {
  for (auto it = workers_.begin(); it != workers_.end();) {
    if (it->ended) {
      it->thread.join();
      it = workers_.erase(it);
    } else {
      ++it;
    }
  }
}

void HttpWorkerPool::Stop() {
  std::list<Worker> workers;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    stopping_ = true;
    tasks_.clear();
    workers.swap(workers_);
  }
  task_waiting_.notify_all();
  for (Worker& worker : workers) worker.thread.join();
  std::lock_guard<std::mutex> lock(mutex_);
  stopping_ = false;
}

}  // namespace zennic
