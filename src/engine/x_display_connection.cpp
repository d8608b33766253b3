#include "engine/x_display_connection.h"

#include <mutex>

namespace zennic {
namespace {

// Xlib reports a refused request to one process-wide handler on the thread that reads the
// reply; each connection is used by one thread at a time, so a per-thread count tells the
// thread that syncs about the requests it sent.
thread_local unsigned long refused_requests = 0;

int CountRefusedRequest(Display*, XErrorEvent*) {
  ++refused_requests;
  return 0;
}

// The message is the connection's to report: the lost flag carries it.
int IgnoreLostConnection(Display*) { return 0; }

void InstallHandlersOnce() {
  static std::once_flag once;
  std::call_once(once, [] {
    XInitThreads();
    XSetErrorHandler(CountRefusedRequest);
    XSetIOErrorHandler(IgnoreLostConnection);
  });
}

}  // namespace

std::unique_ptr<XDisplayConnection> XDisplayConnection::Open(std::string* reason) {
  InstallHandlersOnce();
  const char* name = XDisplayName(nullptr);
  if (name == nullptr || *name == '\0') {
    if (reason != nullptr) *reason = "no X display is set (DISPLAY is empty)";
    return nullptr;
  }
  Display* display = XOpenDisplay(nullptr);
  if (display == nullptr) {
    if (reason != nullptr) *reason = std::string("the X display \"") + name + "\" cannot be opened";
    return nullptr;
  }
  return std::unique_ptr<XDisplayConnection>(new XDisplayConnection(display));
}

XDisplayConnection::XDisplayConnection(Display* display) : display_(display) {
  XSetIOErrorExitHandler(display_, &XDisplayConnection::OnConnectionLost, this);
}

XDisplayConnection::~XDisplayConnection() { XCloseDisplay(display_); }

void XDisplayConnection::OnConnectionLost(Display*, void* self) {
  static_cast<XDisplayConnection*>(self)->lost_ = true;
}

bool XDisplayConnection::Sync() {
  if (lost()) return false;
  // Refusals of what was queued arrive while this thread waits here.
  const unsigned long refused_before = refused_requests;
  XSync(display_, False);
  return refused_requests == refused_before && !lost();
}

}  // namespace zennic
