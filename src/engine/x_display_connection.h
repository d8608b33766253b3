#pragma once

#include <X11/Xlib.h>

#include <atomic>
#include <memory>
#include <string>

namespace zennic {

// One connection to the X server named by DISPLAY, used by one thread at a time. Xlib's
// default handlers end the process on a refused request or a lost server; here a refused
// request only makes Sync fail and a lost server marks the connection lost, so hotkeys can
// die with the display while the program lives on.
class XDisplayConnection {
 public:
  // Null with the reason when no display can be opened.
  static std::unique_ptr<XDisplayConnection> Open(std::string* reason);
  ~XDisplayConnection();
  XDisplayConnection(const XDisplayConnection&) = delete;
  XDisplayConnection& operator=(const XDisplayConnection&) = delete;

  Display* display() const { return display_; }
  bool lost() const { return lost_.load(); }

  // Sends what is queued and waits until the server has handled it. False when the server
  // refused a request sent since the last Sync, or the connection is lost.
  bool Sync();

 private:
  explicit XDisplayConnection(Display* display);
  static void OnConnectionLost(Display* display, void* self);

  Display* display_;
  std::atomic<bool> lost_{false};
};

}  // namespace zennic
