#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "engine/mixer_device_info.h"
#include "model/mixer_settings.h"
#include "windows_audio/audio_policy_backend.h"
#include "windows_audio/audio_route_monitor.h"
#include "windows_audio/windows_audio_status.h"

namespace zennic {

struct RuntimeSnapshot;

// The lookups every handler shares, as pure functions over the caller's copies: no lock, no
// service. Device names match lower-cased with white space removed. Profiles are looked up
// with ProfileService::FindProfile and ProfileService::ActiveProfile.

// The device with `index` when one has it; otherwise the first whose name matches `name`.
std::optional<MixerDeviceInfo> FindDevice(const std::vector<MixerDeviceInfo>& devices,
                                          std::optional<int32_t> index, const std::string& name);
// A stored index while its device has the saved name (or none is saved), as the engine's device
// choice keeps it; otherwise the first device with the saved name. Indices shift when devices
// come and go, and a shifted one would stand for another device.
std::optional<int32_t> StoredDeviceIndex(const std::vector<MixerDeviceInfo>& devices,
                                         std::optional<int32_t> stored, const std::string& name);
// The index of the first device whose name matches; none for a blank name.
std::optional<int32_t> FindDeviceByName(const std::vector<MixerDeviceInfo>& devices,
                                        const std::string& name);

// The console default's name for the flow, else the first present default's; else empty.
std::string EndpointNameForRole(const std::vector<AudioRoleEndpoint>& endpoints, AudioFlow flow);

// The active playback endpoint with the verified id that is still named as a CABLE Input.
std::optional<AudioEndpointInfo> FindVerifiedCablePlayback(
    const std::vector<AudioEndpointInfo>& endpoints, const MixerSettings& settings);
// Some device has the id and a CABLE Output name.
bool HasCableRecordingDevice(const std::vector<MixerDeviceInfo>& devices,
                             const std::string& endpoint_id);

// A cable pair as the current devices show it: the output with the playback id and a CABLE
// Input name, the input with the recording id and a CABLE Output name.
struct CablePairDevices {
  std::optional<MixerDeviceInfo> playback;
  std::optional<MixerDeviceInfo> recording;
};
CablePairDevices FindCablePairDevices(const MixerDeviceList& devices,
                                      const std::string& playback_id,
                                      const std::string& recording_id);

// Every role of the flow has a present default whose name is neither side of the cable nor blank.
bool RoleDefaultsPhysical(const std::vector<AudioRoleEndpoint>& defaults, AudioFlow flow);
// The defaults are not the user's own: an earlier run left the cable in place, or a session is
// open that no running mixer explains. Either argument is null when it could not be read.
bool AudioRecoveryRequired(const WindowsAudioStatus* status,
                           const std::vector<AudioRoleEndpoint>* defaults, bool mixer_running);

// Either side of the cable, by the Windows audio manager's prefixes.
bool IsCableDeviceName(const std::string& name);
// The user consented to switching, the setup check stored a CABLE Input / CABLE Output pair,
// and the chosen output is still that CABLE Input.
bool IsVerifiedVoicePathUsable(const MixerSettings& settings);
// Why the verified path is not usable, as the code a refused start names: "verified_cable_required"
// (no pair stored), "verified_output_changed" (another output chosen since), or
// "windows_input_switching_off"; empty when it is usable.
std::string VerifiedVoicePathProblem(const MixerSettings& settings);
// What the route check needs, taken from one snapshot.
AudioRouteMonitorContext VoicePathStateOf(const RuntimeSnapshot& snapshot);

}  // namespace zennic
