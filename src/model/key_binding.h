#pragma once

#include <cstdint>
#include <string>

namespace zennic {

// Where a binding came from.
inline constexpr char kKeySourceDefault[] = "default";
inline constexpr char kKeySourceMigratedLegacy[] = "migrated_legacy";
inline constexpr char kKeySourceCapturedBackend[] = "captured_backend";

// One key or mouse button, as the hotkey machinery and the web client both know it. Two
// bindings denote the same key when vk, scan code and extended flag agree (KeyBindingsMatch).
struct KeyBinding {
  std::string id;            // catalogue id: "numpad_add", "key_k", "mouse_x1"
  std::string label;         // "Numpad +"
  std::string browser_key;   // the browser's key value
  std::string browser_code;  // the browser's physical code: "KeyK"
  int32_t location = 0;      // 0 standard, 1 left, 2 right, 3 numeric keypad
  int32_t vk = 0;            // virtual-key code; mouse buttons 1, 2, 4, 5, 6
  int32_t scan_code = 0;     // 0xE0 in the high byte for an extended scan code
  bool extended = false;
  std::string source = kKeySourceDefault;

  bool operator==(const KeyBinding&) const = default;
};

}  // namespace zennic
