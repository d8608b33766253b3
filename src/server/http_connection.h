#pragma once

#include <chrono>
#include <string>

#include "platform/tcp_socket.h"
#include "server/http_message.h"
#include "server/http_request_reader.h"

namespace zennic {

// One accepted connection carrying exactly one request and one reply. The head and the body
// are read in two steps, so a request refused on its head never has its body buffered.
class HttpConnection {
 public:
  // How long one receive or send may wait.
  static constexpr int kIoTimeoutMs = 2000;
  // A client that trickles its head byte by byte cannot hold a connection longer than this.
  static constexpr std::chrono::milliseconds kHeadDeadline{10000};

  // The socket stays the caller's: it closes it after End, which lets another thread shut it
  // down meanwhile to cut a waiting connection short.
  explicit HttpConnection(TcpSocket& socket);

  // Reads up to the end of the head; the request then holds method, path and headers.
  bool ReadHead(std::string* error);
  // Reads the announced body into the request.
  bool ReadBody(std::string* error);
  // Leaves the announced body unread and marks the request so.
  void SkipBody();
  const HttpRequest& request() const { return reader_.request(); }
  size_t body_length() const { return reader_.body_length(); }
  // The status for a request that could not be read: 400, or 501 for what is not implemented.
  int failure_status() const {
    return reader_.stage() == HttpRequestReader::Stage::Failed ? reader_.failure_status() : 400;
  }

  // Sends the reply; a peer that has gone simply ends the sending.
  void Send(const HttpResponse& response);
  // Shuts the connection down. When the client may still be sending (a body left unread),
  // what it sends is read and dropped for a moment first: closing with unread bytes would
  // reset the connection and could destroy the reply before the client has read it.
  void End();

 private:
  enum class Wait { Data, Closed, TimedOut, Failed };
  Wait ReceiveInto(int timeout_ms);
  void SendAll(const std::string& bytes);

  TcpSocket& socket_;
  HttpRequestReader reader_;
};

}  // namespace zennic
