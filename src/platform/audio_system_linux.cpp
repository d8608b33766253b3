// The audio seam on PulseAudio (or PipeWire's PulseAudio server). Sinks are render endpoints,
// sources other than monitors are capture endpoints; the three roles share the server's one
// default per flow.

#include <algorithm>

#include "platform/audio_client_linux.h"
#include "platform/audio_system.h"
#include "platform/pulse_connection_linux.h"

namespace zennic {
namespace {

struct PulseDevice {
  std::string name;
  std::string description;
  pa_sample_spec spec{};
  // A capture endpoint is a real source, not the monitor of a sink; an endpoint whose active
  // port is unplugged is not active.
  bool is_endpoint = false;
};

struct DeviceQuery {
  PulseConnection* connection = nullptr;
  std::vector<PulseDevice> devices;
};

template <typename Info>
bool PortUnplugged(const Info* info) {
  return info->active_port != nullptr && info->active_port->available == PA_PORT_AVAILABLE_NO;
}

PulseDevice DeviceOf(const pa_sink_info* info) {
  return {info->name ? info->name : "", info->description ? info->description : "",
          info->sample_spec, !PortUnplugged(info)};
}

PulseDevice DeviceOf(const pa_source_info* info) {
  return {info->name ? info->name : "", info->description ? info->description : "",
          info->sample_spec, info->monitor_of_sink == PA_INVALID_INDEX && !PortUnplugged(info)};
}

template <typename Info>
void OnDeviceInfo(pa_context*, const Info* info, int end_of_list, void* userdata) {
  auto* query = static_cast<DeviceQuery*>(userdata);
  if (end_of_list == 0 && info != nullptr) query->devices.push_back(DeviceOf(info));
  if (end_of_list != 0) query->connection->Signal();
}

struct ServerQuery {
  PulseConnection* connection = nullptr;
  std::string default_sink;
  std::string default_source;
};

void OnServerInfo(pa_context*, const pa_server_info* info, void* userdata) {
  auto* query = static_cast<ServerQuery*>(userdata);
  if (info != nullptr) {
    query->default_sink = info->default_sink_name ? info->default_sink_name : "";
    query->default_source = info->default_source_name ? info->default_source_name : "";
  }
  query->connection->Signal();
}

// Wakes a wait on the connection whenever the server reports a change.
class ChangeWatch final : public AudioEndpointListener {
 public:
  explicit ChangeWatch(PulseConnection* connection) : connection_(connection) {}
  void OnAudioEndpointEvent(AudioEndpointEvent) override {
    changed = true;
    connection_->Signal();
  }
  bool changed = false;  // guarded by the loop lock

 private:
  PulseConnection* connection_;
};

std::string FriendlyNameOf(const PulseDevice& device) {
  return device.description.empty() ? device.name : device.description;
}

class PulseAudioEndpoint final : public AudioEndpoint {
 public:
  PulseAudioEndpoint(std::shared_ptr<PulseConnection> connection, AudioFlow flow,
                     PulseDevice device)
      : connection_(std::move(connection)), flow_(flow), device_(std::move(device)) {}

  AudioResult Activate(std::unique_ptr<AudioClient>* client) override {
    if (client == nullptr) return audio_result::kPointer;
    *client = MakePulseAudioClient(connection_, flow_, device_.name, device_.spec);
    return audio_result::kOk;
  }

 private:
  std::shared_ptr<PulseConnection> connection_;
  AudioFlow flow_;
  PulseDevice device_;
};

class PulseAudioSystem final : public AudioSystem {
 public:
  explicit PulseAudioSystem(std::shared_ptr<PulseConnection> connection)
      : connection_(std::move(connection)) {}

  // Endpoints and clients may keep the connection alive; its listeners end here.
  ~PulseAudioSystem() override {
    PulseLock lock(*connection_);
    for (AudioEndpointListener* listener : listeners_) connection_->RemoveListener(listener);
  }

  AudioResult EnumerateEndpoints(AudioFlow flow,
                                 std::vector<AudioEndpointDescription>* endpoints) override {
    if (endpoints == nullptr) return audio_result::kPointer;
    endpoints->clear();
    PulseLock lock(*connection_);
    std::vector<PulseDevice> devices;
    AudioResult listed = ListEndpoints(flow, &devices);
    if (AudioFailed(listed)) return listed;
    for (const PulseDevice& device : devices) {
      endpoints->push_back({MakePulseEndpointId(flow, device.name), FriendlyNameOf(device)});
    }
    return audio_result::kOk;
  }

  AudioResult GetDefaultEndpoint(AudioFlow flow, AudioRole,
                                 AudioEndpointDescription* endpoint) override {
    if (endpoint == nullptr) return audio_result::kPointer;
    *endpoint = {};
    PulseLock lock(*connection_);
    std::string name;
    AudioResult queried = QueryDefaultName(flow, &name);
    if (AudioFailed(queried)) return queried;
    // The server falls back to a sink's monitor when no real source exists: that is no
    // microphone, so there is no default.
    std::vector<PulseDevice> devices;
    AudioResult listed = ListEndpoints(flow, &devices);
    if (AudioFailed(listed)) return listed;
    auto found = std::find_if(devices.begin(), devices.end(),
                              [&name](const PulseDevice& device) { return device.name == name; });
    if (name.empty() || found == devices.end()) return audio_result::kNotFound;
    *endpoint = {MakePulseEndpointId(flow, found->name), FriendlyNameOf(*found)};
    return audio_result::kOk;
  }

