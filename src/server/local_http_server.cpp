#include "server/local_http_server.h"

#include <algorithm>
#include <system_error>
#include <utility>

#include "core/app_log.h"
#include "core/text.h"
#include "platform/memory_release.h"
#include "platform/open_file_limit.h"
#include "server/embedded_web_assets.h"
#include "server/http_connection.h"
#include "server/json_envelope.h"

namespace zennic {
namespace {

using Phase = HttpConnection::Phase;

constexpr char kLogTag[] = "LocalHttpServer";
constexpr uint64_t kListenerKey = 0;
// Descriptors left for everything else the program opens.
constexpr size_t kSpareDescriptors = 256;
// Deadlines are checked this often; no connection waits much longer than its deadline.
constexpr std::chrono::milliseconds kExpiryCheckInterval{100};
constexpr std::chrono::milliseconds kFirstAcceptBackoff{10};
constexpr std::chrono::milliseconds kLongestAcceptBackoff{1000};
// A request or reply this large leaves enough memory behind to hand back to the system, at
// most this often.
constexpr size_t kLargeBytes = 256 * 1024;
constexpr std::chrono::milliseconds kMemoryReleaseInterval{250};
constexpr size_t kReceiveChunk = 65536;
// Request threads wait this long for the next request before they end.
constexpr std::chrono::milliseconds kWorkerIdleLife{1000};

HttpResponse Refusal(int status, const std::string& code, const std::string& message) {
  return MakeJsonErrorResponse(status, code, message, JsonValue::MakeObject());
}

HttpResponse NotFoundResponse() {
  HttpResponse response;
  response.status = 404;
  response.headers["Content-Type"] = "text/plain; charset=utf-8";
  response.body = "Not found";
  return response;
}

HttpResponse InternalErrorResponse() {
  return Refusal(500, "internal_server_error", "The local server hit an unexpected error");
}

unsigned InterestOf(const HttpConnection& connection) {
  switch (connection.phase()) {
    case Phase::Head:
    case Phase::Draining:
      return EventPoller::kRead;
    case Phase::Body:
      return connection.paused() ? 0u : unsigned{EventPoller::kRead};
    case Phase::Sending:
      return EventPoller::kWrite;
    case Phase::Verdict:
    case Phase::Handling:
    case Phase::Done:
      return 0;
  }
  return 0;
}

bool IsReading(const HttpConnection& connection) {
  return connection.phase() == Phase::Head || connection.phase() == Phase::Body;
}

}  // namespace

LocalHttpServer::LocalHttpServer(LocalHttpServerOptions options, EmbeddedWebAssets* assets,
                                 HttpRequestHandler* handler)
    : options_(std::move(options)),
      assets_(assets),
      handler_(handler),
      workers_(kMaxRunningRequests, kWorkerIdleLife) {}

LocalHttpServer::~LocalHttpServer() { Stop(); }

void LocalHttpServer::Log(const std::string& message) const {
  WriteLogLine(options_.log_folder, kLogTag, message);
}

bool LocalHttpServer::Start(std::string* error) {
  if (assets_ == nullptr || handler_ == nullptr) {
    if (error) *error = "LocalHttpServer dependencies are not configured";
    return false;
  }
  if (listener_.valid()) return true;
  if (!poller_.valid()) {
    if (error) *error = "The system gave no event poller";
    return false;
  }

  std::string message;
  if (!StartListening(&message)) {
    Stop();
    if (error) *error = message;
    return false;
  }
  used_fallback_port_ = effective_port_ != 0 && effective_port_ != options_.port;
  ReturnLargeBlocksToSystem();
  size_t open_files = RaiseOpenFileLimit(kMaxConnections + kSpareDescriptors);
  max_connections_ = std::clamp(open_files, 2 * kSpareDescriptors, kMaxConnections + kSpareDescriptors) -
                     kSpareDescriptors;
  listener_watched_ = poller_.Watch(listener_, kListenerKey, EventPoller::kRead);
  stop_ = false;
  try {
    loop_thread_ = std::thread(&LocalHttpServer::RunEventLoop, this);
  } catch (const std::system_error& thread_error) {
    Stop();
    if (error) *error = std::string("Could not start the server thread: ") + thread_error.what();
    return false;
  }
  return true;
}

bool LocalHttpServer::StartListening(std::string* error) {
  listener_ = TcpSocket::OpenStream();
  if (!listener_.valid()) {
    *error = "socket(AF_INET, SOCK_STREAM) failed";
    return false;
  }
  std::string first;
  if (BindAndListen(options_.port, &first)) return true;
  if (options_.port == 0) {
    *error = first;
    return false;
  }
  listener_ = TcpSocket::OpenStream();
  if (!listener_.valid()) {
    *error = first + "; fallback bind failed: socket(AF_INET, SOCK_STREAM) failed";
    return false;
  }
  std::string second;
  if (BindAndListen(0, &second)) return true;
  *error = first + "; fallback bind failed: " + second;
  return false;
}

bool LocalHttpServer::BindAndListen(uint16_t port, std::string* error) {
  switch (listener_.Bind(options_.bind_address, port)) {
    case TcpSocket::BindResult::InvalidAddress:
      *error = "Invalid bind address: " + options_.bind_address;
      return false;
    case TcpSocket::BindResult::Failed:
      *error = "bind(" + options_.bind_address + ":" + std::to_string(port) + ") failed";
      return false;
    case TcpSocket::BindResult::Bound:
      break;
  }
  if (!listener_.Listen()) {
    *error = "listen() failed";
    return false;
  }
  uint16_t bound = 0;
  if (!listener_.LocalPort(&bound)) {
    *error = "getsockname() failed";
    return false;
  }
  effective_port_ = bound;
  return true;
}

void LocalHttpServer::Stop() {
  stop_ = true;
  effective_port_ = 0;
  used_fallback_port_ = false;
  poller_.Wake();
  if (loop_thread_.joinable()) loop_thread_.join();
  // Requests being handled finish first: their threads still reply on their connections.
  workers_.Stop();
  CloseEverything();
  std::lock_guard<std::mutex> lock(finished_mutex_);
  finished_.clear();
  request_memory_freed_ = false;
}

void LocalHttpServer::CloseEverything() {
  entries_.clear();
  buffered_bytes_ = 0;
  paused_readers_ = 0;
  listener_watched_ = false;
  memory_to_release_ = false;
  listener_.Close();
}

void LocalHttpServer::RunEventLoop() {
  std::vector<EventPoller::Event> events;
  while (!stop_) {
    bool idle = entries_.empty() && listener_watched_ && !memory_to_release_;
    poller_.Wait(idle ? -1 : static_cast<int>(kExpiryCheckInterval.count()), &events);
    if (stop_) break;
    Clock::time_point now = Clock::now();
    for (const EventPoller::Event& event : events) {
      try {
        if (event.key == kListenerKey) {
          AcceptWaiting(now);
        } else {
          OnSocketEvent(event, now);
        }
      } catch (const std::exception& error) {
        // Out of memory, most likely: that connection ends, the others go on.
        Log(std::string("HTTP connection failure: ") + error.what());
        if (Entries::iterator entry = entries_.find(event.key); entry != entries_.end()) Close(entry);
      }
    }
    try {
      TakeFinishedRequests(now);
      if (now >= next_expiry_check_) {
        ExpireConnections(now);
        next_expiry_check_ = now + kExpiryCheckInterval;
      }
      if (!listener_watched_ && now >= accept_again_at_ && entries_.size() < max_connections_) {
        listener_watched_ = poller_.Watch(listener_, kListenerKey, EventPoller::kRead);
      }
      ReleaseMemoryWhenDue(now);
    } catch (const std::exception& error) {
      Log(std::string("HTTP server failure: ") + error.what());
    }
  }
}

void LocalHttpServer::AcceptWaiting(Clock::time_point now) {
  for (;;) {
    if (entries_.size() >= max_connections_ && !EvictOldestReader(0)) {
      // Every slot holds a request being handled or answered; the next close reopens.
      poller_.Forget(listener_);
      listener_watched_ = false;
      return;
    }
    TcpSocket client;
    switch (listener_.Accept(&client)) {
      case TcpSocket::AcceptStatus::NoneWaiting:
        accept_backoff_ = std::chrono::milliseconds{0};
        return;
      case TcpSocket::AcceptStatus::Failed:
        // Out of descriptors or memory: retrying at once would spin, while waiting lets
        // connections end and free what they hold.
        if (accept_backoff_.count() == 0) Log("accept() failed; retrying with a growing delay");
        accept_backoff_ = std::min(std::max(accept_backoff_ * 2, kFirstAcceptBackoff), kLongestAcceptBackoff);
        accept_again_at_ = now + accept_backoff_;
        poller_.Forget(listener_);
        listener_watched_ = false;
        return;
      case TcpSocket::AcceptStatus::Accepted:
        break;
    }
    auto [entry, added] = entries_.try_emplace(next_id_++);
    entry->second.connection = std::make_unique<HttpConnection>(std::move(client), now);
    if (!Watch(entry, EventPoller::kRead)) Close(entry);
  }
}

void LocalHttpServer::OnSocketEvent(const EventPoller::Event& event, Clock::time_point now) {
  Entries::iterator entry = entries_.find(event.key);
  if (entry == entries_.end() || entry->second.dispatched) return;
  HttpConnection& connection = *entry->second.connection;
  if (connection.phase() == Phase::Sending) {
    connection.Send(now);
  } else if (event.readable || event.broken) {
    char scratch[kReceiveChunk];
    connection.Receive(scratch, sizeof scratch, now);
  }
  Advance(entry, now);
}

void LocalHttpServer::Advance(Entries::iterator entry, Clock::time_point now) {
  Entry& state = entry->second;
  HttpConnection& connection = *state.connection;
  if (connection.phase() == Phase::Verdict) DecideOnHead(connection, now);
  Charge(entry);
  if (connection.phase() == Phase::Handling) {
    if (!Watch(entry, 0)) {
      Close(entry);
      return;
    }
    Job job;
    job.id = entry->first;
    job.connection = &connection;
    job.request = connection.TakeRequest();
    job.verdict = connection.TakeVerdict();
    state.dispatched = workers_.Post([this, job = std::move(job)]() mutable { RunRequest(job); });
    // From here on the connection is the job's until it hands it back.
    if (state.dispatched) return;
    connection.Reply(InternalErrorResponse(), now);
  }
  if (connection.phase() == Phase::Done || !Watch(entry, InterestOf(connection))) Close(entry);
}

void LocalHttpServer::DecideOnHead(HttpConnection& connection, Clock::time_point now) {
  if (std::optional<HttpResponse> refusal = HostRefusal(connection.request())) {
    connection.Reply(std::move(*refusal), now);
    return;
  }
  HttpHeadVerdict verdict = handler_->DecideOnHead(connection.request());
  if (verdict.kind != HttpHeadVerdict::Kind::ReadBody) {
    connection.SkipBody(std::move(verdict));
  } else if (connection.announced_body_length() > verdict.max_body_bytes) {
    connection.Reply(Refusal(413, "request_too_large",
                             "HTTP request body exceeds the size this route accepts"),
                     now);
  } else {
    connection.ReadBody(std::move(verdict), now);
  }
}

// A page of another site whose name was made to point at 127.0.0.1 reaches us with its own
// name as the host, and must get neither a page nor the session cookie.
std::optional<HttpResponse> LocalHttpServer::HostRefusal(const HttpRequest& head) const {
  std::string host = ToLower(Trim(FindHeader(head, "Host")));
  if (host.empty()) return Refusal(400, "invalid_http_request", "Missing Host header");
  std::string port = ":" + std::to_string(effective_port_.load());
  if (host == "127.0.0.1" + port || host == "localhost" + port) return std::nullopt;
  return Refusal(421, "host_not_allowed",
                 "Requests must name the local Ruzerad address (127.0.0.1 or localhost and its "
                 "port) as their host");
}

// What the connection's request holds now counts against the budget; beyond the budget the
// oldest connections still sending make room, and failing that this one waits.
void LocalHttpServer::Charge(Entries::iterator entry) {
  Entry& state = entry->second;
  HttpConnection& connection = *state.connection;
  // While handled, the request's bytes are with its thread; they count until the reply.
  if (state.dispatched) return;
  size_t now_held = connection.phase() == Phase::Done ? 0 : connection.buffered_bytes();
  buffered_bytes_ = buffered_bytes_ - state.charged + now_held;
  bool released = now_held < state.charged;
  state.charged = now_held;
  if (released) {
    ResumePausedReaders(Clock::now());
    return;
  }
  while (buffered_bytes_ > kMaxBufferedRequestBytes && EvictOldestReader(entry->first)) {
  }
  if (buffered_bytes_ > kMaxBufferedRequestBytes && connection.phase() == Phase::Body &&
      !connection.paused()) {
    connection.Pause();
    ++paused_readers_;
  }
}

bool LocalHttpServer::EvictOldestReader(uint64_t spared) {
  for (Entries::iterator entry = entries_.begin(); entry != entries_.end(); ++entry) {
    if (entry->first != spared && !entry->second.dispatched &&
        IsReading(*entry->second.connection)) {
      Close(entry);
      return true;
    }
  }
  return false;
}

void LocalHttpServer::ResumePausedReaders(Clock::time_point now) {
  if (paused_readers_ == 0 || buffered_bytes_ >= kMaxBufferedRequestBytes) return;
  paused_readers_ = 0;
  for (Entries::iterator entry = entries_.begin(); entry != entries_.end();) {
    Entries::iterator current = entry++;
    if (current->second.dispatched || !current->second.connection->paused()) continue;
    current->second.connection->Resume(now);
    if (!Watch(current, InterestOf(*current->second.connection))) Close(current);
  }
}

bool LocalHttpServer::Watch(Entries::iterator entry, unsigned interest) {
  Entry& state = entry->second;
  if (interest == state.watched) return true;
  const TcpSocket& socket = state.connection->socket();
  bool watched = true;
  if (interest == 0) {
    poller_.Forget(socket);
  } else if (state.watched == 0) {
    watched = poller_.Watch(socket, entry->first, interest);
  } else {
    watched = poller_.Change(socket, entry->first, interest);
  }
  state.watched = watched ? interest : 0;
  return watched;
}

void LocalHttpServer::Close(Entries::iterator entry) {
  Entry& state = entry->second;
  if (state.watched != 0) poller_.Forget(state.connection->socket());
  buffered_bytes_ -= state.charged;
  if (state.connection->paused()) --paused_readers_;
  memory_to_release_ = memory_to_release_ || state.large_reply;
  entries_.erase(entry);
  ResumePausedReaders(Clock::now());
}

void LocalHttpServer::TakeFinishedRequests(Clock::time_point now) {
  std::vector<Finished> finished;
  {
    std::lock_guard<std::mutex> lock(finished_mutex_);
    finished.swap(finished_);
    memory_to_release_ = memory_to_release_ || std::exchange(request_memory_freed_, false);
  }
  for (const Finished& done : finished) {
    Entries::iterator entry = entries_.find(done.id);
    if (entry == entries_.end()) continue;
    Entry& state = entry->second;
    // The request's bytes went with its thread's copy; the reply is under way.
    state.dispatched = false;
    state.large_reply = done.large_reply;
    Advance(entry, now);
  }
}

void LocalHttpServer::ExpireConnections(Clock::time_point now) {
  // Advancing one connection may close others, so the due ones are collected first.
  std::vector<uint64_t> due;
  for (const auto& [id, state] : entries_) {
    if (!state.dispatched && now >= state.connection->deadline()) due.push_back(id);
  }
  for (uint64_t id : due) {
    Entries::iterator entry = entries_.find(id);
    if (entry == entries_.end()) continue;
    entry->second.connection->Expire(now);
    Advance(entry, now);
  }
}

void LocalHttpServer::ReleaseMemoryWhenDue(Clock::time_point now) {
  if (!memory_to_release_ || now < next_memory_release_) return;
  ReleaseFreeMemoryToSystem();
  memory_to_release_ = false;
  next_memory_release_ = now + kMemoryReleaseInterval;
}

void LocalHttpServer::RunRequest(Job& job) {
  HttpResponse response;
  try {
    response = Respond(job);
  } catch (const std::exception& error) {
    Log(std::string("HTTP handler exception: ") + error.what());
    response = InternalErrorResponse();
  } catch (...) {
    Log("HTTP handler exception: unknown");
    response = InternalErrorResponse();
  }
  bool large_request = job.request.body.capacity() >= kLargeBytes;
  bool large_reply = response.body.size() >= kLargeBytes;
  job.request = HttpRequest();
  try {
    // The first send here, beside the other requests' threads, rather than on the loop.
    job.connection->Reply(std::move(response), Clock::now());
  } catch (const std::exception& error) {
    Log(std::string("HTTP reply failure: ") + error.what());
    job.connection->Abort();
  }
  {
    std::lock_guard<std::mutex> lock(finished_mutex_);
    finished_.push_back({job.id, large_reply});
    request_memory_freed_ = request_memory_freed_ || large_request;
  }
  poller_.Wake();
}

HttpResponse LocalHttpServer::Respond(Job& job) {
  if (options_.request_observer) options_.request_observer(job.request);
  HttpResponse response;
  switch (job.verdict.kind) {
    case HttpHeadVerdict::Kind::NotMine:
      if (!assets_->Serve(job.request, &response)) response = NotFoundResponse();
      return response;
    case HttpHeadVerdict::Kind::Answered:
      return std::move(job.verdict.answer);
    case HttpHeadVerdict::Kind::ReadBody:
      return handler_->HandleWholeRequest(job.request);
  }
  return NotFoundResponse();
}

}  // namespace zennic
