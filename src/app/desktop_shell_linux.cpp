#include "app/desktop_shell.h"

#include <X11/Xlib.h>
#include <gdk/gdkx.h>
#include <glib-unix.h>
#include <gtk/gtk.h>
#include <libayatana-appindicator/app-indicator.h>
#include <libnotify/notify.h>
#include <unistd.h>

#include "core/app_log.h"
#include "platform/termination_signals.h"

namespace zennic {
namespace {

constexpr char kLogTag[] = "TrayHost";
constexpr char kIndicatorId[] = "ruzerad";
constexpr char kIconName[] = "audio-input-microphone";
// Where status-notifier items register; the desktop's tray shows what registers there.
constexpr char kTrayHostBusName[] = "org.kde.StatusNotifierWatcher";
// A session bus answers within milliseconds; one that does not counts as no tray host rather
// than holding up the start.
constexpr int kBusAnswerMilliseconds = 2000;
// The balloon's fields hold 64 and 256 UTF-16 units with their terminator.
constexpr size_t kTitleUnits = 63;
constexpr size_t kMessageUnits = 255;

// At most `units` UTF-16 units of a UTF-8 text, cut between characters.
std::string CutToUtf16Units(const std::string& text, size_t units) {
  size_t used = 0;
  size_t at = 0;
  while (at < text.size()) {
    unsigned char lead = static_cast<unsigned char>(text[at]);
    size_t length = lead < 0x80 ? 1 : lead < 0xE0 ? 2 : lead < 0xF0 ? 3 : 4;
    size_t needed = length == 4 ? 2 : 1;
    if (used + needed > units) break;
    used += needed;
    at += length;
  }
  return text.substr(0, std::min(at, text.size()));
}

// Whether a status-notifier watcher owns its name on the session bus now; false when the bus
// does not answer within a moment.
bool StatusNotifierWatcherAnswers() {
  GDBusConnection* bus = g_bus_get_sync(G_BUS_TYPE_SESSION, nullptr, nullptr);
  if (bus == nullptr) return false;
  GVariant* reply = g_dbus_connection_call_sync(
      bus, "org.freedesktop.DBus", "/org/freedesktop/DBus", "org.freedesktop.DBus", "NameHasOwner",
      g_variant_new("(s)", kTrayHostBusName), G_VARIANT_TYPE("(b)"), G_DBUS_CALL_FLAGS_NONE,
      kBusAnswerMilliseconds, nullptr, nullptr);
  g_object_unref(bus);
  if (reply == nullptr) return false;
  gboolean owned = FALSE;
  g_variant_get(reply, "(b)", &owned);
  g_variant_unref(reply);
  return owned;
}

// Without a status-notifier host the icon falls back to the older X system tray, where the
// display has one.
bool DisplayHasSystemTray() {
  GdkDisplay* display = gdk_display_get_default();
  if (display == nullptr || !GDK_IS_X11_DISPLAY(display)) return false;
  Display* x_display = GDK_DISPLAY_XDISPLAY(display);
  std::string selection = "_NET_SYSTEM_TRAY_S" + std::to_string(DefaultScreen(x_display));
  return XGetSelectionOwner(x_display, XInternAtom(x_display, selection.c_str(), False)) != None;
}

struct CommandTarget {
  DesktopShell* shell;
  DesktopShell::Command command;
};

}  // namespace

DesktopShell::DesktopShell(std::filesystem::path logs_folder)
    : logs_folder_(std::move(logs_folder)),
      entries_{{Command::OpenUi, "native.tray.open_ui", "Open UI"},
               {Command::CopyUrl, "native.tray.copy_url", "Copy URL"},
               {Command::SetupGuide, "native.tray.setup_guide", "Setup Guide"},
               {Command::About, "native.tray.about", "About"},
               {Command::Exit, "native.tray.exit", "Exit"}} {
  // From the start, not from Create: a box shown before the icon exists, or without it (why
  // a start failed), must still end when the program is asked to end.
  termination_descriptor_ = OpenTerminationRequestDescriptor();
  if (termination_descriptor_ >= 0) {
    termination_watch_ = g_unix_fd_add(
        termination_descriptor_, G_IO_IN,
        +[](gint, GIOCondition, gpointer shell) -> gboolean {
          static_cast<DesktopShell*>(shell)->OnTerminationRequest();
          return G_SOURCE_CONTINUE;
        },
        this);
  }
}

DesktopShell::~DesktopShell() { Destroy(); }

bool DesktopShell::Create(const std::string& tooltip, TrayCallbacks callbacks, std::string*) {
  callbacks_ = std::move(callbacks);
  notifications_ready_ = notify_init("Ruzerad");
  if (!notifications_ready_) {
    WriteLogLine(logs_folder_, kLogTag, "Desktop notifications are unavailable");
  }

  GtkWidget* menu = gtk_menu_new();
  for (MenuEntry& entry : entries_) {
    if (entry.command == Command::Exit) {
      gtk_menu_shell_append(GTK_MENU_SHELL(menu), gtk_separator_menu_item_new());
    }
    GtkWidget* item = gtk_menu_item_new_with_label(Localize(entry.key, entry.fallback).c_str());
    // The command runs once the menu's own event handling has returned, so a dialog it opens
    // never holds up the desktop's request.
    g_signal_connect_data(
        item, "activate", G_CALLBACK(+[](GtkMenuItem*, gpointer data) {
          g_idle_add_full(G_PRIORITY_DEFAULT_IDLE,
                          +[](gpointer target) -> gboolean {
                            auto* command = static_cast<CommandTarget*>(target);
                            command->shell->RunCommand(command->command);
                            return G_SOURCE_REMOVE;
                          },
                          new CommandTarget(*static_cast<CommandTarget*>(data)),
                          +[](gpointer target) { delete static_cast<CommandTarget*>(target); });
        }),
        new CommandTarget{this, entry.command},
        +[](gpointer data, GClosure*) { delete static_cast<CommandTarget*>(data); },
        GConnectFlags(0));
    gtk_menu_shell_append(GTK_MENU_SHELL(menu), item);
    entry.item = item;
  }
  gtk_widget_show_all(menu);
  menu_ = g_object_ref_sink(menu);

  AppIndicator* indicator = app_indicator_new(kIndicatorId, kIconName,
                                              APP_INDICATOR_CATEGORY_APPLICATION_STATUS);
  app_indicator_set_title(indicator, tooltip.c_str());
  app_indicator_set_menu(indicator, GTK_MENU(menu));
  // A middle click opens the web client, as a double click on the icon does elsewhere.
  app_indicator_set_secondary_activate_target(indicator, GTK_WIDGET(entries_.front().item));
  app_indicator_set_status(indicator, APP_INDICATOR_STATUS_ACTIVE);
  indicator_ = indicator;
  // Known before the start-up notices, which say where to find the program; the watch below
  // follows the changes after.
  OnTrayHostChange(StatusNotifierWatcherAnswers());
  // Both handlers take the shell: the watch ends in Destroy, before the shell goes.
  tray_host_watch_ = g_bus_watch_name(
      G_BUS_TYPE_SESSION, kTrayHostBusName, G_BUS_NAME_WATCHER_FLAGS_NONE,
      +[](GDBusConnection*, const gchar*, const gchar*, gpointer shell) {
        static_cast<DesktopShell*>(shell)->OnTrayHostChange(true);
      },
      +[](GDBusConnection*, const gchar*, gpointer shell) {
        static_cast<DesktopShell*>(shell)->OnTrayHostChange(false);
      },
      this, nullptr);

  relabel_timer_ = g_timeout_add_seconds(
      1,
      +[](gpointer shell) -> gboolean {
        static_cast<DesktopShell*>(shell)->RelabelMenu();
        return G_SOURCE_CONTINUE;
      },
      this);
  return true;
}

std::string DesktopShell::Localize(const char* key, const char* fallback) const {
  std::string text = callbacks_.localize ? callbacks_.localize(key) : std::string();
  return text.empty() ? fallback : text;
}

void DesktopShell::OnTrayHostChange(bool answers) {
  bool missing = !answers && !DisplayHasSystemTray();
  if (missing == tray_host_missing_) return;
  tray_host_missing_ = missing;
  WriteLogLine(logs_folder_, kLogTag,
               missing ? "No tray host answers (no StatusNotifierWatcher on the session bus, no "
                         "system tray on the display): the notification-area icon cannot be shown"
                       : "A tray host answers: the notification-area icon is shown");
}

void DesktopShell::RelabelMenu() {
  for (const MenuEntry& entry : entries_) {
    if (entry.item == nullptr) continue;
    std::string label = Localize(entry.key, entry.fallback);
    GtkMenuItem* item = GTK_MENU_ITEM(entry.item);
    if (label != gtk_menu_item_get_label(item)) gtk_menu_item_set_label(item, label.c_str());
  }
}

void DesktopShell::RunCommand(Command command) {
  if (ending_) return;
  const std::function<void()>* callback = nullptr;
  switch (command) {
    case Command::OpenUi: callback = &callbacks_.open_ui; break;
    case Command::CopyUrl: callback = &callbacks_.copy_url; break;
    case Command::SetupGuide: callback = &callbacks_.setup_guide; break;
    case Command::About: callback = &callbacks_.about; break;
    case Command::Exit: Exit(); return;
  }
  if (callback != nullptr && *callback) (*callback)();
}

void DesktopShell::Exit() {
  if (ending_) return;
  if (callbacks_.exit) callbacks_.exit();
  ending_ = true;
  for (void* dialog : open_dialogs_) {
    gtk_dialog_response(GTK_DIALOG(dialog), GTK_RESPONSE_DELETE_EVENT);
  }
  if (loop_running_) gtk_main_quit();
}

void DesktopShell::OnTerminationRequest() {
  std::optional<TerminationRequest> request = TakeTerminationRequest(termination_descriptor_);
  if (!request) return;
  if (*request == TerminationRequest::Exit) {
    Exit();
  } else if (callbacks_.exit) {
    // The session's end restores what the program changed; the system ends the program next.
    callbacks_.exit();
  }
}

int DesktopShell::RunMessageLoop() {
  if (!ending_) {
    loop_running_ = true;
    gtk_main();
    loop_running_ = false;
  }
  return 0;
}

void DesktopShell::ShowNotification(const std::string& title, const std::string& message) {
  if (!notifications_ready_) return;
  NotifyNotification* notification =
      notify_notification_new(CutToUtf16Units(title, kTitleUnits).c_str(),
                              CutToUtf16Units(message, kMessageUnits).c_str(), kIconName);
  GError* error = nullptr;
  if (!notify_notification_show(notification, &error)) {
    WriteLogLine(logs_folder_, kLogTag,
                 std::string("A notification could not be shown: ") +
                     (error != nullptr ? error->message : "unknown error"));
    g_clear_error(&error);
  }
  g_object_unref(notification);
}

void DesktopShell::Destroy() {
  ending_ = true;
  for (void* dialog : open_dialogs_) {
    gtk_dialog_response(GTK_DIALOG(dialog), GTK_RESPONSE_DELETE_EVENT);
  }
  if (tray_host_watch_ != 0) g_bus_unwatch_name(tray_host_watch_);
  tray_host_watch_ = 0;
  if (termination_watch_ != 0) g_source_remove(termination_watch_);
  if (relabel_timer_ != 0) g_source_remove(relabel_timer_);
  termination_watch_ = relabel_timer_ = 0;
  if (termination_descriptor_ >= 0) ::close(termination_descriptor_);
  termination_descriptor_ = -1;
  if (indicator_ != nullptr) {
    app_indicator_set_status(APP_INDICATOR(indicator_), APP_INDICATOR_STATUS_PASSIVE);
    g_object_unref(indicator_);
    indicator_ = nullptr;
  }
  if (menu_ != nullptr) {
    gtk_widget_destroy(GTK_WIDGET(menu_));
    g_object_unref(menu_);
    menu_ = nullptr;
  }
  for (MenuEntry& entry : entries_) entry.item = nullptr;
  if (notifications_ready_) notify_uninit();
  notifications_ready_ = false;
}

}  // namespace zennic
