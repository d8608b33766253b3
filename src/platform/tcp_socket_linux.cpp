#include "platform/tcp_socket.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>
#include <sys/uio.h>
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
  int handle = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
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

bool TcpSocket::Listen() { return ::listen(handle_, SOMAXCONN) == 0; }

bool TcpSocket::LocalPort(uint16_t* port) const {
  sockaddr_in socket_address{};
  socklen_t length = sizeof socket_address;
  if (::getsockname(handle_, reinterpret_cast<sockaddr*>(&socket_address), &length) != 0) {
    return false;
  }
  *port = ntohs(socket_address.sin_port);
  return true;
}

TcpSocket::AcceptStatus TcpSocket::Accept(TcpSocket* connection) {
  for (;;) {
    int handle = ::accept4(handle_, nullptr, nullptr, SOCK_CLOEXEC | SOCK_NONBLOCK);
    if (handle >= 0) {
      // Replies go out in one or two sends; none may wait for the client's acknowledgement.
      int on = 1;
      ::setsockopt(handle, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
      *connection = TcpSocket(handle);
      return AcceptStatus::Accepted;
    }
    if (errno == EAGAIN || errno == EWOULDBLOCK) return AcceptStatus::NoneWaiting;
    if (errno != EINTR && errno != ECONNABORTED) return AcceptStatus::Failed;
  }
}

TcpSocket::IoStatus TcpSocket::Receive(char* buffer, size_t capacity, size_t* received) {
  *received = 0;
  ssize_t count;
  do {
    count = ::recv(handle_, buffer, capacity, 0);
  } while (count < 0 && errno == EINTR);
  if (count < 0) return errno == EAGAIN || errno == EWOULDBLOCK ? IoStatus::WouldBlock : IoStatus::Failed;
  if (count == 0) return IoStatus::Closed;
  *received = static_cast<size_t>(count);
  return IoStatus::Done;
}

TcpSocket::IoStatus TcpSocket::Send(std::string_view first, std::string_view second,
                                    size_t* sent) {
  *sent = 0;
  iovec pieces[2] = {{const_cast<char*>(first.data()), first.size()},
                     {const_cast<char*>(second.data()), second.size()}};
  msghdr message{};
  message.msg_iov = pieces;
  message.msg_iovlen = 2;
  ssize_t count;
  do {
    count = ::sendmsg(handle_, &message, MSG_NOSIGNAL);
  } while (count < 0 && errno == EINTR);
  if (count < 0) return errno == EAGAIN || errno == EWOULDBLOCK ? IoStatus::WouldBlock : IoStatus::Failed;
  *sent = static_cast<size_t>(count);
  return IoStatus::Done;
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
