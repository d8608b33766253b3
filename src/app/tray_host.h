#pragma once

#include <filesystem>
#include <functional>
#include <string>

namespace zennic {

// What the host does for the tray's commands; each runs on the thread of the message loop.
struct TrayCallbacks {
  std::function<void()> open_ui;
  std::function<void()> copy_url;
  std::function<void()> setup_guide;
  std::function<void()> about;
  // Exit, before the loop ends; also the end of the user's session, after which it goes on.
  std::function<void()> exit;
  // The native text of a key in the current language; empty means the caller's fallback.
  std::function<std::string(const std::string& key)> localize;
};

enum class MessageBoxIcon { Information, Warning, Error };

// The welcome window's address, flag file and texts; an empty text uses the window's own.
struct WelcomeOptions {
  std::string address;
  std::filesystem::path flag_file;
  std::string title;
  std::string intro;
  std::string outro;
  std::string copy_button;
  std::string ok_button;
  std::string checkbox;
};

// The program's place on the desktop: the notification-area icon with its menu, notifications,
// the native boxes, and the message loop on the main thread that all of them run on. Every
// operation is called on that thread.
class TrayHost {
 public:
  virtual ~TrayHost() = default;

  // The icon and its menu; false with a message when the shell cannot run at all.
  virtual bool Create(const std::string& tooltip, TrayCallbacks callbacks,
                      std::string* error) = 0;
  virtual void ShowNotification(const std::string& title, const std::string& message) = 0;
  // Whether the desktop shows the icon now: a text may point the user at it only then.
  virtual bool ShowsIcon() const = 0;
  // Runs until Exit (from the menu or the system); returns the exit code.
  virtual int RunMessageLoop() = 0;
  // Removes the icon and closes every window of the shell; idempotent.
  virtual void Destroy() = 0;

  // A box with one OK button; returns when it is closed.
  virtual void ShowMessageBox(MessageBoxIcon icon, const std::string& caption,
                              const std::string& text) = 0;
  // A Yes/No question with the warning icon; true only for Yes. `safe_answer` stands when
  // nobody can be asked.
  virtual bool AskYesNo(const std::string& caption, const std::string& text,
                        bool safe_answer) = 0;
  // True when the welcome window was shown and has closed; false when it could not be shown.
  virtual bool RunWelcome(const WelcomeOptions& options) = 0;
  virtual bool CopyTextToClipboard(const std::string& text) = 0;
};

}  // namespace zennic
