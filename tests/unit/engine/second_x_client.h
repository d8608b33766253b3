#pragma once

#include <optional>
#include <string>

// Xlib's own name for a connection; its header's macros stay out of the tests.
struct _XDisplay;

namespace zennic::testing {

// Another client of the test display: it owns a window that takes the focus, sends input
// through XTest as a user's devices would, and reads the server's idea of which keys and
// buttons are down. Fails the test when the display named by DISPLAY cannot be opened.
class SecondXClient {
 public:
  SecondXClient();
  ~SecondXClient();
  SecondXClient(const SecondXClient&) = delete;
  SecondXClient& operator=(const SecondXClient&) = delete;

  bool connected() const { return display_ != nullptr; }

  // Maps a window of this client and gives it the input focus.
  void FocusOwnWindow();
  bool OwnWindowHasFocus();

  void SendKey(unsigned x_keycode, bool press);
  void TapKey(unsigned x_keycode);
  void SendButton(unsigned x_button, bool press);
  void TapButton(unsigned x_button);

  // While held, the display serves this client alone: every other client's requests wait.
  void HoldServer(bool hold);

  bool IsKeyDown(unsigned x_keycode);
  bool IsAnyKeyDown();
  bool IsButtonDown(unsigned x_button);

 private:
  _XDisplay* display_ = nullptr;
  unsigned long window_ = 0;
};

// Points DISPLAY elsewhere (or nowhere, for null) until the end of the scope.
class ScopedDisplayVariable {
 public:
  explicit ScopedDisplayVariable(const char* value);
  ~ScopedDisplayVariable();
  ScopedDisplayVariable(const ScopedDisplayVariable&) = delete;
  ScopedDisplayVariable& operator=(const ScopedDisplayVariable&) = delete;

 private:
  std::optional<std::string> saved_;
};

// Runs xdotool with the given arguments on the test display; fails the test when it fails.
void RunXdotool(const std::string& arguments);

}  // namespace zennic::testing
