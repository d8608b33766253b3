#include "platform/pulse_connection_linux.h"

#include <algorithm>
#include <string>
#include <string_view>

#include "platform/thread_name.h"

namespace zennic {
namespace {

constexpr std::string_view kSinkPrefix = "sink:";
constexpr std::string_view kSourcePrefix = "source:";

AudioEndpointEvent EventOf(pa_subscription_event_type_t type) {
  unsigned facility = type & PA_SUBSCRIPTION_EVENT_FACILITY_MASK;
  unsigned kind = type & PA_SUBSCRIPTION_EVENT_TYPE_MASK;
  if (facility == PA_SUBSCRIPTION_EVENT_SERVER) return AudioEndpointEvent::kDefaultChanged;
  if (facility == PA_SUBSCRIPTION_EVENT_CARD) return AudioEndpointEvent::kStateChanged;
  if (kind == PA_SUBSCRIPTION_EVENT_NEW) return AudioEndpointEvent::kAdded;
  if (kind == PA_SUBSCRIPTION_EVENT_REMOVE) return AudioEndpointEvent::kRemoved;
  return AudioEndpointEvent::kPropertyChanged;
}

}  // namespace

std::shared_ptr<PulseConnection> PulseConnection::Connect(AudioResult* result) {
  auto fail = [result](AudioResult code) {
    if (result) *result = code;
    return std::shared_ptr<PulseConnection>();
  };
  std::shared_ptr<PulseConnection> connection(new PulseConnection());
  connection->loop_ = pa_threaded_mainloop_new();
  if (connection->loop_ == nullptr) return fail(audio_result::kOutOfMemory);
  // The loop carries the audio of the thread that opens the connection: it is named after that
  // thread ("zennic-capture" makes "pulse-capture"), so that whoever watches where the audio
  // threads run can follow it too.
  if (std::string caller = ThisThreadName(); caller.rfind("zennic-", 0) == 0) {
    pa_threaded_mainloop_set_name(connection->loop_, ("pulse-" + caller.substr(7)).c_str());
  }
  // The samples go over the socket, not through shared memory: PulseAudio 16 aborts, and takes
  // every program's sound with it, now and then when a connection closes while a sink still
  // holds audio that came through the client's shared memory (about one stop in a hundred,
  // started and stopped in quick turns). At our rates the copy costs nothing.
  pa_proplist* properties = pa_proplist_new();
  if (properties == nullptr) return fail(audio_result::kOutOfMemory);
  pa_proplist_sets(properties, "context.force.disable.shm", "yes");
  connection->context_ = pa_context_new_with_proplist(
      pa_threaded_mainloop_get_api(connection->loop_), "Ruzerad", properties);
  pa_proplist_free(properties);
  if (connection->context_ == nullptr) return fail(audio_result::kOutOfMemory);
  pa_context_set_state_callback(connection->context_, OnContextState, connection.get());
  if (pa_threaded_mainloop_start(connection->loop_) < 0) return fail(audio_result::kFail);

  PulseLock lock(*connection);
  // Never start a server of our own: without one, the program runs without audio.
  if (pa_context_connect(connection->context_, nullptr, PA_CONTEXT_NOAUTOSPAWN, nullptr) < 0) {
    return fail(connection->LastError());
  }
  AudioResult waited = connection->WaitUntil([&connection] {
    return pa_context_get_state(connection->context_) == PA_CONTEXT_READY;
  });
  if (AudioFailed(waited)) return fail(waited);
  if (result) *result = audio_result::kOk;
  return connection;
}

PulseConnection::~PulseConnection() {
  if (context_ != nullptr) {
    PulseLock lock(*this);
    pa_context_set_state_callback(context_, nullptr, nullptr);
    pa_context_set_subscribe_callback(context_, nullptr, nullptr);
    pa_context_disconnect(context_);
    pa_context_unref(context_);
  }
  if (loop_ != nullptr) {
    pa_threaded_mainloop_stop(loop_);
    pa_threaded_mainloop_free(loop_);
  }
}

bool PulseConnection::InLoopThread() const { return pa_threaded_mainloop_in_thread(loop_) != 0; }

void PulseConnection::Signal() {
  {
    std::lock_guard lock(wake_mutex_);
    ++wakes_;
  }
  woken_.notify_all();
}

void PulseConnection::OnContextState(pa_context* context, void* userdata) {
  auto* connection = static_cast<PulseConnection*>(userdata);
  connection->Signal();
  // A server that went away (or was stopped) never comes back on this connection.
  if (!PA_CONTEXT_IS_GOOD(pa_context_get_state(context))) {
    connection->Notify(AudioEndpointEvent::kServiceLost);
  }
}

bool PulseConnection::Ready() const {
  return pa_context_get_state(context_) == PA_CONTEXT_READY;
}

AudioResult PulseConnection::LastError() const {
  int error = pa_context_errno(context_);
  if (error == PA_OK && !PA_CONTEXT_IS_GOOD(pa_context_get_state(context_))) {
    return audio_result::kServiceNotRunning;
  }
  return PulseErrorToResult(error);
}

AudioResult PulseConnection::WaitUntil(const std::function<bool()>& done) {
  if (InLoopThread()) return audio_result::kOutOfOrder;
  auto deadline = std::chrono::steady_clock::now() + kRequestTimeout;
  while (!done()) {
    if (!PA_CONTEXT_IS_GOOD(pa_context_get_state(context_))) return LastError();
    // Every change comes from a callback that runs with the loop locked and then signals, so
    // one counted while the loop is still locked here cannot be missed.
    std::unique_lock lock(wake_mutex_);
    uint64_t seen = wakes_;
    pa_threaded_mainloop_unlock(loop_);
    bool woken = woken_.wait_until(lock, deadline, [this, seen] { return wakes_ != seen; });
    lock.unlock();
    pa_threaded_mainloop_lock(loop_);
    if (!woken && !done()) return audio_result::kTimeout;
  }
  return audio_result::kOk;
}

AudioResult PulseConnection::Finish(pa_operation* operation) {
  if (operation == nullptr) return LastError();
  AudioResult result = WaitUntil(
      [operation] { return pa_operation_get_state(operation) != PA_OPERATION_RUNNING; });
  if (AudioSucceeded(result) && pa_operation_get_state(operation) != PA_OPERATION_DONE) {
    result = LastError();
  }
  // A request that timed out must not call back into a caller that has gone.
  if (pa_operation_get_state(operation) == PA_OPERATION_RUNNING) pa_operation_cancel(operation);
  pa_operation_unref(operation);
  return result;
}

AudioResult PulseConnection::Finish(pa_operation* operation, const PulseSuccessRequest& request) {
  AudioResult result = Finish(operation);
  if (AudioFailed(result) || request.success) return result;
  AudioResult refused = LastError();
  return AudioFailed(refused) ? refused : audio_result::kFail;
}

void PulseSuccessRequest::OnContextAnswer(pa_context*, int success, void* userdata) {
  auto* request = static_cast<PulseSuccessRequest*>(userdata);
  request->success = success != 0;
  request->connection->Signal();
}

void PulseSuccessRequest::OnStreamAnswer(pa_stream*, int success, void* userdata) {
  OnContextAnswer(nullptr, success, userdata);
}

AudioResult PulseConnection::AddListener(AudioEndpointListener* listener) {
  if (listener == nullptr) return audio_result::kPointer;
  if (!subscribed_) {
    pa_context_set_subscribe_callback(context_, OnSubscriptionEvent, this);
    auto mask = static_cast<pa_subscription_mask_t>(PA_SUBSCRIPTION_MASK_SINK |
                                                     PA_SUBSCRIPTION_MASK_SOURCE |
                                                     PA_SUBSCRIPTION_MASK_SERVER |
                                                     PA_SUBSCRIPTION_MASK_CARD);
    PulseSuccessRequest request{this, false};
    AudioResult result = Finish(
        pa_context_subscribe(context_, mask, PulseSuccessRequest::OnContextAnswer, &request),
        request);
    if (AudioFailed(result)) return result;
    subscribed_ = true;
  }
  if (std::find(listeners_.begin(), listeners_.end(), listener) == listeners_.end()) {
    listeners_.push_back(listener);
  }
  return audio_result::kOk;
}

void PulseConnection::RemoveListener(AudioEndpointListener* listener) {
  listeners_.erase(std::remove(listeners_.begin(), listeners_.end(), listener), listeners_.end());
}

void PulseConnection::OnSubscriptionEvent(pa_context*, pa_subscription_event_type_t type, uint32_t,
                                          void* userdata) {
  static_cast<PulseConnection*>(userdata)->Notify(EventOf(type));
}

void PulseConnection::Notify(AudioEndpointEvent event) {
  for (AudioEndpointListener* listener : std::vector(listeners_)) {
    listener->OnAudioEndpointEvent(event);
  }
}

AudioResult PulseErrorToResult(int error) {
  switch (error) {
    case PA_OK:
      return audio_result::kOk;
    case PA_ERR_ACCESS:
    case PA_ERR_AUTHKEY:
      return audio_result::kAccessDenied;
    case PA_ERR_INVALID:
    case PA_ERR_INVALIDSERVER:
      return audio_result::kInvalidArgument;
    case PA_ERR_NOENTITY:
      return audio_result::kNotFound;
    case PA_ERR_CONNECTIONREFUSED:
    case PA_ERR_CONNECTIONTERMINATED:
      return audio_result::kServiceNotRunning;
    case PA_ERR_KILLED:
      return audio_result::kDeviceInvalidated;
    case PA_ERR_TIMEOUT:
      return audio_result::kTimeout;
    case PA_ERR_NOTSUPPORTED:
      return audio_result::kUnsupportedFormat;
    case PA_ERR_TOOLARGE:
      return audio_result::kBufferTooLarge;
    case PA_ERR_BUSY:
      return audio_result::kDeviceInUse;
    default:
      return audio_result::kFail;
  }
}

std::string MakePulseEndpointId(AudioFlow flow, const std::string& name) {
  return std::string(flow == AudioFlow::kRender ? kSinkPrefix : kSourcePrefix) + name;
}

bool ParsePulseEndpointId(const std::string& id, AudioFlow* flow, std::string* name) {
  std::string_view text(id);
  for (auto [prefix, kind] : {std::pair{kSinkPrefix, AudioFlow::kRender},
                              std::pair{kSourcePrefix, AudioFlow::kCapture}}) {
    if (text.size() > prefix.size() && text.substr(0, prefix.size()) == prefix) {
      *flow = kind;
      *name = std::string(text.substr(prefix.size()));
      return true;
    }
  }
  return false;
}

}  // namespace zennic
