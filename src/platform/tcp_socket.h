#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace zennic {

// One IPv4 TCP socket of the local server. Close-on-exec, so a program we start never inherits
// it; closed on destruction; sending never raises a signal when the peer has gone.
class TcpSocket {
 public:
  enum class BindResult { Bound, InvalidAddress, Failed };
  enum class ReceiveStatus { Data, Closed, TimedOut, Failed };
  enum class AcceptStatus { Accepted, TimedOut, Failed };

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

  // Waits at most `timeout_ms` for the next connection. Failed also when ShutdownBoth ended the
  // wait; a connection the peer aborted before it was taken is skipped.
  AcceptStatus Accept(int timeout_ms, TcpSocket* connection);

  // Time-outs of every single send and receive on a connection.
  bool SetTimeouts(int milliseconds);

  // Waits at most `timeout_ms` for bytes, then takes up to `capacity` of them.
  ReceiveStatus Receive(char* buffer, size_t capacity, int timeout_ms, size_t* received);
  // Sends what one call can; the count sent, or -1 on failure.
  long Send(const char* data, size_t size);

  void ShutdownSend();
  // Also wakes a thread waiting in Accept on this socket.
  void ShutdownBoth();
  void Close();

 private:
  explicit TcpSocket(int handle) : handle_(handle) {}

  int handle_ = -1;
};

}  // namespace zennic
