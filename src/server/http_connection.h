#pragma once

#include <chrono>
#include <cstddef>
#include <string>

#include "platform/tcp_socket.h"
#include "server/http_message.h"
#include "server/http_request_handler.h"
#include "server/http_request_reader.h"

namespace zennic {

// One accepted connection as the server's event loop drives it: it reads one request, waits
// while a handler works on it, sends the reply and closes. It never blocks: the loop calls it
// when its socket is ready and when its deadline has passed.
class HttpConnection {
 public:
  using Clock = std::chrono::steady_clock;

  enum class Phase {
    Head,      // reading the head
    Verdict,   // the head is in; the server decides what comes of it
    Body,      // reading the body the handler asked for
    Handling,  // the whole request is with a handler; nothing is read meanwhile
    Sending,   // sending the reply
    Draining,  // the reply is out but the client was still sending: closing now would reset
               // the connection before the client had read the reply
    Done,      // to be closed
  };

  // How long a client may stay silent while it sends its request or takes the reply.
  static constexpr std::chrono::milliseconds kIdleTimeout{2000};
  // Whole-phase limits, so a client trickling a byte at a time cannot hold a connection.
  static constexpr std::chrono::milliseconds kHeadDeadline{10000};
  static constexpr std::chrono::milliseconds kBodyDeadline{30000};
  static constexpr std::chrono::milliseconds kSendDeadline{60000};
  static constexpr std::chrono::milliseconds kDrainDeadline{1000};
  static constexpr size_t kDrainLimitBytes = 1 << 20;

  HttpConnection(TcpSocket socket, Clock::time_point now);

  Phase phase() const { return phase_; }
  const TcpSocket& socket() const { return socket_; }
  const HttpRequest& request() const { return reader_.request(); }
  size_t announced_body_length() const { return reader_.body_length(); }
  // Memory the request holds so far.
  size_t buffered_bytes() const { return reader_.buffered_bytes(); }
  // By when the phase must move on; Expire is due after it.
  Clock::time_point deadline() const;

  // Head, Body or Draining: takes what the socket holds. A request that cannot be read, or
  // whose client went away, is answered here; a connection that never sent a byte just ends.
  void Receive(char* scratch, size_t scratch_size, Clock::time_point now);
  // Verdict: reads the body the handler asked for (phase Body, or Handling once it is in).
  void ReadBody(HttpHeadVerdict verdict, Clock::time_point now);
  // Verdict: leaves the body unread and marks the request so (phase Handling).
  void SkipBody(HttpHeadVerdict verdict);
  // Handling: the request and its head's verdict go to a handler's thread.
  HttpRequest TakeRequest();
  HttpHeadVerdict TakeVerdict() { return std::move(verdict_); }
  // Stops reading a body while the server holds too much, without the silence counting
  // against the client; Resume reads on.
  void Pause() { paused_ = true; }
  void Resume(Clock::time_point now);
  bool paused() const { return paused_; }
  // The reply, from any phase before Sending; sending starts at once.
  void Reply(HttpResponse response, Clock::time_point now);
  // Sending: sends what the socket takes.
  void Send(Clock::time_point now);
  // After the deadline: a request not yet in is answered 400; a connection that never sent a
  // byte, a reply that makes no progress, or a drain, ends.
  void Expire(Clock::time_point now);
  // Ends the connection at once, whatever its phase.
  void Abort() { phase_ = Phase::Done; }

 private:
  void FailRequest(const std::string& message, int status, Clock::time_point now);
  void FinishReply(Clock::time_point now);

  TcpSocket socket_;
  Phase phase_ = Phase::Head;
  HttpRequestReader reader_;
  HttpHeadVerdict verdict_;
  bool paused_ = false;
  // Browsers open connections ahead of need and may never use them: one that has sent nothing
  // is closed without an answer, which they take as a reason to retry, not as a reply.
  bool request_started_ = false;
  // Whether the client's input was read to its end; if not, the close drains it first.
  bool input_complete_ = false;
  std::string reply_head_;
  std::string reply_body_;
  size_t reply_sent_ = 0;
  size_t drained_ = 0;
  Clock::time_point phase_started_;
  Clock::time_point accepted_;
  Clock::time_point last_progress_;
};

}  // namespace zennic
