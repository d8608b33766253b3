#pragma once

#include <memory>
#include <mutex>
#include <string>

#include "model/key_binding.h"

namespace zennic {

// Presses or releases one key or mouse button by synthesised input, so that the game sees it
// as if the user held it. Keys are sent by scan code, so the layout in use does not matter;
// mouse-button bindings are sent as buttons. One connection to the input system serves every
// injection, opened at the first and opened again once lost; any thread may call, one at a
// time gets through.
class KeyInjector {
 public:
  KeyInjector();
  ~KeyInjector();
  KeyInjector(const KeyInjector&) = delete;
  KeyInjector& operator=(const KeyInjector&) = delete;

  bool KeyDown(const KeyBinding& binding, std::string* error);
  bool KeyUp(const KeyBinding& binding, std::string* error);

 private:
  struct Connection;

  bool Inject(const KeyBinding& binding, bool press, std::string* error);

  std::mutex mutex_;  // guards connection_
  std::unique_ptr<Connection> connection_;
};

}  // namespace zennic
