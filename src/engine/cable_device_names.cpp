#include "engine/cable_device_names.h"

#include <string_view>

#include "core/text.h"

namespace zennic {
namespace {

bool StartsWith(const std::string& text, std::string_view prefix) {
  return text.compare(0, prefix.size(), prefix) == 0;
}

bool Contains(const std::string& text, std::string_view part) {
  return text.find(part) != std::string::npos;
}

}  // namespace

bool HasCableInputNamePrefix(const std::string& name) {
  return StartsWith(NormalizeChoiceKey(name), "cablein");
}

bool HasCableOutputNamePrefix(const std::string& name) {
  return StartsWith(NormalizeChoiceKey(name), "cableout");
}

bool IsCableInputDeviceName(const std::string& name) {
  return HasCableInputNamePrefix(name) && !HasCableOutputNamePrefix(name);
}

bool IsCableOutputDeviceName(const std::string& name) {
  return HasCableOutputNamePrefix(name) && !HasCableInputNamePrefix(name);
}

bool IsVirtualCableDeviceName(const std::string& name) {
  return HasCableInputNamePrefix(name) || HasCableOutputNamePrefix(name) ||
         Contains(NormalizeChoiceKey(name), "vbaudiovirtualcable");
}

bool IsUsableEndpointName(const std::string& name) {
  return !Trim(name).empty() && !IsVirtualCableDeviceName(name);
}

int PhysicalDevicePriority(AudioFlow flow, const std::string& name) {
  std::string key = NormalizeChoiceKey(name);
  if (flow == AudioFlow::kCapture) {
    if (Contains(key, "microphone") || Contains(key, "mic")) return 0;
    if (Contains(key, "headset") || Contains(key, "headphone")) return 1;
  } else {
    if (Contains(key, "headset") || Contains(key, "headphone")) return 0;
    if (Contains(key, "speaker")) return 1;
  }
  return 2;
}

}  // namespace zennic
