#pragma once

#include "platform/audio_system.h"
#include "windows_audio/audio_policy_backend.h"

namespace zennic {

// The policy backend on the audio seam. It keeps nothing between calls: each call opens its own
// connection, so a restarted audio server is simply found again.
class AudioSystemPolicyBackend final : public AudioPolicyBackend {
 public:
  explicit AudioSystemPolicyBackend(AudioSystemFactory audio_systems);

  bool GetDefaultEndpoints(std::vector<AudioRoleEndpoint>* endpoints, std::string* error) override;
  bool EnumerateEndpoints(AudioFlow flow, std::vector<AudioEndpointInfo>* endpoints,
                          std::string* error) override;
  bool SetDefaultEndpoint(const std::string& endpoint_id, AudioRole role,
                          std::string* error) override;

 private:
  // A fresh connection, or null when no audio service answers.
  std::unique_ptr<AudioSystem> Connect() const;

  AudioSystemFactory audio_systems_;
};

}  // namespace zennic
