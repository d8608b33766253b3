#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "api/last_self_test_outcome.h"
#include "engine/mixer_device_info.h"
#include "model/mixer_settings.h"
#include "windows_audio/audio_policy_backend.h"
#include "windows_audio/audio_route_monitor.h"

namespace zennic {

struct RuntimeSnapshot;

// The lookups every handler shares, as pure functions over the caller's copies: no lock, no
// service. Device names match lower-cased with white space removed. Profiles are looked up
// with ProfileService::FindProfile and ProfileService::ActiveProfile.

// The device with `index` when one has it; otherwise the first whose name matches `name`.
std::optional<MixerDeviceInfo> FindDevice(const std::vector<MixerDeviceInfo>& devices,
                                          std::optional<int32_t> index, const std::string& name);
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

// The tested pair of the last setup check, as the current devices show it: the output with
// the tested playback id and a CABLE Input name, the input with the matching recording id and
// a CABLE Output name.
struct StoredCableDevices {
  std::optional<MixerDeviceInfo> playback;
  std::optional<MixerDeviceInfo> recording;
};
StoredCableDevices FindStoredCableDevices(const MixerDeviceList& devices,
                                          const LastSelfTestOutcome& outcome);

// Either side of the cable, by the Windows audio manager's prefixes.
bool IsCableDeviceName(const std::string& name);
// The user consented to switching, the setup check stored a CABLE Input / CABLE Output pair,
// and the chosen output is still that CABLE Input.
bool IsVerifiedVoicePathUsable(const MixerSettings& settings);
// What the route check needs, taken from one snapshot.
AudioRouteMonitorContext VoicePathStateOf(const RuntimeSnapshot& snapshot);

}  // namespace zennic
