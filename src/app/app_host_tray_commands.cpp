// The host's side of the tray: which shell runs, the web client's address, the menu's
// commands and the language of every native text.

#include "app/app_host.h"
#include "app/console_shell.h"
#include "app/desktop_shell.h"
#include "core/app_log.h"
#include "platform/default_handler.h"
#include "platform/desktop_display.h"

namespace zennic {
namespace {

constexpr char kTooltip[] = "Ruzerad";

}  // namespace

void AppHost::ChooseShell() {
  std::string no_desktop;
  if (OpenDesktopDisplay(&no_desktop)) {
    tray_ = std::make_unique<DesktopShell>(paths_.logs_folder);
    return;
  }
  WriteLogLine(paths_.logs_folder, kLogTag,
               "No notification-area icon: " + no_desktop +
                   "; notifications and questions go to the terminal and this log");
  tray_ = std::make_unique<ConsoleShell>(paths_.logs_folder);
}

bool AppHost::CreateTray(std::string* error) {
  TrayCallbacks callbacks;
  callbacks.open_ui = [this] { OpenInBrowser(BuildLocalUrl()); };
  callbacks.copy_url = [this] { CopyUrlAndNotify(); };
  callbacks.setup_guide = [this] { OpenSetupGuide(); };
  callbacks.about = [this] { ShowAbout(); };
  callbacks.exit = [this] { RestoreWindowsAudio(); };
  callbacks.localize = [this](const std::string& key) { return Localize(key, ""); };
  return tray_->Create(kTooltip, std::move(callbacks), error);
}

std::string AppHost::BuildLocalUrl() const {
  uint16_t port = effective_http_port_ == 0 ? kDefaultHttpPort : effective_http_port_.load();
  return "http://127.0.0.1:" + std::to_string(port);
}

std::string AppHost::Localize(const std::string& key, const std::string& fallback,
                              const Localization::Parameters& parameters) const {
  if (!localization_) return fallback;
  std::string language = runtime_state_
                             ? NormalizeLanguageTag(runtime_state_->GetSettings().ui_language)
                             : DetectUserLanguage();
  return localization_->Translate(language, key, parameters, fallback);
}

void AppHost::OpenInBrowser(const std::string& address) {
  std::string error;
  if (!OpenWebAddress(address, &error)) WriteLogLine(paths_.logs_folder, kLogTag, error);
}

void AppHost::OpenSetupGuide() { OpenInBrowser(BuildLocalUrl() + "/guide"); }

void AppHost::CopyUrlAndNotify() {
  std::string url = BuildLocalUrl();
  // The confirmation only when the copy worked; a failed copy still shows the address. The
  // catalogues have no text for the failure, so it stays in English.
  std::string message =
      tray_->CopyTextToClipboard(url)
          ? Localize("native.tray.copy_url_balloon", "Copied {{url}} to the clipboard.",
                     {{"url", url}})
          : "Could not copy " + url + " to the clipboard.";
  tray_->ShowNotification(Localize("native.tray.startup_balloon_title", "Ruzerad"), message);
}

void AppHost::ShowStartupNotification() {
  // Without an icon to right-click, the notification names the address instead.
  tray_->ShowNotification(
      Localize("native.tray.startup_balloon_title", "Ruzerad"),
      tray_->ShowsIcon()
          ? Localize("native.tray.startup_balloon_message",
                     "Ruzerad is running. Right-click the tray icon for options.")
          : Localize("native.tray.startup_balloon_message_no_tray",
                     "Ruzerad is running at {{url}}.", {{"url", BuildLocalUrl()}}));
}

}  // namespace zennic
