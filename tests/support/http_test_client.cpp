#include "support/http_test_client.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <stdexcept>

namespace zennic::testing {
namespace {

sockaddr_in Loopback(uint16_t port) {
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_port = htons(port);
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  return address;
}

}  // namespace

HttpReply HttpTestClient::Exchange(std::string_view bytes,
                                   std::chrono::milliseconds timeout) const {
  int handle = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (handle < 0) throw std::runtime_error("socket() failed");
  sockaddr_in address = Loopback(port_);
  if (::connect(handle, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
    ::close(handle);
    return HttpReply();
  }
  size_t sent = 0;
  while (sent < bytes.size()) {
    ssize_t count = ::send(handle, bytes.data() + sent, bytes.size() - sent, MSG_NOSIGNAL);
    if (count <= 0) break;
    sent += static_cast<size_t>(count);
  }
  std::string raw;
  auto deadline = std::chrono::steady_clock::now() + timeout;
  for (;;) {
    auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
        deadline - std::chrono::steady_clock::now());
    if (left.count() <= 0) break;
    pollfd wait{handle, POLLIN, 0};
    if (::poll(&wait, 1, static_cast<int>(left.count())) <= 0) break;
    char chunk[65536];
    ssize_t count = ::recv(handle, chunk, sizeof chunk, 0);
    if (count <= 0) break;
    raw.append(chunk, static_cast<size_t>(count));
  }
  ::close(handle);
  return ParseHttpReply(raw);
}

HttpReply HttpTestClient::Send(const std::string& method, const std::string& target,
                               const std::map<std::string, std::string>& headers,
                               const std::string& body) const {
  std::string request = method + " " + target + " HTTP/1.1\r\nHost: 127.0.0.1:" +
                        std::to_string(port_) + "\r\n";
  for (const auto& [name, value] : headers) request += name + ": " + value + "\r\n";
  if (!body.empty()) request += "Content-Length: " + std::to_string(body.size()) + "\r\n";
  request += "\r\n" + body;
  return Exchange(request);
}

int ConnectToLoopback(uint16_t port) {
  int handle = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (handle < 0) throw std::runtime_error("socket() failed");
  sockaddr_in address = Loopback(port);
  if (::connect(handle, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
    ::close(handle);
    throw std::runtime_error("connect() failed");
  }
  return handle;
}

HttpReply ParseHttpReply(const std::string& raw) {
  HttpReply reply;
  reply.raw = raw;
  size_t head_end = raw.find("\r\n\r\n");
  if (head_end == std::string::npos) return reply;
  std::string head = raw.substr(0, head_end);
  reply.body = raw.substr(head_end + 4);
  size_t line_end = head.find("\r\n");
  reply.status_line = head.substr(0, line_end);
  if (reply.status_line.size() >= 12) reply.status = std::stoi(reply.status_line.substr(9, 3));
  while (line_end != std::string::npos) {
    size_t start = line_end + 2;
    line_end = head.find("\r\n", start);
    std::string line = head.substr(start, line_end == std::string::npos ? std::string::npos
                                                                        : line_end - start);
    size_t colon = line.find(": ");
    if (colon != std::string::npos) reply.headers[line.substr(0, colon)] = line.substr(colon + 2);
  }
  return reply;
}

namespace {

// A socket bound to a port the system chose; its handle, or -1.
int BindAnyLoopbackPort(uint16_t* port) {
  int handle = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_in address = Loopback(0);
  socklen_t length = sizeof address;
  if (handle < 0 || ::bind(handle, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
      ::getsockname(handle, reinterpret_cast<sockaddr*>(&address), &length) != 0) {
    throw std::runtime_error("no free loopback port");
  }
  *port = ntohs(address.sin_port);
  return handle;
}

}  // namespace

uint16_t FindFreeLoopbackPort() {
  uint16_t port = 0;
  ::close(BindAnyLoopbackPort(&port));
  return port;
}

OccupiedLoopbackPort::OccupiedLoopbackPort() {
  handle_ = BindAnyLoopbackPort(&port_);
  if (::listen(handle_, 1) != 0) throw std::runtime_error("listen() failed");
}

OccupiedLoopbackPort::~OccupiedLoopbackPort() { ::close(handle_); }

}  // namespace zennic::testing
