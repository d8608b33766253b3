#pragma once

#include <chrono>
#include <cstdint>
#include <map>
#include <string>
#include <string_view>

namespace zennic::testing {

// A reply as it came over the wire.
struct HttpReply {
  int status = 0;                              // 0: no status line arrived
  std::string status_line;
  std::map<std::string, std::string> headers;  // names as sent
  std::string body;
  std::string raw;
};

// A plain loopback client for tests: connects to 127.0.0.1:`port`, sends the bytes as they
// are, and reads until the server closes the connection (or `timeout` passes).
class HttpTestClient {
 public:
  explicit HttpTestClient(uint16_t port) : port_(port) {}

  HttpReply Exchange(std::string_view bytes,
                     std::chrono::milliseconds timeout = std::chrono::seconds(15)) const;

  // A well-formed request; Content-Length is added when there is a body.
  HttpReply Send(const std::string& method, const std::string& target,
                 const std::map<std::string, std::string>& headers = {},
                 const std::string& body = "") const;

 private:
  uint16_t port_;
};

HttpReply ParseHttpReply(const std::string& raw);

// A connected socket to 127.0.0.1:`port`, for tests that drive a connection byte by byte; the
// caller closes it.
int ConnectToLoopback(uint16_t port);

// A TCP port on 127.0.0.1 that was free a moment ago.
uint16_t FindFreeLoopbackPort();

// Holds a listening port on 127.0.0.1, as another program would, until destroyed.
class OccupiedLoopbackPort {
 public:
  OccupiedLoopbackPort();
  ~OccupiedLoopbackPort();
  OccupiedLoopbackPort(const OccupiedLoopbackPort&) = delete;
  OccupiedLoopbackPort& operator=(const OccupiedLoopbackPort&) = delete;

  uint16_t port() const { return port_; }

 private:
  int handle_ = -1;
  uint16_t port_ = 0;
};

}  // namespace zennic::testing
