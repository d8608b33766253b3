#pragma once

#include <string>
#include <vector>

#include "engine/cable_device_names.h"
#include "windows_audio/audio_policy_backend.h"

namespace zennic {

// Rules on a set of default endpoints (the current defaults or a snapshot of them).

// The render/console name when present, else the first present render name; else empty.
std::string DefaultsOutputName(const std::vector<AudioRoleEndpoint>& endpoints);
std::string DefaultsInputName(const std::vector<AudioRoleEndpoint>& endpoints);
// Every flow and role has a present, named, real (non-cable) default: the state to return to.
bool IsSafeNormalPcSnapshot(const std::vector<AudioRoleEndpoint>& endpoints);
// Some present default of the flow has a CABLE Input or CABLE Output name.
bool HasCableDefault(const std::vector<AudioRoleEndpoint>& endpoints, AudioFlow flow);
// The first record of the flow and role, or null.
const AudioRoleEndpoint* FindRoleEndpoint(const std::vector<AudioRoleEndpoint>& endpoints,
                                          AudioFlow flow, AudioRole role);

}  // namespace zennic
