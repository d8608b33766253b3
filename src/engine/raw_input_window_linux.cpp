#include "engine/raw_input_window.h"

#include <X11/XKBlib.h>
#include <X11/extensions/XInput2.h>
#include <X11/keysym.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <optional>

#include "engine/x11_key_codes.h"
#include "engine/x_display_connection.h"

namespace zennic {

struct RawInputWindow::SystemState {
  int stop_fd = -1;  // an eventfd; Stop makes it readable

  ~SystemState() {
    if (stop_fd >= 0) ::close(stop_fd);
  }
};

namespace {

constexpr char kInactivePrefix[] = "Global hotkeys are unavailable: ";

// Raw events arrive whatever window has the focus, and since XInput 2.1 even while another
// client grabs the keyboard. Selecting on the master devices gives each transition once.
bool SelectRawEvents(XDisplayConnection& connection, int* xi_opcode, std::string* reason) {
  Display* display = connection.display();
  int first_event = 0;
  int first_error = 0;
  if (!XQueryExtension(display, "XInputExtension", xi_opcode, &first_event, &first_error)) {
    *reason = "the X server has no XInput extension";
    return false;
  }
  int major = 2;
  int minor = 2;
  if (XIQueryVersion(display, &major, &minor) != Success) {
    *reason = "the X server does not offer XInput 2";
    return false;
  }
  unsigned char bits[XIMaskLen(XI_LASTEVENT)] = {};
  XISetMask(bits, XI_RawKeyPress);
  XISetMask(bits, XI_RawKeyRelease);
  XISetMask(bits, XI_RawButtonPress);
  XISetMask(bits, XI_RawButtonRelease);
  XIEventMask mask;
  mask.deviceid = XIAllMasterDevices;
  mask.mask_len = sizeof(bits);
  mask.mask = bits;
  XISelectEvents(display, DefaultRootWindow(display), &mask, 1);
  if (!connection.Sync()) {
    *reason = "the X server refused raw keyboard and mouse events";
    return false;
  }
  return true;
}

// NumLock as of the key being handled. Asking the server while handling a key would see
// toggles that came after it, so the lock's changes are followed in the same ordered event
// stream as the keys.
class NumLockTracker {
 public:
  explicit NumLockTracker(Display* display) {
    int opcode = 0, error_base = 0, major = XkbMajorVersion, minor = XkbMinorVersion;
    if (!XkbQueryExtension(display, &opcode, &event_base_, &error_base, &major, &minor)) {
      event_base_ = -1;
      return;
    }
    mask_ = XkbKeysymToModifiers(display, XK_Num_Lock);
    XkbSelectEventDetails(display, XkbUseCoreKbd, XkbStateNotify, XkbModifierLockMask,
                          XkbModifierLockMask);
    XkbStateRec state;
    if (XkbGetState(display, XkbUseCoreKbd, &state) == Success) on_ = (state.locked_mods & mask_) != 0;
  }

  // True when the event was the keyboard's and has been taken in.
  bool Follow(XEvent& event) {
    if (event_base_ < 0 || event.type != event_base_) return false;
    const XkbEvent* xkb = reinterpret_cast<const XkbEvent*>(&event);
    if (xkb->any.xkb_type == XkbStateNotify) on_ = (xkb->state.locked_mods & mask_) != 0;
    return true;
  }

  bool on() const { return on_; }

