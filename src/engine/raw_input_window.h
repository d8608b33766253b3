#pragma once

#include <condition_variable>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

namespace zennic {

// One key or mouse-button transition, in the codes the rest of the program speaks.
struct RawKeyEvent {
  bool is_down = false;
  // Keys: the virtual-key code as raw input reports it (Shift, Ctrl and Alt stay generic:
  // 16, 17, 18). Mouse buttons: 1 left, 2 right, 4 middle, 5 and 6 the two extra buttons.
  uint32_t vk = 0;
  // Keys: the make code without its E0/E1 prefix. Mouse buttons: the button code again.
  uint32_t scan_code = 0;
  // Keys sent with the E0 or E1 prefix; never set for a mouse button.
  bool extended = false;

  bool operator==(const RawKeyEvent&) const = default;
};

// Receives every key and mouse-button transition of the session, whichever window has the
// focus, on a thread of its own, and hands each to one callback.
class RawInputWindow {
 public:
  using EventCallback = std::function<void(const RawKeyEvent&)>;

  RawInputWindow();
  ~RawInputWindow();
  RawInputWindow(const RawInputWindow&) = delete;
  RawInputWindow& operator=(const RawInputWindow&) = delete;

  // Starts the worker and waits until it reports. True when it runs; when it already ran the
  // new callback is dropped. The callback runs on the worker thread, outside every lock here.
  bool Start(EventCallback callback, std::string* error);
  // Ends the worker and waits for it. The caller must hold no lock that the callback takes.
  void Stop();

  // Why the running worker delivers no events (no display to read from); empty while
  // events flow or when not running.
  std::string InactiveReason() const;

 private:
  // What the worker needs of the system besides the callback: its stop signal.
  struct SystemState;

  void ThreadMain(SystemState* system);
  void ReportReady(std::string inactive_reason);
  void SetInactiveReason(std::string reason);
  void Deliver(const RawKeyEvent& event);

  mutable std::mutex mutex_;
  std::thread worker_;
  std::condition_variable ready_changed_;
  bool ready_ = false;
  bool running_ = false;
  std::string inactive_reason_;
  EventCallback callback_;
  std::unique_ptr<SystemState> system_;
};

}  // namespace zennic
