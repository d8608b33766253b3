#include "server/http_connection.h"

#include <algorithm>

#include "server/json_envelope.h"

namespace zennic {
namespace {

constexpr char kHeadsNotIn[] = "Client disconnected before sending complete headers";
constexpr char kBodyNotIn[] = "Client disconnected before sending complete body";

}  // namespace

HttpConnection::HttpConnection(TcpSocket socket, Clock::time_point now)
    : socket_(std::move(socket)), phase_started_(now), accepted_(now), last_progress_(now) {}

HttpConnection::Clock::time_point HttpConnection::deadline() const {
  switch (phase_) {
    case Phase::Head:
      return std::min(accepted_ + kHeadDeadline, last_progress_ + kIdleTimeout);
    case Phase::Body:
      if (paused_) return phase_started_ + kBodyDeadline;
      return std::min(phase_started_ + kBodyDeadline, last_progress_ + kIdleTimeout);
    case Phase::Sending:
      return std::min(phase_started_ + kSendDeadline, last_progress_ + kIdleTimeout);
    case Phase::Draining:
      return phase_started_ + kDrainDeadline;
    case Phase::Verdict:
    case Phase::Handling:
      return Clock::time_point::max();
    case Phase::Done:
      return Clock::time_point::min();
  }
  return Clock::time_point::min();
}

void HttpConnection::Receive(char* scratch, size_t scratch_size, Clock::time_point now) {
  size_t received = 0;
  TcpSocket::IoStatus status = socket_.Receive(scratch, scratch_size, &received);
  if (status == TcpSocket::IoStatus::WouldBlock) return;
  if (phase_ == Phase::Draining) {
    drained_ += received;
    if (status != TcpSocket::IoStatus::Done || drained_ >= kDrainLimitBytes) phase_ = Phase::Done;
    return;
  }
  if (phase_ != Phase::Head && phase_ != Phase::Body) return;
  if (status != TcpSocket::IoStatus::Done) {
    if (!request_started_) {
      phase_ = Phase::Done;
      return;
    }
    FailRequest(phase_ == Phase::Head ? kHeadsNotIn : kBodyNotIn, 400, now);
    return;
  }
  request_started_ = true;
  last_progress_ = now;
  switch (reader_.Add(std::string_view(scratch, received))) {
    case HttpRequestReader::Stage::Failed:
      FailRequest(reader_.error(), reader_.failure_status(), now);
      return;
    case HttpRequestReader::Stage::Head:
      return;
    case HttpRequestReader::Stage::Body:
      if (phase_ == Phase::Head) phase_ = Phase::Verdict;
      return;
    case HttpRequestReader::Stage::Complete:
      phase_ = phase_ == Phase::Head ? Phase::Verdict : Phase::Handling;
      input_complete_ = phase_ == Phase::Handling;
      return;
  }
}

void HttpConnection::ReadBody(HttpHeadVerdict verdict, Clock::time_point now) {
  verdict_ = std::move(verdict);
  if (reader_.stage() == HttpRequestReader::Stage::Complete) {
    input_complete_ = true;
    phase_ = Phase::Handling;
    return;
  }
  phase_ = Phase::Body;
  phase_started_ = now;
  last_progress_ = now;
}

void HttpConnection::SkipBody(HttpHeadVerdict verdict) {
  verdict_ = std::move(verdict);
  input_complete_ = reader_.stage() == HttpRequestReader::Stage::Complete;
  if (!input_complete_) reader_.SkipBody();
  phase_ = Phase::Handling;
}

HttpRequest HttpConnection::TakeRequest() {
  HttpRequest request = std::move(reader_.request());
  reader_ = HttpRequestReader();
  return request;
}

void HttpConnection::Resume(Clock::time_point now) {
  paused_ = false;
  last_progress_ = now;
}

void HttpConnection::FailRequest(const std::string& message, int status, Clock::time_point now) {
  Reply(MakeJsonErrorResponse(status, "invalid_http_request",
                              message.empty() ? "Request parsing failed" : message,
                              JsonValue::MakeObject()),
        now);
}

void HttpConnection::Reply(HttpResponse response, Clock::time_point now) {
  if (phase_ == Phase::Sending || phase_ == Phase::Draining || phase_ == Phase::Done) return;
  // What the client sent is not needed any more.
  reader_ = HttpRequestReader();
  paused_ = false;
  reply_head_ = SerializeResponseHead(response);
  reply_body_ = std::move(response.body);
  reply_sent_ = 0;
  phase_ = Phase::Sending;
  phase_started_ = now;
  last_progress_ = now;
  Send(now);
}

void HttpConnection::Send(Clock::time_point now) {
  if (phase_ != Phase::Sending) return;
  std::string_view head = reply_head_;
  std::string_view body = reply_body_;
  size_t head_left = reply_sent_ < head.size() ? head.size() - reply_sent_ : 0;
  std::string_view first = head.substr(head.size() - head_left);
  std::string_view second = body.substr(reply_sent_ - (head.size() - head_left));
  size_t sent = 0;
  switch (socket_.Send(first, second, &sent)) {
    case TcpSocket::IoStatus::WouldBlock:
      return;
    case TcpSocket::IoStatus::Closed:
    case TcpSocket::IoStatus::Failed:
      phase_ = Phase::Done;
      return;
    case TcpSocket::IoStatus::Done:
      break;
  }
  reply_sent_ += sent;
  if (sent > 0) last_progress_ = now;
  if (reply_sent_ == head.size() + body.size()) FinishReply(now);
}

void HttpConnection::FinishReply(Clock::time_point now) {
  std::string().swap(reply_head_);
  std::string().swap(reply_body_);
  if (input_complete_) {
    socket_.ShutdownBoth();
    phase_ = Phase::Done;
    return;
  }
  socket_.ShutdownSend();
  phase_ = Phase::Draining;
  phase_started_ = now;
}

void HttpConnection::Expire(Clock::time_point now) {
  switch (phase_) {
    case Phase::Head:
      if (!request_started_) {
        phase_ = Phase::Done;
        return;
      }
      FailRequest(kHeadsNotIn, 400, now);
      return;
    case Phase::Body:
      FailRequest(kBodyNotIn, 400, now);
      return;
    case Phase::Sending:
    case Phase::Draining:
      phase_ = Phase::Done;
      return;
    case Phase::Verdict:
    case Phase::Handling:
    case Phase::Done:
      return;
  }
}

}  // namespace zennic
