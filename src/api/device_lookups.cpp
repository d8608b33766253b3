#include "api/device_lookups.h"

#include <algorithm>

#include "engine/mixer_device_choice.h"
#include "model/runtime_state.h"
#include "core/text.h"
#include "windows_audio/endpoint_rules.h"

namespace zennic {
namespace {

std::optional<MixerDeviceInfo> FirstWithIdAndName(const std::vector<MixerDeviceInfo>& devices,
                                                  const std::string& id,
                                                  bool (*name_test)(const std::string&)) {
  for (const MixerDeviceInfo& device : devices) {
    if (device.id == id && name_test(device.name)) return device;
  }
  return std::nullopt;
}

}  // namespace

std::optional<MixerDeviceInfo> FindDevice(const std::vector<MixerDeviceInfo>& devices,
                                          std::optional<int32_t> index, const std::string& name) {
  if (index) {
    for (const MixerDeviceInfo& device : devices) {
      if (device.index == *index) return device;
    }
  }
  const MixerDeviceInfo* named = FindMixerDeviceByName(devices, name);
  return named != nullptr ? std::optional<MixerDeviceInfo>(*named) : std::nullopt;
}

std::optional<int32_t> StoredDeviceIndex(const std::vector<MixerDeviceInfo>& devices,
                                         std::optional<int32_t> stored, const std::string& name) {
  if (stored) {
    for (const MixerDeviceInfo& device : devices) {
      if (device.index == *stored && (Trim(name).empty() || DeviceNamesMatch(name, device.name))) {
        return stored;
      }
    }
  }
  return FindDeviceByName(devices, name);
}

std::optional<int32_t> FindDeviceByName(const std::vector<MixerDeviceInfo>& devices,
                                        const std::string& name) {
  const MixerDeviceInfo* named = FindMixerDeviceByName(devices, name);
  return named != nullptr ? std::optional<int32_t>(named->index) : std::nullopt;
}

std::string EndpointNameForRole(const std::vector<AudioRoleEndpoint>& endpoints, AudioFlow flow) {
  return flow == AudioFlow::kRender ? DefaultsOutputName(endpoints) : DefaultsInputName(endpoints);
}

std::optional<AudioEndpointInfo> FindVerifiedCablePlayback(
    const std::vector<AudioEndpointInfo>& endpoints, const MixerSettings& settings) {
  for (const AudioEndpointInfo& endpoint : endpoints) {
    if (endpoint.id == settings.verified_game_voice_output_id &&
        IsCableInputDeviceName(endpoint.name)) {
      return endpoint;
    }
  }
  return std::nullopt;
}

bool HasCableRecordingDevice(const std::vector<MixerDeviceInfo>& devices,
                             const std::string& endpoint_id) {
  return FirstWithIdAndName(devices, endpoint_id, IsCableOutputDeviceName).has_value();
}

CablePairDevices FindCablePairDevices(const MixerDeviceList& devices,
                                      const std::string& playback_id,
                                      const std::string& recording_id) {
  return {FirstWithIdAndName(devices.outputs, playback_id, IsCableInputDeviceName),
          FirstWithIdAndName(devices.inputs, recording_id, IsCableOutputDeviceName)};
}

bool RoleDefaultsPhysical(const std::vector<AudioRoleEndpoint>& defaults, AudioFlow flow) {
  return std::all_of(kAudioRoleOrder.begin(), kAudioRoleOrder.end(), [&](AudioRole role) {
    const AudioRoleEndpoint* endpoint = FindRoleEndpoint(defaults, flow, role);
    return endpoint != nullptr && endpoint->present && !Trim(endpoint->name).empty() &&
           !IsCableDeviceName(endpoint->name);
  });
}

bool AudioRecoveryRequired(const WindowsAudioStatus* status,
                           const std::vector<AudioRoleEndpoint>* defaults, bool mixer_running) {
  if (status == nullptr || defaults == nullptr) return true;
  if (status->session_active ? !mixer_running : status->current_default_input_is_cable) {
    return true;
  }
  return !RoleDefaultsPhysical(*defaults, AudioFlow::kRender) ||
         status->current_default_output_is_cable;
}

bool IsCableDeviceName(const std::string& name) {
  return HasCableInputNamePrefix(name) || HasCableOutputNamePrefix(name);
}

bool IsVerifiedVoicePathUsable(const MixerSettings& settings) {
  return VerifiedVoicePathProblem(settings).empty();
}

std::string VerifiedVoicePathProblem(const MixerSettings& settings) {
  if (settings.verified_game_voice_output_id.empty() ||
      settings.verified_game_voice_input_id.empty() ||
      !IsCableInputDeviceName(settings.verified_game_voice_output_name) ||
      !IsCableOutputDeviceName(settings.verified_game_voice_input_name)) {
    return "verified_cable_required";
  }
  if (NormalizeChoiceKey(settings.out_name) !=
      NormalizeChoiceKey(settings.verified_game_voice_output_name)) {
    return "verified_output_changed";
  }
  if (!settings.audio_management_enabled || !settings.audio_management_consent_granted) {
    return "windows_input_switching_off";
  }
  return "";
}

AudioRouteMonitorContext VoicePathStateOf(const RuntimeSnapshot& snapshot) {
  AudioRouteMonitorContext context;
  context.mixer_running = snapshot.mixer_running;
  context.cable_verified = IsVerifiedVoicePathUsable(snapshot.settings);
  context.verified_cable_id = snapshot.settings.verified_game_voice_input_id;
  context.verified_cable_name = snapshot.settings.verified_game_voice_input_name;
  return context;
}

}  // namespace zennic
