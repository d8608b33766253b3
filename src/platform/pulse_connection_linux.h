#pragma once

#include <pulse/pulseaudio.h>

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "platform/audio_system.h"

namespace zennic {

// One PulseAudio context on its own threaded main loop. The audio system and every endpoint and
// stream it hands out share it, so it lives until the last of them is gone. Every use of the
// context happens with the loop locked (PulseLock); the loop's callbacks run locked too.
class PulseConnection {
 public:
  // The longest any wait for the server lasts. The local server answers in microseconds; one
  // that stays silent this long is stuck or stopped, and nothing that waits for it (a web page's
  // request among them) should wait longer.
  static constexpr std::chrono::milliseconds kRequestTimeout{1500};

  // Null with the failure in `result` when no server answers in time.
  static std::shared_ptr<PulseConnection> Connect(AudioResult* result);
  ~PulseConnection();
  PulseConnection(const PulseConnection&) = delete;
  PulseConnection& operator=(const PulseConnection&) = delete;

  pa_threaded_mainloop* loop() const { return loop_; }
  pa_context* context() const { return context_; }

  // True on the loop's own thread, where waiting would deadlock.
  bool InLoopThread() const;

  // With the loop locked: waits until `done` holds, the context fails or the time-out passes.
  // The time-out holds even when the loop's thread never runs (it may not have started).
  AudioResult WaitUntil(const std::function<bool()>& done);
  // With the loop locked: waits for the operation to end and releases it. A null operation is
  // the context's failure to send it.
  AudioResult Finish(pa_operation* operation);
  // With the loop locked: Finish, then the request's own answer; a refusal is the context's
  // error.
  AudioResult Finish(pa_operation* operation, const struct PulseSuccessRequest& request);
  // With the loop locked: the context's last error as a code.
  AudioResult LastError() const;
  bool Ready() const;

  // With the loop locked. Subscribes to endpoint changes on first registration. Listeners also
  // hear the loss of the server.
  AudioResult AddListener(AudioEndpointListener* listener);
  void RemoveListener(AudioEndpointListener* listener);

  // Wakes every waiter; the one callback the connection's requests share. With the loop locked.
  void Signal();

 private:
  PulseConnection() = default;
  static void OnContextState(pa_context* context, void* userdata);
  static void OnSubscriptionEvent(pa_context* context, pa_subscription_event_type_t type,
                                  uint32_t index, void* userdata);
  void Notify(AudioEndpointEvent event);

  pa_threaded_mainloop* loop_ = nullptr;
  pa_context* context_ = nullptr;
  bool subscribed_ = false;
  std::vector<AudioEndpointListener*> listeners_;
  // Waiters sleep here rather than on the loop's own condition, so that their time-out needs no
  // help from the loop's thread.
  std::mutex wake_mutex_;
  std::condition_variable woken_;
  uint64_t wakes_ = 0;  // guarded by wake_mutex_
};

// A request whose answer is success or failure; the callbacks record it and wake the waiter.
struct PulseSuccessRequest {
  PulseConnection* connection = nullptr;
  bool success = false;

  static void OnContextAnswer(pa_context*, int success, void* userdata);
  static void OnStreamAnswer(pa_stream*, int success, void* userdata);
};

// Holds the connection's loop lock for one scope.
class PulseLock {
 public:
  explicit PulseLock(const PulseConnection& connection) : loop_(connection.loop()) {
    pa_threaded_mainloop_lock(loop_);
  }
  ~PulseLock() { pa_threaded_mainloop_unlock(loop_); }
  PulseLock(const PulseLock&) = delete;
  PulseLock& operator=(const PulseLock&) = delete;

 private:
  pa_threaded_mainloop* loop_;
};

// A PulseAudio error number as a code.
AudioResult PulseErrorToResult(int error);

// "sink:<name>" for render, "source:<name>" for capture.
std::string MakePulseEndpointId(AudioFlow flow, const std::string& name);
bool ParsePulseEndpointId(const std::string& id, AudioFlow* flow, std::string* name);

}  // namespace zennic
