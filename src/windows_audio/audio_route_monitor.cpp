#include "windows_audio/audio_route_monitor.h"

#include <memory>
#include <new>

namespace zennic {

// Every notification, whatever it says, only counts and wakes the worker.
class WindowsAudioRouteMonitor::NotificationClient final : public AudioEndpointListener {
 public:
  explicit NotificationClient(WindowsAudioRouteMonitor* monitor) : monitor_(monitor) {}
  void OnAudioEndpointEvent(AudioEndpointEvent) override {
    monitor_->notification_count_.fetch_add(1);
    monitor_->Signal();
  }

 private:
  WindowsAudioRouteMonitor* monitor_;
};

WindowsAudioRouteMonitor::WindowsAudioRouteMonitor(AudioSystemFactory audio_systems,
                                                   std::function<void()> handler)
    : audio_systems_(std::move(audio_systems)), handler_(std::move(handler)) {}

WindowsAudioRouteMonitor::~WindowsAudioRouteMonitor() { Stop(); }

bool WindowsAudioRouteMonitor::Start(std::string* error) {
  auto fail = [error](std::string text) {
    if (error != nullptr) *error = std::move(text);
    return false;
  };
  if (worker_.joinable()) Stop();
  {
    std::lock_guard lock(event_mutex_);
    event_signalled_ = false;
  }
  stop_ = false;
  std::promise<std::string> started;
  std::future<std::string> start_text = started.get_future();
  try {
    worker_ = std::thread(&WindowsAudioRouteMonitor::ThreadMain, this, std::move(started));
  } catch (const std::system_error&) {
    return fail("Windows audio monitor worker could not start");
  }
  std::string text = start_text.get();
  if (!text.empty()) {
    worker_.join();
    return fail(std::move(text));
  }
  // The first check runs after one quiet period even if nothing changes.
  notification_count_.fetch_add(1);
  Signal();
  return true;
}

void WindowsAudioRouteMonitor::Stop() {
  stop_ = true;
  Signal();
  if (worker_.joinable()) worker_.join();
}

void WindowsAudioRouteMonitor::ThreadMain(std::promise<std::string> started) {
  try {
    ListenAndRunHandler(started);
  } catch (...) {
    // Nothing leaves the thread; a start still waiting hears why.
    try {
      started.set_value("Windows audio monitor worker could not start");
    } catch (const std::future_error&) {
    }
  }
}

void WindowsAudioRouteMonitor::ListenAndRunHandler(std::promise<std::string>& started) {
  // Declared first so that it outlives the connection that calls it.
  std::unique_ptr<NotificationClient> client;
  AudioResult connected = audio_result::kOk;
  std::unique_ptr<AudioSystem> system = audio_systems_ ? audio_systems_(&connected) : nullptr;
  if (system == nullptr) {
    started.set_value("MMDeviceEnumerator creation failed while starting Windows audio monitoring");
    return;
  }
  try {
    client = std::make_unique<NotificationClient>(this);
  } catch (const std::bad_alloc&) {
    started.set_value("Windows audio notification callback allocation failed");
    return;
  }
  if (AudioFailed(system->RegisterEndpointListener(client.get()))) {
    started.set_value("Windows rejected the audio endpoint notification callback");
    return;
  }
  started.set_value("");

  while (!stop_) {
    Wait();
    if (stop_) break;
    // Each notification inside a quiet period starts another one.
    for (;;) {
      uint64_t seen = notification_count_.load();
      bool signalled = Wait(kQuietPeriod);
      if (stop_ || (!signalled && notification_count_.load() == seen)) break;
    }
    if (stop_) break;
    try {
      if (handler_) handler_();
    } catch (...) {
      // A failing check must not end monitoring; the next notification runs it again.
    }
  }
  system->UnregisterEndpointListener(client.get());
}

void WindowsAudioRouteMonitor::Signal() {
  {
    std::lock_guard lock(event_mutex_);
    event_signalled_ = true;
  }
  event_changed_.notify_all();
}

bool WindowsAudioRouteMonitor::Wait(std::chrono::milliseconds timeout) {
  std::unique_lock lock(event_mutex_);
  bool signalled = event_changed_.wait_for(lock, timeout, [this] { return event_signalled_; });
  event_signalled_ = false;
  return signalled;
}

void WindowsAudioRouteMonitor::Wait() {
  std::unique_lock lock(event_mutex_);
  event_changed_.wait(lock, [this] { return event_signalled_; });
  event_signalled_ = false;
}

}  // namespace zennic
