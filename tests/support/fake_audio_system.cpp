#include "support/fake_audio_system.h"

#include <algorithm>
#include <mutex>

namespace zennic::testing {

struct FakeAudioWorld::State {
  struct Endpoint {
    AudioFlow flow;
    std::string id;
    std::string name;
    FakeStreamSettings stream;
    std::shared_ptr<FakeEndpointPresence> presence = std::make_shared<FakeEndpointPresence>();
  };

  // Recursive: a listener called during a change may look at or change the world.
  mutable std::recursive_mutex mutex;
  std::vector<Endpoint> endpoints;
  std::map<std::pair<AudioFlow, AudioRole>, std::string> defaults;
  AudioResult connection_failure = audio_result::kOk;
  AudioResult enumeration_failure = audio_result::kOk;
  AudioResult default_query_failure = audio_result::kOk;
  AudioResult registration_failure = audio_result::kOk;
  int set_calls_until_failure = 0;
  AudioResult set_failure = audio_result::kOk;
  std::vector<std::pair<std::string, AudioRole>> set_calls;
  std::vector<AudioEndpointListener*> listeners;

  Endpoint* Find(const std::string& id) {
    for (Endpoint& endpoint : endpoints) {
      if (endpoint.id == id) return &endpoint;
    }
    return nullptr;
  }

  // Locked.
  void NotifyLocked(AudioEndpointEvent event) {
    for (AudioEndpointListener* listener : listeners) listener->OnAudioEndpointEvent(event);
  }
};

namespace {

class FakeAudioSystem final : public AudioSystem {
 public:
  explicit FakeAudioSystem(std::shared_ptr<FakeAudioWorld::State> state)
      : state_(std::move(state)) {}

  ~FakeAudioSystem() override {
    std::lock_guard lock(state_->mutex);
    for (AudioEndpointListener* listener : registered_) {
      std::erase(state_->listeners, listener);
    }
  }

  AudioResult EnumerateEndpoints(AudioFlow flow,
                                 std::vector<AudioEndpointDescription>* endpoints) override {
    if (endpoints == nullptr) return audio_result::kPointer;
    endpoints->clear();
    std::lock_guard lock(state_->mutex);
    if (AudioFailed(state_->enumeration_failure)) return state_->enumeration_failure;
    for (const auto& endpoint : state_->endpoints) {
      if (endpoint.flow == flow) endpoints->push_back({endpoint.id, endpoint.name});
    }
    return audio_result::kOk;
  }

  AudioResult GetDefaultEndpoint(AudioFlow flow, AudioRole role,
                                 AudioEndpointDescription* endpoint) override {
    if (endpoint == nullptr) return audio_result::kPointer;
    *endpoint = {};
    std::lock_guard lock(state_->mutex);
    if (AudioFailed(state_->default_query_failure)) return state_->default_query_failure;
    auto found = state_->defaults.find({flow, role});
    if (found == state_->defaults.end()) return audio_result::kNotFound;
    const auto* known = state_->Find(found->second);
    if (known == nullptr) return audio_result::kNotFound;
    *endpoint = {known->id, known->name};
    return audio_result::kOk;
  }

  AudioResult SetDefaultEndpoint(const std::string& id, AudioRole role) override {
    std::lock_guard lock(state_->mutex);
    if (state_->set_calls_until_failure > 0 && --state_->set_calls_until_failure == 0) {
      return state_->set_failure;
    }
    const auto* known = state_->Find(id);
    if (known == nullptr) return audio_result::kNotFound;
    state_->defaults[{known->flow, role}] = id;
    state_->set_calls.emplace_back(id, role);
    state_->NotifyLocked(AudioEndpointEvent::kDefaultChanged);
    return audio_result::kOk;
  }

  AudioResult OpenEndpoint(const std::string& id,
                           std::unique_ptr<AudioEndpoint>* endpoint) override {
    if (endpoint == nullptr) return audio_result::kPointer;
    endpoint->reset();
    std::lock_guard lock(state_->mutex);
    const auto* known = state_->Find(id);
    if (known == nullptr) return audio_result::kNotFound;
    *endpoint = MakeFakeEndpoint(known->flow, known->stream, known->presence);
    return audio_result::kOk;
  }

  AudioResult RegisterEndpointListener(AudioEndpointListener* listener) override {
    if (listener == nullptr) return audio_result::kPointer;
    std::lock_guard lock(state_->mutex);
    if (AudioFailed(state_->registration_failure)) return state_->registration_failure;
    state_->listeners.push_back(listener);
    registered_.push_back(listener);
    return audio_result::kOk;
  }

