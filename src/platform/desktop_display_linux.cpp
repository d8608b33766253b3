#include "platform/desktop_display.h"

#include <X11/Xlib.h>
#include <clocale>
#include <cstdlib>
#include <gtk/gtk.h>

#include <atomic>
#include <memory>
#include <mutex>
#include <vector>

namespace zennic {
namespace {

std::atomic<bool> display_open{false};
std::mutex listeners_mutex;
std::vector<std::function<void()>> close_listeners;

gboolean RunPostedWork(gpointer data) {
  std::unique_ptr<std::function<void()>> work(static_cast<std::function<void()>*>(data));
  if (display_open) (*work)();
  return G_SOURCE_REMOVE;
}

}  // namespace

bool OpenDesktopDisplay(std::string* reason) {
  if (display_open) return true;
  const char* name = std::getenv("DISPLAY");
  const char* wayland = std::getenv("WAYLAND_DISPLAY");
  if ((name == nullptr || *name == '\0') && (wayland == nullptr || *wayland == '\0')) {
    if (reason != nullptr) *reason = "no display is set (DISPLAY is empty)";
    return false;
  }
  // The hotkeys read the same X server from their own thread and connection.
  XInitThreads();
  if (!gtk_init_check(nullptr, nullptr)) {
    if (reason != nullptr) {
      *reason = std::string("the display \"") + (name != nullptr ? name : wayland) +
                "\" cannot be opened";
    }
    return false;
  }
  // GTK takes the user's locale for everything; numbers in files and replies must not follow.
  std::setlocale(LC_NUMERIC, "C");
  display_open = true;
  return true;
}

bool DesktopDisplayIsOpen() { return display_open; }

bool PostToDesktopThread(std::function<void()> work) {
  if (!display_open) return false;
  // Always queued, never run in place: only the thread that runs the loop may touch windows.
  g_idle_add_full(G_PRIORITY_DEFAULT, RunPostedWork, new std::function<void()>(std::move(work)),
                  nullptr);
  return true;
}

void AddDesktopCloseListener(std::function<void()> listener) {
  std::lock_guard<std::mutex> lock(listeners_mutex);
  close_listeners.push_back(std::move(listener));
}

void CloseDesktopDisplay() {
  if (!display_open.exchange(false)) return;
  std::vector<std::function<void()>> listeners;
  {
    std::lock_guard<std::mutex> lock(listeners_mutex);
    listeners = close_listeners;
  }
  for (const auto& listener : listeners) listener();
}

}  // namespace zennic
