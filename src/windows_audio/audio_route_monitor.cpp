#include "windows_audio/audio_route_monitor.h"

#include <algorithm>
#include <memory>
#include <new>

namespace zennic {

// Every notification, whatever it says, only counts and wakes the worker; the loss of the
// service is also noted, for the worker to connect again.
class WindowsAudioRouteMonitor::NotificationClient final : public AudioEndpointListener {
 public:
  explicit NotificationClient(WindowsAudioRouteMonitor* monitor) : monitor_(monitor) {}
  void OnAudioEndpointEvent(AudioEndpointEvent event) override {
    if (event == AudioEndpointEvent::kServiceLost) monitor_->service_lost_ = true;
    monitor_->notification_count_.fetch_add(1);
    monitor_->Signal();
  }

 private:
  WindowsAudioRouteMonitor* monitor_;
};

WindowsAudioRouteMonitor::WindowsAudioRouteMonitor(AudioSystemFactory audio_systems,
                                                   std::function<void()> handler,
                                                   std::function<void(bool)> listening)
    : audio_systems_(std::move(audio_systems)),
      handler_(std::move(handler)),
      listening_(std::move(listening)) {}

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
  service_lost_ = false;
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
  // Declared first so that it outlives every connection that calls it.
  std::unique_ptr<NotificationClient> client;
  try {
    client = std::make_unique<NotificationClient>(this);
  } catch (const std::bad_alloc&) {
    started.set_value("Windows audio notification callback allocation failed");
    return;
  }
  std::unique_ptr<AudioSystem> system;
  std::string failure = Listen(client.get(), &system);
  started.set_value(failure);
  if (!failure.empty()) return;

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
    if (service_lost_.exchange(false)) {
      system.reset();
      if (listening_) listening_(false);
      if (!Reconnect(client.get(), &system)) break;
      if (listening_) listening_(true);
    }
    RunHandler();
  }
  if (system) system->UnregisterEndpointListener(client.get());
}

std::string WindowsAudioRouteMonitor::Listen(NotificationClient* client,
                                             std::unique_ptr<AudioSystem>* system) {
  AudioResult connected = audio_result::kOk;
  *system = audio_systems_ ? audio_systems_(&connected) : nullptr;
  if (*system == nullptr) {
    return "MMDeviceEnumerator creation failed while starting Windows audio monitoring";
  }
  if (AudioFailed((*system)->RegisterEndpointListener(client))) {
    system->reset();
    return "Windows rejected the audio endpoint notification callback";
  }
  return {};
}

bool WindowsAudioRouteMonitor::Reconnect(NotificationClient* client,
                                         std::unique_ptr<AudioSystem>* system) {
  std::chrono::milliseconds pause = kFirstReconnectPause;
  while (!stop_) {
    Wait(pause);
    if (stop_) break;
    // A loss noted by the connection that failed is no news for the next one.
    service_lost_ = false;
    if (Listen(client, system).empty()) return true;
    pause = std::min(pause * 2, kLongestReconnectPause);
  }
  return false;
}

void WindowsAudioRouteMonitor::RunHandler() {
  try {
    if (handler_) handler_();
  } catch (...) {
    // A failing check must not end monitoring; the next notification runs it again.
  }
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
