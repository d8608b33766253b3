#include "platform/default_handler.h"

#include <gio/gdesktopappinfo.h>
#include <gio/gio.h>
#include <signal.h>

#include <cstdlib>

namespace zennic {
namespace {

bool Fail(std::string* error, std::string text) {
  if (error != nullptr) *error = std::move(text);
  return false;
}

bool HasDisplay() {
  for (const char* name : {"DISPLAY", "WAYLAND_DISPLAY"}) {
    const char* value = std::getenv(name);
    if (value != nullptr && *value != '\0') return true;
  }
  return false;
}

// In the handler, before it starts: the program blocks its termination signals and ignores
// SIGPIPE, and a started program would keep both.
void RestoreSignals(gpointer) {
  sigset_t none;
  sigemptyset(&none);
  sigprocmask(SIG_SETMASK, &none, nullptr);
  signal(SIGPIPE, SIG_DFL);
}

// Starts `handler` (taken) with the location; it inherits none of the program's descriptors.
bool Launch(GAppInfo* handler, GError* lookup_failure, const std::string& uri,
            const std::string& shown, std::string* error) {
  if (handler == nullptr || !G_IS_DESKTOP_APP_INFO(handler)) {
    std::string reason = lookup_failure != nullptr ? lookup_failure->message
                                                   : "the desktop names no program for it";
    g_clear_error(&lookup_failure);
    if (handler != nullptr) g_object_unref(handler);
    return Fail(error, "Nothing could open " + shown + ": " + reason);
  }
  GList uris = {const_cast<char*>(uri.c_str()), nullptr, nullptr};
  GError* failure = nullptr;
  bool started = g_desktop_app_info_launch_uris_as_manager(
      G_DESKTOP_APP_INFO(handler), &uris, nullptr, G_SPAWN_SEARCH_PATH, RestoreSignals, nullptr,
      nullptr, nullptr, &failure);
  g_object_unref(handler);
  if (!started) {
    std::string reason = failure != nullptr ? failure->message : "unknown error";
    g_clear_error(&failure);
    return Fail(error, "Nothing could open " + shown + ": " + reason);
  }
  if (error != nullptr) error->clear();
  return true;
}

}  // namespace

bool OpenFolderInFileManager(const std::filesystem::path& folder, std::string* error) {
  std::string shown = folder.string();
  if (!HasDisplay()) return Fail(error, "No desktop display is available to open " + shown + " on");
  GFile* file = g_file_new_for_path(folder.c_str());
  char* uri = g_file_get_uri(file);
  std::string file_uri = uri;
  g_free(uri);
  GError* failure = nullptr;
  GAppInfo* handler = g_file_query_default_handler(file, nullptr, &failure);
  g_object_unref(file);
  return Launch(handler, failure, file_uri, shown, error);
}

bool OpenWebAddress(const std::string& address, std::string* error) {
  if (!HasDisplay()) {
    return Fail(error, "No desktop display is available to open " + address + " on");
  }
  std::string scheme = address.substr(0, address.find(':'));
  return Launch(g_app_info_get_default_for_uri_scheme(scheme.c_str()), nullptr, address, address,
                error);
}

}  // namespace zennic
