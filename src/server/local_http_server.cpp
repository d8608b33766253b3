#include "server/local_http_server.h"

#include <algorithm>
#include <chrono>
#include <system_error>

#include "core/app_log.h"
#include "server/embedded_web_assets.h"
#include "server/http_connection.h"
#include "server/json_envelope.h"

namespace zennic {
namespace {

constexpr char kLogTag[] = "LocalHttpServer";
// How often the accept thread looks for finished connections to join while no client comes.
constexpr int kAcceptWaitMs = 1000;
constexpr std::chrono::milliseconds kFirstAcceptBackoff{10};
constexpr std::chrono::milliseconds kLongestAcceptBackoff{1000};

HttpResponse NotFoundResponse() {
  HttpResponse response;
  response.status = 404;
  response.headers["Content-Type"] = "text/plain; charset=utf-8";
  response.body = "Not found";
  return response;
}

HttpResponse InvalidRequestResponse(const std::string& error, int status = 400) {
  return MakeJsonErrorResponse(status, "invalid_http_request",
                               error.empty() ? "Request parsing failed" : error,
                               JsonValue::MakeObject());
}

HttpResponse BodyTooLargeResponse() {
  return MakeJsonErrorResponse(413, "request_too_large",
                               "HTTP request body exceeds the size this route accepts",
                               JsonValue::MakeObject());
}

HttpResponse InternalErrorResponse() {
  return MakeJsonErrorResponse(500, "internal_server_error",
                               "The local server hit an unexpected error", JsonValue::MakeObject());
}

}  // namespace

LocalHttpServer::LocalHttpServer(LocalHttpServerOptions options, EmbeddedWebAssets* assets,
                                 HttpRequestHandler* handler)
    : options_(std::move(options)), assets_(assets), handler_(handler) {}

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

  std::string message;
  if (!StartListening(&message)) {
    Stop();
    if (error) *error = message;
    return false;
  }
  used_fallback_port_ = effective_port_ != 0 && effective_port_ != options_.port;
  stop_ = false;
  try {
    accept_thread_ = std::thread(&LocalHttpServer::AcceptLoop, this);
  } catch (const std::system_error& thread_error) {
    Stop();
    if (error) *error = std::string("Could not start the accept thread: ") + thread_error.what();
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
  {
    std::lock_guard<std::mutex> lock(connections_mutex_);
    // Wakes the accept thread, and every connection still waiting for its client.
    listener_.ShutdownBoth();
    for (const auto& connection : connections_) {
      if (!connection->finished) connection->socket.ShutdownBoth();
    }
  }
  connection_finished_.notify_all();
  if (accept_thread_.joinable()) accept_thread_.join();
  listener_.Close();

  // The accept thread has ended, so no connection is added any more; the threads are joined
  // outside the lock because each takes it once more to mark itself finished.
  std::list<std::unique_ptr<Connection>> remaining;
  {
    std::lock_guard<std::mutex> lock(connections_mutex_);
    remaining.swap(connections_);
  }
  for (const auto& connection : remaining) {
    if (connection->thread.joinable()) connection->thread.join();
  }
}

void LocalHttpServer::AcceptLoop() {
  std::chrono::milliseconds backoff{0};
  bool failing = false;
  while (WaitForConnectionSlot()) {
    TcpSocket client;
    TcpSocket::AcceptStatus status = listener_.Accept(kAcceptWaitMs, &client);
    if (stop_) break;
    if (status == TcpSocket::AcceptStatus::TimedOut) continue;
    if (status == TcpSocket::AcceptStatus::Failed) {
      // Out of descriptors or memory, for instance: retrying at once would spin; waiting lets
      // running connections end and free what they hold.
      if (!failing) Log("accept() failed; retrying with a growing delay");
      failing = true;
      backoff = std::min(std::max(backoff * 2, kFirstAcceptBackoff), kLongestAcceptBackoff);
      std::unique_lock<std::mutex> lock(connections_mutex_);
      connection_finished_.wait_for(lock, backoff, [this] { return stop_.load(); });
      continue;
    }
    failing = false;
    backoff = std::chrono::milliseconds{0};
    client.SetTimeouts(HttpConnection::kIoTimeoutMs);
    StartConnection(std::move(client));
  }
}

bool LocalHttpServer::WaitForConnectionSlot() {
  std::unique_lock<std::mutex> lock(connections_mutex_);
  connection_finished_.wait(lock, [this] {
    ReapFinishedConnections();
    return stop_ || connections_.size() < kMaxConcurrentConnections;
  });
  return !stop_;
}

// The caller holds the lock. A finished thread never takes the lock again, so joining it here
// cannot wait for the lock.
void LocalHttpServer::ReapFinishedConnections() {
  for (auto it = connections_.begin(); it != connections_.end();) {
    if ((*it)->finished) {
      if ((*it)->thread.joinable()) (*it)->thread.join();
      it = connections_.erase(it);
    } else {
      ++it;
    }
  }
}

void LocalHttpServer::StartConnection(TcpSocket socket) {
  auto connection = std::make_unique<Connection>();
  connection->socket = std::move(socket);
  std::lock_guard<std::mutex> lock(connections_mutex_);
  try {
    connection->thread = std::thread(&LocalHttpServer::RunClientThread, this, connection.get());
  } catch (const std::system_error& error) {
    Log(std::string("Could not start a connection thread: ") + error.what());
    return;  // the socket closes with the record
  }
  connections_.push_back(std::move(connection));
}

void LocalHttpServer::RunClientThread(Connection* connection) {
  HttpConnection http(connection->socket);
  try {
    HandleConnection(http);
  } catch (const std::exception& error) {
    ReportHandlerFailure(http, error.what());
  } catch (...) {
    ReportHandlerFailure(http, "unknown");
  }
  http.End();
  {
    std::lock_guard<std::mutex> lock(connections_mutex_);
    connection->socket.Close();
    connection->finished = true;
  }
  connection_finished_.notify_all();
}

void LocalHttpServer::ReportHandlerFailure(HttpConnection& connection, const char* what) noexcept {
  try {
    Log(std::string("HTTP handler exception: ") + what);
    connection.Send(InternalErrorResponse());
  } catch (...) {
    // Nothing more can be told to anyone; the connection ends regardless.
  }
}

void LocalHttpServer::HandleConnection(HttpConnection& connection) {
  std::string error;
  if (!connection.ReadHead(&error)) {
    connection.Send(InvalidRequestResponse(error, connection.failure_status()));
    return;
  }
  HttpHeadVerdict verdict = handler_->DecideOnHead(connection.request());
  if (verdict.kind != HttpHeadVerdict::Kind::ReadBody) {
    connection.SkipBody();
  } else if (connection.body_length() > verdict.max_body_bytes) {
    connection.Send(BodyTooLargeResponse());
    return;
  } else if (!connection.ReadBody(&error)) {
    connection.Send(InvalidRequestResponse(error));
    return;
  }
  const HttpRequest& request = connection.request();
  if (options_.request_observer) options_.request_observer(request);
  HttpResponse response;
  switch (verdict.kind) {
    case HttpHeadVerdict::Kind::NotMine:
      if (!assets_->Serve(request, &response)) response = NotFoundResponse();
      break;
    case HttpHeadVerdict::Kind::Answered:
      response = std::move(verdict.answer);
      break;
    case HttpHeadVerdict::Kind::ReadBody:
      response = handler_->HandleWholeRequest(request);
      break;
  }
  connection.Send(response);
}

}  // namespace zennic
