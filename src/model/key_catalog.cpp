#include "model/key_catalog.h"

#include "core/text.h"
#include "platform/keyboard_layout.h"

namespace zennic {
namespace {

constexpr int32_t kLocationStandard = 0;
constexpr int32_t kLocationLeft = 1;
constexpr int32_t kLocationRight = 2;
constexpr int32_t kLocationNumpad = 3;

constexpr uint32_t kVkShift = 16, kVkControl = 17, kVkAlt = 18;
constexpr uint32_t kVkLeftShift = 160, kVkRightShift = 161;
constexpr uint32_t kVkLeftControl = 162, kVkRightControl = 163;
constexpr uint32_t kVkLeftAlt = 164, kVkRightAlt = 165;

KeyCatalogEntry KeyRow(std::string id, std::string label, std::string browser_key,
                       std::string browser_code, int32_t location, int32_t vk, bool extended) {
  return {std::move(id), std::move(label), std::move(browser_key), std::move(browser_code),
          location,      vk,               VirtualKeyToScanCode(static_cast<uint32_t>(vk)),
          extended};
}

// Mouse buttons have no scan code; their button number stands in for it.
KeyCatalogEntry MouseRow(std::string id, std::string label, std::string browser_name, int32_t vk) {
  return {std::move(id), std::move(label), browser_name, browser_name, kLocationStandard, vk, vk,
          false};
}

KeyCatalogEntry LetterRow(char upper, int32_t vk) {
  char lower = static_cast<char>(upper - 'A' + 'a');
  return KeyRow(std::string("key_") + lower, std::string(1, upper), std::string(1, lower),
                std::string("Key") + upper, kLocationStandard, vk, false);
}

KeyCatalogEntry DigitRow(int digit, int32_t vk) {
  std::string d = std::to_string(digit);
  return KeyRow("digit_" + d, d, d, "Digit" + d, kLocationStandard, vk, false);
}

KeyCatalogEntry NumpadDigitRow(int digit, int32_t vk) {
  std::string d = std::to_string(digit);
  return KeyRow("numpad_" + d, "Numpad " + d, d, "Numpad" + d, kLocationNumpad, vk, false);
}

KeyCatalogEntry FunctionKeyRow(int n, int32_t vk) {
  std::string name = "F" + std::to_string(n);
  return KeyRow("f" + std::to_string(n), name, name, name, kLocationStandard, vk, false);
}

std::vector<KeyCatalogEntry> BuildKeyCatalog() {
  std::vector<KeyCatalogEntry> rows = {
      MouseRow("mouse_middle", "Mouse Middle", "MouseMiddle", 4),
      MouseRow("mouse_x1", "Mouse Button 4", "MouseButton4", 5),
      MouseRow("mouse_x2", "Mouse Button 5", "MouseButton5", 6),
      KeyRow("numpad_add", "Numpad +", "Add", "NumpadAdd", kLocationNumpad, 107, false),
      KeyRow("numpad_subtract", "Numpad -", "Subtract", "NumpadSubtract", kLocationNumpad, 109,
             false),
      KeyRow("numpad_multiply", "Numpad *", "Multiply", "NumpadMultiply", kLocationNumpad, 106,
             false),
      KeyRow("numpad_divide", "Numpad /", "Divide", "NumpadDivide", kLocationNumpad, 111, true),
      KeyRow("numpad_enter", "Numpad Enter", "Enter", "NumpadEnter", kLocationNumpad, 13, true),
      KeyRow("enter", "Enter", "Enter", "Enter", kLocationStandard, 13, false),
      KeyRow("escape", "Esc", "Escape", "Escape", kLocationStandard, 27, false),
      KeyRow("backspace", "Backspace", "Backspace", "Backspace", kLocationStandard, 8, false),
      KeyRow("delete", "Delete", "Delete", "Delete", kLocationStandard, 46, true),
      KeyRow("insert", "Insert", "Insert", "Insert", kLocationStandard, 45, true),
      KeyRow("home", "Home", "Home", "Home", kLocationStandard, 36, true),
      KeyRow("end", "End", "End", "End", kLocationStandard, 35, true),
      KeyRow("page_up", "PageUp", "PageUp", "PageUp", kLocationStandard, 33, true),
      KeyRow("page_down", "PageDown", "PageDown", "PageDown", kLocationStandard, 34, true),
      KeyRow("arrow_up", "Arrow Up", "ArrowUp", "ArrowUp", kLocationStandard, 38, true),
      KeyRow("arrow_down", "Arrow Down", "ArrowDown", "ArrowDown", kLocationStandard, 40, true),
      KeyRow("arrow_left", "Arrow Left", "ArrowLeft", "ArrowLeft", kLocationStandard, 37, true),
      KeyRow("arrow_right", "Arrow Right", "ArrowRight", "ArrowRight", kLocationStandard, 39,
             true),
      KeyRow("tab", "Tab", "Tab", "Tab", kLocationStandard, 9, false),
      KeyRow("space", "Space", " ", "Space", kLocationStandard, 32, false),
      KeyRow("caps_lock", "CapsLock", "CapsLock", "CapsLock", kLocationStandard, 20, false),
      KeyRow("scroll_lock", "ScrollLock", "ScrollLock", "ScrollLock", kLocationStandard, 145,
             false),
      KeyRow("left_shift", "Left Shift", "Shift", "ShiftLeft", kLocationLeft, 160, false),
      KeyRow("right_shift", "Right Shift", "Shift", "ShiftRight", kLocationRight, 161, false),
      KeyRow("left_ctrl", "Left Ctrl", "Control", "ControlLeft", kLocationLeft, 162, false),
      KeyRow("right_ctrl", "Right Ctrl", "Control", "ControlRight", kLocationRight, 163, true),
      KeyRow("left_alt", "Left Alt", "Alt", "AltLeft", kLocationLeft, 164, false),
      KeyRow("right_alt", "Right Alt", "Alt", "AltRight", kLocationRight, 165, true),
  };
  for (int d = 0; d <= 9; ++d) {
    rows.push_back(DigitRow(d, 0x30 + d));
    rows.push_back(NumpadDigitRow(d, 0x60 + d));
  }
  for (char letter = 'A'; letter <= 'Z'; ++letter) rows.push_back(LetterRow(letter, letter));
  for (int n = 1; n <= 24; ++n) rows.push_back(FunctionKeyRow(n, 111 + n));
  return rows;
}

// Raw input reports Shift, Ctrl and Alt without their side; the scan code or the extended flag
// tells which one was pressed.
uint32_t ResolveSideOfModifier(uint32_t vk, int32_t scan_code, bool extended) {
  switch (vk) {
    case kVkShift:
      return scan_code == VirtualKeyToScanCode(kVkRightShift) ? kVkRightShift : kVkLeftShift;
    case kVkControl:
      return extended ? kVkRightControl : kVkLeftControl;
    case kVkAlt:
      return extended ? kVkRightAlt : kVkLeftAlt;
    default:
      return vk;
  }
}

bool IsNeverNamed(uint32_t vk) {
  // Left and right mouse buttons, both Windows keys and the menu key.
  return vk == 1 || vk == 2 || vk == 91 || vk == 92 || vk == 93;
}

// A letter, digit, function or numpad-digit key that arrived with an unexpected extended flag
// is still named, with the scan code it came with.
std::optional<KeyCatalogEntry> NameKeyOutsideCatalog(uint32_t vk, int32_t scan_code) {
  int32_t code = static_cast<int32_t>(vk);
  std::optional<KeyCatalogEntry> row;
  if (vk >= 0x41 && vk <= 0x5A) {
    row = LetterRow(static_cast<char>(vk), code);
  } else if (vk >= 0x30 && vk <= 0x39) {
    row = DigitRow(code - 0x30, code);
  } else if (vk >= 112 && vk <= 135) {
    row = FunctionKeyRow(code - 111, code);
  } else if (vk >= 96 && vk <= 105) {
    row = NumpadDigitRow(code - 96, code);
  }
  if (row) row->scan_code = scan_code;
  return row;
}

}  // namespace

const std::vector<KeyCatalogEntry>& GetKeyCatalog() {
  static const std::vector<KeyCatalogEntry> catalog = BuildKeyCatalog();
  return catalog;
}

KeyBinding KeyBindingFromCatalogEntry(const KeyCatalogEntry& entry, const std::string& source) {
  KeyBinding binding;
  binding.id = entry.id;
  binding.label = entry.label;
  binding.browser_key = entry.browser_key;
  binding.browser_code = entry.browser_code;
  binding.location = entry.location;
  binding.vk = entry.vk;
  binding.scan_code = entry.scan_code;
  binding.extended = entry.extended;
  binding.source = source;
  return binding;
}

std::optional<KeyBinding> NameCapturedKey(uint32_t vk, int32_t scan_code, bool extended,
                                          const std::string& source) {
  uint32_t resolved = ResolveSideOfModifier(vk, scan_code, extended);
  if (IsNeverNamed(resolved)) return std::nullopt;
  for (const KeyCatalogEntry& row : GetKeyCatalog()) {
    // The row's own scan code wins over the captured one, so bindings compare stably.
    if (static_cast<uint32_t>(row.vk) == resolved && row.extended == extended) {
      return KeyBindingFromCatalogEntry(row, source);
    }
  }
  if (scan_code == 0) scan_code = VirtualKeyToScanCode(resolved);
  std::optional<KeyCatalogEntry> row = NameKeyOutsideCatalog(resolved, scan_code);
  if (!row) return std::nullopt;
  return KeyBindingFromCatalogEntry(*row, source);
}

std::optional<KeyBinding> FindKeyCatalogEntry(const std::string& name, const std::string& source) {
  std::string wanted = ToLower(name);
  for (const KeyCatalogEntry& row : GetKeyCatalog()) {
    if (wanted == ToLower(row.label) || wanted == ToLower(row.browser_key) ||
        wanted == ToLower(row.browser_code) || wanted == ToLower(row.id)) {
      return KeyBindingFromCatalogEntry(row, source);
    }
  }
  if (wanted == "+") return FindKeyCatalogEntry("NumpadAdd", source);
  return std::nullopt;
}

KeyBinding KeyBindingFromLegacyName(const std::string& label, const std::string& key_name) {
  if (auto found = FindKeyCatalogEntry(key_name, kKeySourceMigratedLegacy)) return *found;
  if (auto found = FindKeyCatalogEntry(label, kKeySourceMigratedLegacy)) return *found;
  return DefaultPttTriggerKey();
}

KeyBinding DefaultPttTriggerKey() {
  // Looked up directly rather than through KeyBindingFromLegacyName, whose own fallback is
  // this function.
  return *FindKeyCatalogEntry("Add", kKeySourceDefault);
}

KeyBinding DefaultVoiceChatKey() { return *FindKeyCatalogEntry("k", kKeySourceDefault); }

bool KeyBindingsMatch(const KeyBinding& a, const KeyBinding& b) {
  return a.scan_code == b.scan_code && a.extended == b.extended && a.vk == b.vk;
}

bool IsMouseButtonBinding(const KeyBinding& binding) {
  if (binding.vk != 4 && binding.vk != 5 && binding.vk != 6) return false;
  std::string id = ToLower(binding.id);
  return id == "mouse_middle" || id == "mouse_x1" || id == "mouse_x2";
}

bool IsValidKeyBinding(const KeyBinding& binding) {
  if (binding.id.empty() || binding.label.empty() || binding.vk == 0 || binding.scan_code == 0) {
    return false;
  }
  if (binding.vk == 1 || binding.vk == 2 || binding.vk == 4 || binding.vk == 5 ||
      binding.vk == 6) {
    return IsMouseButtonBinding(binding);
  }
  return ToLower(binding.id).rfind("mouse_", 0) != 0;
}

bool IsReservedMouseButton(int32_t vk) { return vk == 1 || vk == 2; }

}  // namespace zennic
