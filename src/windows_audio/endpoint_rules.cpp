#include "windows_audio/endpoint_rules.h"

#include "core/text.h"

namespace zennic {
namespace {

std::string DefaultsName(const std::vector<AudioRoleEndpoint>& endpoints, AudioFlow flow) {
  const AudioRoleEndpoint* console = FindRoleEndpoint(endpoints, flow, AudioRole::kConsole);
  if (console != nullptr && console->present) return console->name;
  for (const AudioRoleEndpoint& endpoint : endpoints) {
    if (endpoint.flow == flow && endpoint.present) return endpoint.name;
  }
  return {};
}

}  // namespace

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