  AudioResult UnregisterEndpointListener(AudioEndpointListener* listener) override {
    std::lock_guard lock(state_->mutex);
    std::erase(state_->listeners, listener);
    std::erase(registered_, listener);
    return audio_result::kOk;
  }

 private:
  std::shared_ptr<FakeAudioWorld::State> state_;
  std::vector<AudioEndpointListener*> registered_;
};

}  // namespace

FakeAudioWorld::FakeAudioWorld() : state_(std::make_shared<State>()) {}

std::string FakeAudioWorld::AddEndpoint(AudioFlow flow, const std::string& name, std::string id,
                                        FakeStreamSettings settings) {
  if (id.empty()) id = std::string(flow == AudioFlow::kRender ? "render:" : "capture:") + name;
  std::lock_guard lock(state_->mutex);
  state_->endpoints.push_back({flow, id, name, std::move(settings)});
  state_->NotifyLocked(AudioEndpointEvent::kAdded);
  return id;
}

void FakeAudioWorld::RemoveEndpoint(const std::string& id) {
  std::lock_guard lock(state_->mutex);
  if (auto* endpoint = state_->Find(id)) endpoint->presence->present = false;
  std::erase_if(state_->endpoints, [&id](const State::Endpoint& endpoint) { return endpoint.id == id; });
  state_->NotifyLocked(AudioEndpointEvent::kRemoved);
}

void FakeAudioWorld::SetStreamSettings(const std::string& id, FakeStreamSettings settings) {
  std::lock_guard lock(state_->mutex);
  if (auto* endpoint = state_->Find(id)) endpoint->stream = std::move(settings);
}

void FakeAudioWorld::SetDefault(AudioFlow flow, AudioRole role, const std::string& id) {
  std::lock_guard lock(state_->mutex);
  if (id.empty()) {
    state_->defaults.erase({flow, role});
  } else {
    state_->defaults[{flow, role}] = id;
  }
  state_->NotifyLocked(AudioEndpointEvent::kDefaultChanged);
}

void FakeAudioWorld::SetDefaults(AudioFlow flow, const std::string& id) {
  for (AudioRole role :
       {AudioRole::kConsole, AudioRole::kMultimedia, AudioRole::kCommunications}) {
    SetDefault(flow, role, id);
  }
}

std::string FakeAudioWorld::DefaultId(AudioFlow flow, AudioRole role) const {
  std::lock_guard lock(state_->mutex);
  auto found = state_->defaults.find({flow, role});
  return found == state_->defaults.end() ? std::string() : found->second;
}

void FakeAudioWorld::FailConnections(AudioResult result) {
  std::lock_guard lock(state_->mutex);
  state_->connection_failure = result;
}

void FakeAudioWorld::FailEnumeration(AudioResult result) {
  std::lock_guard lock(state_->mutex);
  state_->enumeration_failure = result;
}

void FakeAudioWorld::FailDefaultQueries(AudioResult result) {
  std::lock_guard lock(state_->mutex);
  state_->default_query_failure = result;
}

void FakeAudioWorld::FailListenerRegistration(AudioResult result) {
  std::lock_guard lock(state_->mutex);
  state_->registration_failure = result;
}

void FakeAudioWorld::FailSetDefaultCall(int call, AudioResult result) {
  std::lock_guard lock(state_->mutex);
  state_->set_calls_until_failure = call;
  state_->set_failure = result;
}

std::vector<std::pair<std::string, AudioRole>> FakeAudioWorld::SetCalls() const {
  std::lock_guard lock(state_->mutex);
  return state_->set_calls;
}

void FakeAudioWorld::Notify(AudioEndpointEvent event) {
  std::lock_guard lock(state_->mutex);
  state_->NotifyLocked(event);
}

size_t FakeAudioWorld::ListenerCount() const {
  std::lock_guard lock(state_->mutex);
  return state_->listeners.size();
}

AudioSystemFactory FakeAudioWorld::Factory() {
  std::shared_ptr<State> state = state_;
  return [state](AudioResult* result) -> std::unique_ptr<AudioSystem> {
    AudioResult failure;
    {
      std::lock_guard lock(state->mutex);
      failure = state->connection_failure;
    }
    if (result != nullptr) *result = failure;
    if (AudioFailed(failure)) return nullptr;
    return std::make_unique<FakeAudioSystem>(state);
  };
}

}  // namespace zennic::testing
