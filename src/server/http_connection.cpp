#include "server/http_connection.h"

#include <algorithm>

namespace zennic {
namespace {

constexpr size_t kReceiveChunk = 2048;
// Bounds of the drain before a close with unread input.
constexpr size_t kDrainLimitBytes = 1 << 20;
constexpr std::chrono::milliseconds kDrainDeadline{1000};

using Clock = std::chrono::steady_clock;

int MillisecondsUntil(Clock::time_point deadline) {
  auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
  return static_cast<int>(std::max<std::chrono::milliseconds::rep>(0, left.count()));
}

}  // namespace

HttpConnection::HttpConnection(TcpSocket& socket) : socket_(socket) {}

HttpConnection::Wait HttpConnection::ReceiveInto(int timeout_ms) {
  char chunk[kReceiveChunk];
  size_t received = 0;
  switch (socket_.Receive(chunk, sizeof chunk, timeout_ms, &received)) {
    case TcpSocket::ReceiveStatus::Data:
      reader_.Add(std::string_view(chunk, received));
      return Wait::Data;
    case TcpSocket::ReceiveStatus::Closed: return Wait::Closed;
    case TcpSocket::ReceiveStatus::TimedOut: return Wait::TimedOut;
    case TcpSocket::ReceiveStatus::Failed: return Wait::Failed;
  }
  return Wait::Failed;
}

bool HttpConnection::ReadHead(std::string* error) {
  Clock::time_point deadline = Clock::now() + kHeadDeadline;
  while (reader_.stage() == HttpRequestReader::Stage::Head) {
    int timeout = std::min(kIoTimeoutMs, MillisecondsUntil(deadline));
    if (timeout == 0 || ReceiveInto(timeout) != Wait::Data) {
      if (error) *error = "Client disconnected before sending complete headers";
      return false;
    }
  }
  if (reader_.stage() == HttpRequestReader::Stage::Failed) {
    if (error) *error = reader_.error();
    return false;
  }
  return true;
}

bool HttpConnection::ReadBody(std::string* error) {
  while (reader_.stage() == HttpRequestReader::Stage::Body) {
    if (ReceiveInto(kIoTimeoutMs) != Wait::Data) {
      if (error) *error = "Client disconnected before sending complete body";
      return false;
    }
  }
  return reader_.stage() == HttpRequestReader::Stage::Complete;
}

void HttpConnection::SkipBody() {
  if (reader_.stage() == HttpRequestReader::Stage::Body) reader_.request().body_skipped = true;
}

void HttpConnection::SendAll(const std::string& bytes) {
  size_t sent = 0;
  while (sent < bytes.size()) {
    long count = socket_.Send(bytes.data() + sent, bytes.size() - sent);
    if (count <= 0) return;
    sent += static_cast<size_t>(count);
  }
}

void HttpConnection::Send(const HttpResponse& response) {
  SendAll(SerializeResponseHead(response));
  SendAll(response.body);
}

void HttpConnection::End() {
  if (reader_.stage() == HttpRequestReader::Stage::Complete) {
    socket_.ShutdownBoth();
  } else {
    socket_.ShutdownSend();
    Clock::time_point deadline = Clock::now() + kDrainDeadline;
    char chunk[16384];
    size_t drained = 0;
    size_t received = 0;
    while (drained < kDrainLimitBytes) {
      int timeout = MillisecondsUntil(deadline);
      if (timeout == 0 ||
          socket_.Receive(chunk, sizeof chunk, timeout, &received) != TcpSocket::ReceiveStatus::Data) {
        break;
      }
      drained += received;
    }
  }
}

}  // namespace zennic
