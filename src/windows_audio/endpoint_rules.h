#pragma once

#include <string>
#include <vector>

#include "windows_audio/audio_policy_backend.h"

namespace zennic {

// How endpoints are judged by name: the virtual cable is known only by its friendly names, and
// every comparison uses the name lower-cased with all white space removed.

// "CABLE Input", "CABLE In 16 Ch": the cable's playback side.
bool HasCableInputNamePrefix(const std::string& name);
// "CABLE Output", "CABLE Out 16 Ch": the cable's recording side.
bool HasCableOutputNamePrefix(const std::string& name);
// The setup check's names: one side of the cable and not the other.
bool IsCableInputDeviceName(const std::string& name);
bool IsCableOutputDeviceName(const std::string& name);
// Either side of the cable, or any endpoint of the cable's maker.
bool IsVirtualCableDeviceName(const std::string& name);
// A name that can stand for a real device: not empty, not the cable.
bool IsUsableEndpointName(const std::string& name);
// Lower is better: microphones (capture) or headsets (render) first, then the rest.
int PhysicalDevicePriority(AudioFlow flow, const std::string& name);

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
