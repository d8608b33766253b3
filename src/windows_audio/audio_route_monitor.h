#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <future>
#include <mutex>
#include <string>
#include <thread>

#include "platform/audio_system.h"

namespace zennic {

// What the route check needs from the rest of the program.
struct AudioRouteMonitorContext {
  bool mixer_running = false;
  bool cable_verified = false;
  std::string verified_cable_id;    // the CABLE Output the setup check verified
  std::string verified_cable_name;
};

// Listens to endpoint notifications on a thread of its own and runs the handler once the
// notifications have been quiet for 300 ms, so a burst (a headset plugged in) runs it once.
class WindowsAudioRouteMonitor {
 public:
  static constexpr std::chrono::milliseconds kQuietPeriod{300};

  WindowsAudioRouteMonitor(AudioSystemFactory audio_systems, std::function<void()> handler);
  ~WindowsAudioRouteMonitor();
  WindowsAudioRouteMonitor(const WindowsAudioRouteMonitor&) = delete;
  WindowsAudioRouteMonitor& operator=(const WindowsAudioRouteMonitor&) = delete;

  // Returns once the worker listens for notifications, or with the reason it could not. The
  // handler then runs once after the first quiet period, without any notification.
  bool Start(std::string* error);
  // Ends and joins the worker; may run more than once. Never from the handler itself.
  void Stop();

 private:
  class NotificationClient;

  void ThreadMain(std::promise<std::string> started);
  void ListenAndRunHandler(std::promise<std::string>& started);
  // The auto-reset event: Signal sets it; Wait takes it, or gives up after `timeout`.
  void Signal();
  bool Wait(std::chrono::milliseconds timeout);
  void Wait();

  AudioSystemFactory audio_systems_;
  std::function<void()> handler_;
  std::mutex event_mutex_;
  std::condition_variable event_changed_;
  bool event_signalled_ = false;
  std::atomic<bool> stop_{false};
  std::atomic<uint64_t> notification_count_{0};
  std::thread worker_;
};

}  // namespace zennic