 private:
  int event_base_ = -1;
  unsigned mask_ = 0;
  bool on_ = false;
};

std::optional<RawKeyEvent> TranslateRawEvent(int event_type, const XIRawEvent& raw,
                                             bool num_lock_on) {
  unsigned detail = static_cast<unsigned>(raw.detail);
  switch (event_type) {
    case XI_RawKeyPress:
    case XI_RawKeyRelease:
      return RawKeyEventFromXKey(detail, event_type == XI_RawKeyPress, num_lock_on);
    case XI_RawButtonPress:
    case XI_RawButtonRelease:
      return RawKeyEventFromXButton(detail, event_type == XI_RawButtonPress);
    default:
      return std::nullopt;
  }
}

}  // namespace

RawInputWindow::RawInputWindow() = default;

RawInputWindow::~RawInputWindow() { Stop(); }

bool RawInputWindow::Start(EventCallback callback, std::string* error) {
  std::unique_lock lock(mutex_);
  if (running_) return true;
  callback_ = std::move(callback);
  inactive_reason_.clear();
  ready_ = false;

  auto system = std::make_unique<SystemState>();
  system->stop_fd = ::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
  if (system->stop_fd < 0) {
    if (error != nullptr) {
      *error = std::string("RawInputWindow could not create its stop signal: ") + std::strerror(errno);
    }
    return false;
  }
  system_ = std::move(system);
  worker_ = std::thread(&RawInputWindow::ThreadMain, this, system_.get());
  // The wait releases the mutex, so the worker can report without meeting it held.
  ready_changed_.wait(lock, [this] { return ready_; });
  running_ = true;
  return true;
}

void RawInputWindow::Stop() {
  std::thread worker;
  std::unique_ptr<SystemState> system;
  {
    std::lock_guard lock(mutex_);
    if (!running_) return;
    running_ = false;
    worker = std::move(worker_);
    system = std::move(system_);
  }
  uint64_t one = 1;
  while (::write(system->stop_fd, &one, sizeof(one)) < 0 && errno == EINTR) {
  }
  // Joining from the worker itself (a callback calling Stop) throws resource_deadlock_would_occur.
  if (worker.joinable()) worker.join();
}

std::string RawInputWindow::InactiveReason() const {
  std::lock_guard lock(mutex_);
  return running_ ? inactive_reason_ : std::string();
}

void RawInputWindow::ReportReady(std::string inactive_reason) {
  {
    std::lock_guard lock(mutex_);
    inactive_reason_ = std::move(inactive_reason);
    ready_ = true;
  }
  ready_changed_.notify_all();
}

void RawInputWindow::SetInactiveReason(std::string reason) {
  std::lock_guard lock(mutex_);
  inactive_reason_ = std::move(reason);
}

void RawInputWindow::Deliver(const RawKeyEvent& event) {
  EventCallback callback;
  {
    std::lock_guard lock(mutex_);
    callback = callback_;
  }
  if (callback) callback(event);
}

void RawInputWindow::ThreadMain(SystemState* system) {
  // Without a display the program runs on without global hotkeys: the worker reports
  // started, says why nothing will arrive, and ends; Stop then only joins it.
  std::string reason;
  std::unique_ptr<XDisplayConnection> connection = XDisplayConnection::Open(&reason);
  std::optional<NumLockTracker> num_lock;
  int xi_opcode = 0;
  if (connection != nullptr) {
    // The lock is followed before any key is selected and before Start returns: a tracker
    // begun later reads the lock as keys already waiting left it.
    num_lock.emplace(connection->display());
    if (!SelectRawEvents(*connection, &xi_opcode, &reason)) connection.reset();
  }
  if (connection == nullptr) {
    ReportReady(kInactivePrefix + reason);
    return;
  }
  ReportReady({});

  Display* display = connection->display();
  pollfd fds[2] = {{ConnectionNumber(display), POLLIN, 0}, {system->stop_fd, POLLIN, 0}};
  for (;;) {
    while (!connection->lost() && XPending(display) > 0) {
      XEvent event;
      XNextEvent(display, &event);
      if (num_lock->Follow(event)) continue;
      XGenericEventCookie* cookie = &event.xcookie;
      if (cookie->type != GenericEvent || cookie->extension != xi_opcode) continue;
      if (!XGetEventData(display, cookie)) continue;
      std::optional<RawKeyEvent> translated = TranslateRawEvent(
          cookie->evtype, *static_cast<const XIRawEvent*>(cookie->data), num_lock->on());
      XFreeEventData(display, cookie);
      if (translated.has_value()) Deliver(*translated);
    }
    bool hung_up = (fds[0].revents & (POLLHUP | POLLERR | POLLNVAL)) != 0;
    if (connection->lost() || hung_up) {
      SetInactiveReason(std::string(kInactivePrefix) + "the connection to the X display was lost");
      return;
    }
    int ready = ::poll(fds, 2, -1);
    if (ready < 0 && errno != EINTR) return;
    if (fds[1].revents != 0) return;
  }
}

}  // namespace zennic
