#pragma once

#include <filesystem>
#include <vector>

#include "app/tray_host.h"

namespace zennic {

// The shell on a desktop, on the thread that opened the display: a status-notifier icon with
// its menu, desktop notifications, the toolkit's dialogs and clipboard, and the toolkit's loop
// as the message loop. SIGINT and SIGTERM are Exit, SIGHUP the end of the session, as in the
// console. Open the desktop display before building one.
class DesktopShell : public TrayHost {
 public:
  explicit DesktopShell(std::filesystem::path logs_folder);
  ~DesktopShell() override;
  DesktopShell(const DesktopShell&) = delete;
  DesktopShell& operator=(const DesktopShell&) = delete;

  bool Create(const std::string& tooltip, TrayCallbacks callbacks, std::string* error) override;
  void ShowNotification(const std::string& title, const std::string& message) override;
  bool ShowsIcon() const override { return indicator_ != nullptr && !tray_host_missing_; }
  int RunMessageLoop() override;
  void Destroy() override;

  void ShowMessageBox(MessageBoxIcon icon, const std::string& caption,
                      const std::string& text) override;
  bool AskYesNo(const std::string& caption, const std::string& text, bool safe_answer) override;
  bool RunWelcome(const WelcomeOptions& options) override;
  bool CopyTextToClipboard(const std::string& text) override;

  // The menu's entries, in their order; a separator stands before Exit.
  enum class Command { OpenUi, CopyUrl, SetupGuide, About, Exit };

 private:
  struct MenuEntry {
    Command command;
    const char* key;
    const char* fallback;
    void* item = nullptr;  // the toolkit's menu item
  };

  void RunCommand(Command command);
  // Exit from the menu or the system: the exit callback, then every dialog closes and the loop
  // ends with code 0.
  void Exit();
  void OnTerminationRequest();
  // Logs when the desktop has nowhere to show the icon, and when that changes.
  void OnTrayHostChange(bool answers);
  // Follows the language in force without a restart.
  void RelabelMenu();
  std::string Localize(const char* key, const char* fallback) const;
  // Runs a dialog modally; closed at once when the program is ending. Returns its response.
  int RunDialog(void* dialog);

  std::filesystem::path logs_folder_;
  TrayCallbacks callbacks_;
  std::vector<MenuEntry> entries_;
  void* indicator_ = nullptr;  // the status-notifier item
  void* menu_ = nullptr;
  std::vector<void*> open_dialogs_;
  int termination_descriptor_ = -1;
  unsigned termination_watch_ = 0;
  unsigned relabel_timer_ = 0;
  unsigned tray_host_watch_ = 0;
  bool tray_host_missing_ = false;
  bool notifications_ready_ = false;
  bool ending_ = false;
  bool loop_running_ = false;
};

}  // namespace zennic
