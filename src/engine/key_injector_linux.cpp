#include "engine/key_injector.h"

#include <X11/extensions/XTest.h>

#include <cstdio>
#include <optional>

#include "engine/x11_key_codes.h"
#include "engine/x_display_connection.h"
#include "model/key_catalog.h"

namespace zennic {
namespace {

struct XSyntheticInput {
  bool is_button = false;
  unsigned code = 0;  // the X button, or the X key code
};

std::optional<XSyntheticInput> BuildInput(const KeyBinding& binding, std::string* reason) {
  if (IsMouseButtonBinding(binding)) {
    std::optional<unsigned> button = XButtonFromMouseButtonCode(static_cast<uint32_t>(binding.vk));
    if (button) return XSyntheticInput{true, *button};
    *reason = "mouse button " + std::to_string(binding.vk) + " has no X button";
    return std::nullopt;
  }
  uint32_t scan_code = static_cast<uint32_t>(binding.scan_code) & 0xFFFFu;
  std::optional<unsigned> keycode = XKeycodeFromScanCode(scan_code, binding.extended);
  if (keycode) return XSyntheticInput{false, *keycode};
  char text[80];
  std::snprintf(text, sizeof(text), "scan code 0x%X%s has no key on this keyboard", scan_code,
                binding.extended ? " (extended)" : "");
  *reason = text;
  return std::nullopt;
}

}  // namespace

struct KeyInjector::Connection {
  std::unique_ptr<XDisplayConnection> display;
};

KeyInjector::KeyInjector() : connection_(std::make_unique<Connection>()) {}

KeyInjector::~KeyInjector() = default;

bool KeyInjector::KeyDown(const KeyBinding& binding, std::string* error) {
  return Inject(binding, true, error);
}

bool KeyInjector::KeyUp(const KeyBinding& binding, std::string* error) {
  return Inject(binding, false, error);
}

bool KeyInjector::Inject(const KeyBinding& binding, bool press, std::string* error) {
  const std::string failure =
      press ? "SendInput failed for key down" : "SendInput failed for key up";
  std::string reason;
  std::optional<XSyntheticInput> input = BuildInput(binding, &reason);
  if (!input) {
    if (error != nullptr) *error = failure + ": " + reason;
    return false;
  }
  std::lock_guard lock(mutex_);
  std::unique_ptr<XDisplayConnection>& display = connection_->display;
  // A connection that went down with its server is replaced; a fresh one that fails at once
  // is not tried again until the next call.
  for (int attempt = 0; attempt < 2; ++attempt) {
    bool fresh = false;
    if (display != nullptr && display->lost()) display.reset();
    if (display == nullptr) {
      display = XDisplayConnection::Open(&reason);
      int event_base = 0, error_base = 0, major = 0, minor = 0;
      if (display != nullptr && !XTestQueryExtension(display->display(), &event_base,
                                                     &error_base, &major, &minor)) {
        reason = "the X server has no XTEST extension";
        display.reset();
      }
      if (display == nullptr) break;
      fresh = true;
    }
    Bool is_press = press ? True : False;
    if (input->is_button) {
      XTestFakeButtonEvent(display->display(), input->code, is_press, CurrentTime);
    } else {
      XTestFakeKeyEvent(display->display(), input->code, is_press, CurrentTime);
    }
    if (display->Sync()) return true;
    reason.clear();
    if (fresh || !display->lost()) break;
  }
  if (error != nullptr) *error = reason.empty() ? failure : failure + ": " + reason;
  return false;
}

}  // namespace zennic
