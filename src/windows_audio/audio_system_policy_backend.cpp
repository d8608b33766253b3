#include "windows_audio/audio_system_policy_backend.h"

namespace zennic {
namespace {

bool Fail(std::string* error, std::string text) {
  if (error != nullptr) *error = std::move(text);
  return false;
}

// An endpoint whose friendly name cannot be read goes by its id.
std::string NameOf(const AudioEndpointDescription& endpoint) {
  return endpoint.friendly_name.empty() ? endpoint.id : endpoint.friendly_name;
}

AudioRole KnownRole(AudioRole role) {
  for (AudioRole known : kAudioRoleOrder) {
    if (role == known) return role;
  }
  return AudioRole::kConsole;
}

}  // namespace

AudioSystemPolicyBackend::AudioSystemPolicyBackend(AudioSystemFactory audio_systems)
    : audio_systems_(std::move(audio_systems)) {}

std::unique_ptr<AudioSystem> AudioSystemPolicyBackend::Connect() const {
  AudioResult connected = audio_result::kOk;
  return audio_systems_(&connected);
}

bool AudioSystemPolicyBackend::GetDefaultEndpoints(std::vector<AudioRoleEndpoint>* endpoints,
                                                   std::string* error) {
  if (endpoints == nullptr) return Fail(error, "Default endpoint output pointer is null");
  endpoints->clear();
  std::unique_ptr<AudioSystem> system = Connect();
  if (system == nullptr) return Fail(error, "MMDeviceEnumerator creation failed");

  std::vector<AudioRoleEndpoint> defaults;
  for (AudioFlow flow : kAudioFlowOrder) {
    for (AudioRole role : kAudioRoleOrder) {
      AudioEndpointDescription endpoint;
      AudioResult result = system->GetDefaultEndpoint(flow, role, &endpoint);
      AudioRoleEndpoint record{flow, role, {}, {}, false};
      if (result != audio_result::kNotFound) {
        // Only "no default" is an answer; any other failure would pass for an empty role and
        // let a restore skip roles it should set back.
        if (AudioFailed(result)) {
          return Fail(error, FormatHresult("Windows audio default endpoint query failed", result));
        }
        record.id = endpoint.id;
        record.name = NameOf(endpoint);
        record.present = !record.id.empty();
      }
      defaults.push_back(std::move(record));
    }
  }
  *endpoints = std::move(defaults);
  return true;
}

bool AudioSystemPolicyBackend::EnumerateEndpoints(AudioFlow flow,
                                                  std::vector<AudioEndpointInfo>* endpoints,
                                                  std::string* error) {
  if (endpoints == nullptr) return Fail(error, "Endpoint list output pointer is null");
  endpoints->clear();
  std::unique_ptr<AudioSystem> system = Connect();
  if (system == nullptr) return Fail(error, "MMDeviceEnumerator creation failed");
  std::vector<AudioEndpointDescription> listed;
  if (AudioFailed(system->EnumerateEndpoints(flow, &listed))) {
    return Fail(error, "Windows audio endpoint enumeration failed");
  }
  for (const AudioEndpointDescription& endpoint : listed) {
    if (endpoint.id.empty()) continue;
    endpoints->push_back({flow, endpoint.id, NameOf(endpoint)});
  }
  return true;
}

bool AudioSystemPolicyBackend::SetDefaultEndpoint(const std::string& endpoint_id, AudioRole role,
                                                  std::string* error) {
  if (endpoint_id.empty()) return Fail(error, "Endpoint id is empty");
  std::unique_ptr<AudioSystem> system = Connect();
  if (system == nullptr) {
    return Fail(error, "IPolicyConfig is unavailable on this Windows installation");
  }
  if (AudioFailed(system->SetDefaultEndpoint(endpoint_id, KnownRole(role)))) {
    return Fail(error, "Windows rejected the default audio device change");
  }
  return true;
}

}  // namespace zennic
