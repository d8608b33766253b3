#pragma once

#include <filesystem>

#include "app/tray_host.h"

namespace zennic {

// The shell without a desktop: the terminal and the log stand in for the icon and the boxes.
// SIGINT and SIGTERM are Exit, SIGHUP the end of the session; notifications and boxes are
// printed and logged; a question is asked on the terminal when there is one, else answered
// with the safe choice.
class ConsoleShell : public TrayHost {
 public:
  explicit ConsoleShell(std::filesystem::path logs_folder);

  bool Create(const std::string& tooltip, TrayCallbacks callbacks, std::string* error) override;
  void ShowNotification(const std::string& title, const std::string& message) override;
  bool ShowsIcon() const override { return false; }
  int RunMessageLoop() override;
  void Destroy() override {}

  void ShowMessageBox(MessageBoxIcon icon, const std::string& caption,
                      const std::string& text) override;
  bool AskYesNo(const std::string& caption, const std::string& text, bool safe_answer) override;
  bool RunWelcome(const WelcomeOptions&) override { return false; }
  bool CopyTextToClipboard(const std::string&) override { return false; }

 private:
  std::filesystem::path logs_folder_;
  TrayCallbacks callbacks_;
};

}  // namespace zennic
