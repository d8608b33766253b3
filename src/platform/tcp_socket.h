#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace zennic {

class EventPoller;

// One IPv4 TCP socket of the local server. Close-on-exec, so a program we start never inherits
// it; closed on destruction; never blocks (the server waits for many sockets at once in an
// EventPoller); sending never raises a signal when the peer has gone.
class TcpSocket {
 public:
  enum class BindResult { Bound, InvalidAddress, Failed };
  enum class AcceptStatus { Accepted, NoneWaiting, Failed };
  enum class IoStatus { Done, WouldBlock, Closed, Failed };

  TcpSocket() = default;
  ~TcpSocket();
  TcpSocket(TcpSocket&& other) noexcept;
  TcpSocket& operator=(TcpSocket&& other) noexcept;
  TcpSocket(const TcpSocket&) = delete;
  TcpSocket& operator=(const TcpSocket&) = delete;

  // A fresh stream socket whose address can be bound again at once after a restart; invalid
  // when the system refuses one.
  static TcpSocket OpenStream();

  bool valid() const { return handle_ >= 0; }

  // `address` is dotted IPv4 text.
  BindResult Bind(const std::string& address, uint16_t port);
  bool Listen();
  bool LocalPort(uint16_t* port) const;

  // Takes the next waiting connection, if any; a connection its client aborted before it was
  // taken is skipped. Failed when the system is out of descriptors or memory, or the
  // listener was shut down.
  AcceptStatus Accept(TcpSocket* connection);

  // Takes up to `capacity` bytes that have arrived. Done with `received` > 0, Closed when the
  // client has sent all it will.
  IoStatus Receive(char* buffer, size_t capacity, size_t* received);
  // Sends what the socket takes now of `first` and then `second`, in one call.
  IoStatus Send(std::string_view first, std::string_view second, size_t* sent);

  void ShutdownSend();
  void ShutdownBoth();
  void Close();

 private:
  friend class EventPoller;
  explicit TcpSocket(int handle) : handle_(handle) {}

  int handle_ = -1;
};

}  // namespace zennic
