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
// When the audio service goes away it connects again, waiting longer after each failed try,
// and runs the handler once it listens again.
class WindowsAudioRouteMonitor {
 public:
  static constexpr std::chrono::milliseconds kQuietPeriod{300};
  static constexpr std::chrono::milliseconds kFirstReconnectPause{250};
  static constexpr std::chrono::milliseconds kLongestReconnectPause{4000};

  // `listening` (may be empty) hears, on the monitor's thread, that the audio service was lost
  // (false) and that the monitor listens again (true).
  WindowsAudioRouteMonitor(AudioSystemFactory audio_systems, std::function<void()> handler,
                           std::function<void(bool listening)> listening = {});
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
  // A new connection that delivers notifications to `client`; empty with the reason otherwise.
  std::string Listen(NotificationClient* client, std::unique_ptr<AudioSystem>* system);
  // After the service was lost: tries again until it listens (true) or is stopped (false).
  bool Reconnect(NotificationClient* client, std::unique_ptr<AudioSystem>* system);
  void RunHandler();
  // The auto-reset event: Signal sets it; Wait takes it, or gives up after `timeout`.
  void Signal();
  bool Wait(std::chrono::milliseconds timeout);
  void Wait();

  AudioSystemFactory audio_systems_;
  std::function<void()> handler_;
  std::function<void(bool)> listening_;
  std::mutex event_mutex_;
  std::condition_variable event_changed_;
  bool event_signalled_ = false;
  std::atomic<bool> stop_{false};
  std::atomic<uint64_t> notification_count_{0};
  std::atomic<bool> service_lost_{false};
  std::thread worker_;
};

}  // namespace zennic
