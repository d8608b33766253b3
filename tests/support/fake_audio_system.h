#pragma once

#include <map>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "platform/audio_system.h"
#include "support/fake_audio_stream.h"

namespace zennic::testing {

// An audio system in memory for what a real server cannot show: three roles with different
// defaults, a flow without a default, failures on demand, and streams whose format, clock and
// content a test chooses. Every connection its factory makes sees the same endpoints and
// defaults.
class FakeAudioWorld {
 public:
  FakeAudioWorld();

  // Adds an active endpoint and returns its id ("render:<name>" or "capture:<name>" unless one
  // is given); its streams behave as `settings` say.
  std::string AddEndpoint(AudioFlow flow, const std::string& name, std::string id = {},
                          FakeStreamSettings settings = {});
  // Streams already open on the endpoint fail from now on.
  void RemoveEndpoint(const std::string& id);
  // How streams opened on the endpoint from now on behave.
  void SetStreamSettings(const std::string& id, FakeStreamSettings settings);
  // Makes `id` the default of the flow for one role, or for all three; an empty id is none.
  void SetDefault(AudioFlow flow, AudioRole role, const std::string& id);
  void SetDefaults(AudioFlow flow, const std::string& id);
  std::string DefaultId(AudioFlow flow, AudioRole role) const;

  // Failures, until set back to audio_result::kOk.
  void FailConnections(AudioResult result);
  void FailEnumeration(AudioResult result);
  void FailDefaultQueries(AudioResult result);
  void FailListenerRegistration(AudioResult result);
  // Counted from now, the `call`-th call of SetDefaultEndpoint (1 is the next) fails.
  void FailSetDefaultCall(int call, AudioResult result = audio_result::kFail);

  // Every successful SetDefaultEndpoint so far, in order.
  std::vector<std::pair<std::string, AudioRole>> SetCalls() const;
  // Delivers the event to every registered listener. Changes deliver their own events; a
  // listener may call back into the world.
  void Notify(AudioEndpointEvent event);
  size_t ListenerCount() const;

  AudioSystemFactory Factory();

  // What every connection shares.
  struct State;

 private:
  std::shared_ptr<State> state_;
};

}  // namespace zennic::testing
