#include "windows_audio/endpoint_rules.h"

#include "core/text.h"

namespace zennic {
namespace {

bool StartsWith(const std::string& text, std::string_view prefix) {
  return text.compare(0, prefix.size(), prefix) == 0;
}

bool Contains(const std::string& text, std::string_view part) {
  return text.find(part) != std::string::npos;
}

std::string DefaultsName(const std::vector<AudioRoleEndpoint>& endpoints, AudioFlow flow) {
  const AudioRoleEndpoint* console = FindRoleEndpoint(endpoints, flow, AudioRole::kConsole);
  if (console != nullptr && console->present) return console->name;
  for (const AudioRoleEndpoint& endpoint : endpoints) {
    if (endpoint.flow == flow && endpoint.present) return endpoint.name;
  }
  return {};
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

std::string DefaultsOutputName(const std::vector<AudioRoleEndpoint>& endpoints) {
  return DefaultsName(endpoints, AudioFlow::kRender);
}

std::string DefaultsInputName(const std::vector<AudioRoleEndpoint>& endpoints) {
  return DefaultsName(endpoints, AudioFlow::kCapture);
}

bool IsSafeNormalPcSnapshot(const std::vector<AudioRoleEndpoint>& endpoints) {
  for (AudioFlow flow : kAudioFlowOrder) {
    for (AudioRole role : kAudioRoleOrder) {
      const AudioRoleEndpoint* endpoint = FindRoleEndpoint(endpoints, flow, role);
      if (endpoint == nullptr || !endpoint->present || endpoint->id.empty() ||
          Trim(endpoint->name).empty() || IsVirtualCableDeviceName(endpoint->name)) {
        return false;
      }
    }
  }
  return true;
}

bool HasCableDefault(const std::vector<AudioRoleEndpoint>& endpoints, AudioFlow flow) {
  for (const AudioRoleEndpoint& endpoint : endpoints) {
    if (endpoint.flow == flow && endpoint.present &&
        (HasCableInputNamePrefix(endpoint.name) || HasCableOutputNamePrefix(endpoint.name))) {
      return true;
    }
  }
  return false;
}

const AudioRoleEndpoint* FindRoleEndpoint(const std::vector<AudioRoleEndpoint>& endpoints,
                                          AudioFlow flow, AudioRole role) {
  for (const AudioRoleEndpoint& endpoint : endpoints) {
    if (endpoint.flow == flow && endpoint.role == role) return &endpoint;
  }
  return nullptr;
}

}  // namespace zennic
