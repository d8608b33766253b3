#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "model/key_binding.h"

namespace zennic {

// One key or mouse button that can serve as a hotkey or be injected as the voice-chat key.
struct KeyCatalogEntry {
  std::string id;
  std::string label;
  std::string browser_key;
  std::string browser_code;
  int32_t location = 0;
  int32_t vk = 0;
  int32_t scan_code = 0;
  bool extended = false;
};

// The fixed list of 101 keys, built on first use. Order matters: every lookup takes the
// first row that matches.
const std::vector<KeyCatalogEntry>& GetKeyCatalog();

KeyBinding KeyBindingFromCatalogEntry(const KeyCatalogEntry& entry, const std::string& source);

// Names a physical key as it arrived from raw input; nothing for keys the program does not
// accept as hotkeys (the left and right mouse buttons, the Windows and menu keys, symbols).
std::optional<KeyBinding> NameCapturedKey(uint32_t vk, int32_t scan_code, bool extended,
                                          const std::string& source);

// The first row whose id, label, browser key or browser code equals `name` without regard to
// case; "+" stands for the numpad plus key.
std::optional<KeyBinding> FindKeyCatalogEntry(const std::string& name, const std::string& source);

// The key named by `key_name`, else by `label` (source "migrated_legacy"); the default
// push-to-talk key when neither names one.
KeyBinding KeyBindingFromLegacyName(const std::string& label, const std::string& key_name);

KeyBinding DefaultPttTriggerKey();  // numpad +
KeyBinding DefaultVoiceChatKey();   // K

bool KeyBindingsMatch(const KeyBinding& a, const KeyBinding& b);
bool IsValidKeyBinding(const KeyBinding& binding);
bool IsMouseButtonBinding(const KeyBinding& binding);
// The left and right mouse buttons, which a hotkey must never take over.
bool IsReservedMouseButton(int32_t vk);

}  // namespace zennic
