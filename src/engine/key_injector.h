#pragma once

#include <string>

#include "model/key_binding.h"

namespace zennic {

// Presses or releases one key or mouse button by synthesised input, so that the game sees it
// as if the user held it. Keys are sent by scan code, so the layout in use does not matter;
// mouse-button bindings are sent as buttons. Stateless: any thread may call it.
class KeyInjector {
 public:
  static bool KeyDown(const KeyBinding& binding, std::string* error);
  static bool KeyUp(const KeyBinding& binding, std::string* error);
};

}  // namespace zennic