  AudioResult SetDefaultEndpoint(const std::string& id, AudioRole) override {
    PulseLock lock(*connection_);
    AudioFlow flow;
    PulseDevice device;
    AudioResult found = FindEndpoint(id, &flow, &device);
    if (AudioFailed(found)) return found;
    // PipeWire's server answers before its session manager has made the device the default,
    // while on Windows the change has taken effect when the call returns: the server's own
    // default is awaited. The watch is in place before the change, so no news of it is missed.
    ChangeWatch watch(connection_.get());
    AudioResult result = connection_->AddListener(&watch);
    if (AudioSucceeded(result)) {
      pa_context* context = connection_->context();
      PulseSuccessRequest request{connection_.get(), false};
      auto answer = PulseSuccessRequest::OnContextAnswer;
      result = connection_->Finish(
          flow == AudioFlow::kRender
              ? pa_context_set_default_sink(context, device.name.c_str(), answer, &request)
              : pa_context_set_default_source(context, device.name.c_str(), answer, &request),
          request);
    }
    while (AudioSucceeded(result)) {
      watch.changed = false;
      std::string current;
      result = QueryDefaultName(flow, &current);
      if (AudioFailed(result) || current == device.name) break;
      result = connection_->WaitUntil([&watch] { return watch.changed; });
    }
    connection_->RemoveListener(&watch);
    return result;
  }

  AudioResult OpenEndpoint(const std::string& id,
                           std::unique_ptr<AudioEndpoint>* endpoint) override {
    if (endpoint == nullptr) return audio_result::kPointer;
    endpoint->reset();
    PulseLock lock(*connection_);
    AudioFlow flow;
    PulseDevice device;
    AudioResult found = FindEndpoint(id, &flow, &device);
    if (AudioFailed(found)) return found;
    *endpoint = std::make_unique<PulseAudioEndpoint>(connection_, flow, std::move(device));
    return audio_result::kOk;
  }

  AudioResult RegisterEndpointListener(AudioEndpointListener* listener) override {
    if (connection_->InLoopThread()) return audio_result::kOutOfOrder;
    PulseLock lock(*connection_);
    AudioResult added = connection_->AddListener(listener);
    if (AudioSucceeded(added)) listeners_.push_back(listener);
    return added;
  }

  AudioResult UnregisterEndpointListener(AudioEndpointListener* listener) override {
    if (connection_->InLoopThread()) return audio_result::kOutOfOrder;
    PulseLock lock(*connection_);
    connection_->RemoveListener(listener);
    listeners_.erase(std::remove(listeners_.begin(), listeners_.end(), listener), listeners_.end());
    return audio_result::kOk;
  }

 private:
  // Locked. The name of the server's default sink or source.
  AudioResult QueryDefaultName(AudioFlow flow, std::string* name) {
    ServerQuery server{connection_.get(), {}, {}};
    AudioResult queried =
        connection_->Finish(pa_context_get_server_info(connection_->context(), OnServerInfo,
                                                       &server));
    if (AudioFailed(queried)) return queried;
    *name = flow == AudioFlow::kRender ? server.default_sink : server.default_source;
    return audio_result::kOk;
  }

  // Locked. The flow's active endpoints in the server's order.
  AudioResult ListEndpoints(AudioFlow flow, std::vector<PulseDevice>* devices) {
    DeviceQuery query{connection_.get(), {}};
    pa_context* context = connection_->context();
    AudioResult result = connection_->Finish(
        flow == AudioFlow::kRender
            ? pa_context_get_sink_info_list(context, OnDeviceInfo<pa_sink_info>, &query)
            : pa_context_get_source_info_list(context, OnDeviceInfo<pa_source_info>, &query));
    if (AudioFailed(result)) return result;
    for (PulseDevice& device : query.devices) {
      if (device.is_endpoint) devices->push_back(std::move(device));
    }
    return audio_result::kOk;
  }

  // Locked. kNotFound for an id that names no active endpoint.
  AudioResult FindEndpoint(const std::string& id, AudioFlow* flow, PulseDevice* device) {
    std::string name;
    if (!ParsePulseEndpointId(id, flow, &name)) return audio_result::kNotFound;
    DeviceQuery query{connection_.get(), {}};
    pa_context* context = connection_->context();
    AudioResult result = connection_->Finish(
        *flow == AudioFlow::kRender
            ? pa_context_get_sink_info_by_name(context, name.c_str(), OnDeviceInfo<pa_sink_info>,
                                               &query)
            : pa_context_get_source_info_by_name(context, name.c_str(),
                                                 OnDeviceInfo<pa_source_info>, &query));
    if (AudioFailed(result)) return result;
    if (query.devices.empty() || !query.devices.front().is_endpoint) {
      return audio_result::kNotFound;
    }
    *device = std::move(query.devices.front());
    return audio_result::kOk;
  }

  std::shared_ptr<PulseConnection> connection_;
  std::vector<AudioEndpointListener*> listeners_;  // guarded by the loop lock
};

}  // namespace

std::unique_ptr<AudioSystem> ConnectAudioSystem(AudioResult* result) {
  std::shared_ptr<PulseConnection> connection = PulseConnection::Connect(result);
  if (connection == nullptr) return nullptr;
  return std::make_unique<PulseAudioSystem>(std::move(connection));
}

}  // namespace zennic
