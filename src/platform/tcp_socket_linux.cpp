#include "platform/tcp_socket.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <utility>

namespace zennic {

TcpSocket::~TcpSocket() { Close(); }

TcpSocket::TcpSocket(TcpSocket&& other) noexcept : handle_(std::exchange(other.handle_, -1)) {}

TcpSocket& TcpSocket::operator=(TcpSocket&& other) noexcept {
  if (this != &other) {
    Close();
    handle_ = std::exchange(other.handle_, -1);
  }
  return *this;
}

TcpSocket TcpSocket::OpenStream() {
  int handle = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (handle < 0) return TcpSocket();
  int on = 1;
  ::setsockopt(handle, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
  return TcpSocket(handle);
}

TcpSocket::BindResult TcpSocket::Bind(const std::string& address, uint16_t port) {
  sockaddr_in socket_address{};
  socket_address.sin_family = AF_INET;
  socket_address.sin_port = htons(port);
  if (::inet_pton(AF_INET, address.c_str(), &socket_address.sin_addr) != 1) {
    return BindResult::InvalidAddress;
  }
  if (::bind(handle_, reinterpret_cast<const sockaddr*>(&socket_address), sizeof socket_address) !=
      0) {
    return BindResult::Failed;
  }
  return BindResult::Bound;
}

// The listener never blocks: Accept waits in poll, so a connection aborted between the wake-up
// and the accept cannot leave the accepting thread stuck.
bool TcpSocket::Listen() {
  int flags = ::fcntl(handle_, F_GETFL);
  if (flags < 0 || ::fcntl(handle_, F_SETFL, flags | O_NONBLOCK) != 0) return false;
  return ::listen(handle_, SOMAXCONN) == 0;
}

bool TcpSocket::LocalPort(uint16_t* port) const {
  sockaddr_in socket_address{};
  socklen_t length = sizeof socket_address;
  if (::getsockname(handle_, reinterpret_cast<sockaddr*>(&socket_address), &length) != 0) {
    return false;
  }
  *port = ntohs(socket_address.sin_port);
  return true;
}

namespace {

// 0 when the wait timed out, -1 on failure, else ready.
int WaitReadable(int handle, int timeout_ms, short* events) {
  pollfd wait{handle, POLLIN, 0};
  int ready;
  do {
    ready = ::poll(&wait, 1, timeout_ms);
  } while (ready < 0 && errno == EINTR);
  *events = wait.revents;
  return ready;
}

}  // namespace

TcpSocket::AcceptStatus TcpSocket::Accept(int timeout_ms, TcpSocket* connection) {
  short events = 0;
  int ready = WaitReadable(handle_, timeout_ms, &events);
  if (ready == 0) return AcceptStatus::TimedOut;
  if (ready < 0 || (events & (POLLHUP | POLLERR | POLLNVAL)) != 0) return AcceptStatus::Failed;
  for (;;) {
    int handle = ::accept4(handle_, nullptr, nullptr, SOCK_CLOEXEC);
    if (handle >= 0) {
      *connection = TcpSocket(handle);
      return AcceptStatus::Accepted;
    }
    if (errno == EAGAIN || errno == EWOULDBLOCK) return AcceptStatus::TimedOut;
    if (errno != EINTR && errno != ECONNABORTED) return AcceptStatus::Failed;
  }
}

bool TcpSocket::SetTimeouts(int milliseconds) {
  timeval timeout{};
  timeout.tv_sec = milliseconds / 1000;
  timeout.tv_usec = (milliseconds % 1000) * 1000;
  bool receive = ::setsockopt(handle_, SOL_SOCKET, SO_RCVTIMEO, &timeout, sizeof timeout) == 0;
  bool send = ::setsockopt(handle_, SOL_SOCKET, SO_SNDTIMEO, &timeout, sizeof timeout) == 0;
  return receive && send;
}

TcpSocket::ReceiveStatus TcpSocket::Receive(char* buffer, size_t capacity, int timeout_ms,
                                            size_t* received) {
  *received = 0;
  short events = 0;
  int ready = WaitReadable(handle_, timeout_ms, &events);
  if (ready < 0) return ReceiveStatus::Failed;
  if (ready == 0) return ReceiveStatus::TimedOut;
  ssize_t count;
  do {
    count = ::recv(handle_, buffer, capacity, 0);
  } while (count < 0 && errno == EINTR);
  if (count < 0) {
    return errno == EAGAIN || errno == EWOULDBLOCK ? ReceiveStatus::TimedOut
                                                   : ReceiveStatus::Failed;
  }
  if (count == 0) return ReceiveStatus::Closed;
  *received = static_cast<size_t>(count);
  return ReceiveStatus::Data;
}

long TcpSocket::Send(const char* data, size_t size) {
  ssize_t count;
  do {
    count = ::send(handle_, data, size, MSG_NOSIGNAL);
  } while (count < 0 && errno == EINTR);
  return count;
}

void TcpSocket::ShutdownSend() {
  if (handle_ >= 0) ::shutdown(handle_, SHUT_WR);
}

void TcpSocket::ShutdownBoth() {
  if (handle_ >= 0) ::shutdown(handle_, SHUT_RDWR);
}

void TcpSocket::Close() {
  if (handle_ >= 0) ::close(std::exchange(handle_, -1));
}

}  // namespace zennic
