#pragma once

#include <array>
#include <string>
#include <vector>

#include "platform/audio_system.h"

namespace zennic {

// The fixed order of every walk over the defaults: render then capture, and within a flow the
// roles console, multimedia, communications.
constexpr std::array<AudioFlow, 2> kAudioFlowOrder = {AudioFlow::kRender, AudioFlow::kCapture};
constexpr std::array<AudioRole, 3> kAudioRoleOrder = {
    AudioRole::kConsole, AudioRole::kMultimedia, AudioRole::kCommunications};

// The default endpoint of one flow and role; also one record of audio_backup.json.
struct AudioRoleEndpoint {
  AudioFlow flow = AudioFlow::kRender;
  AudioRole role = AudioRole::kConsole;
  std::string id;
  std::string name;
  bool present = false;

  bool operator==(const AudioRoleEndpoint&) const = default;
};

// One active endpoint of a flow.
struct AudioEndpointInfo {
  AudioFlow flow = AudioFlow::kRender;
  std::string id;
  std::string name;
};

// How the Windows audio manager reads and changes the system's default endpoints. Each call
// returns false with an English sentence in `error` (when given) on failure.
class AudioPolicyBackend {
 public:
  virtual ~AudioPolicyBackend() = default;
  // Always six records in the fixed order; a flow and role without a default is a record with
  // an empty id and name, not present.
  virtual bool GetDefaultEndpoints(std::vector<AudioRoleEndpoint>* endpoints,
                                   std::string* error) = 0;
  // The flow's active endpoints in the system's order.
  virtual bool EnumerateEndpoints(AudioFlow flow, std::vector<AudioEndpointInfo>* endpoints,
                                  std::string* error) = 0;
  // The flow is the endpoint's own; a role outside the three counts as console.
  virtual bool SetDefaultEndpoint(const std::string& endpoint_id, AudioRole role,
                                  std::string* error) = 0;
};

}  // namespace zennic
