#pragma once

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <list>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

#include "platform/tcp_socket.h"
#include "server/http_message.h"
#include "server/http_request_handler.h"

namespace zennic {

class EmbeddedWebAssets;
class HttpConnection;

struct LocalHttpServerOptions {
  std::string bind_address;  // dotted IPv4
  uint16_t port = 0;         // 0: any free port
  std::filesystem::path log_folder;
  // Called with every request before it is routed. The body is there only when the handler
  // asked for it on the head; no other request has its body read.
  std::function<void(const HttpRequest&)> request_observer;
};

// The loopback HTTP/1.1 server of the web client: one request per connection, one thread per
// connection. Pages and assets go to the asset store, everything else to the request handler
// (the API); what neither claims is 404.
class LocalHttpServer {
 public:
  // Connections served at once. Further clients wait in the listen queue until one ends, so a
  // flood of connections cannot exhaust threads or memory.
  static constexpr size_t kMaxConcurrentConnections = 128;

  // Neither dependency is owned; both must outlive the server.
  LocalHttpServer(LocalHttpServerOptions options, EmbeddedWebAssets* assets,
                  HttpRequestHandler* handler);
  ~LocalHttpServer();
  LocalHttpServer(const LocalHttpServer&) = delete;
  LocalHttpServer& operator=(const LocalHttpServer&) = delete;

  // Binds, listens and starts accepting. When the requested port is taken, a free port is
  // bound instead and `used_fallback_port` tells so. True at once when already running.
  bool Start(std::string* error);
  // Stops accepting and ends and joins every thread. Harmless when not running.
  void Stop();

  // The bound port while running, else 0.
  uint16_t effective_port() const { return effective_port_; }
  bool used_fallback_port() const { return used_fallback_port_; }

 private:
  struct Connection {
    TcpSocket socket;
    std::thread thread;
    bool finished = false;
  };

  bool StartListening(std::string* error);
  bool BindAndListen(uint16_t port, std::string* error);
  void AcceptLoop();
  bool WaitForConnectionSlot();
  void ReapFinishedConnections();
  void StartConnection(TcpSocket socket);
  void RunClientThread(Connection* connection);
  void HandleConnection(HttpConnection& connection);
  // The generic 500 reply and a log line, for what escaped the handling of a connection.
  void ReportHandlerFailure(HttpConnection& connection, const char* what) noexcept;
  void Log(const std::string& message) const;

  LocalHttpServerOptions options_;
  EmbeddedWebAssets* assets_;
  HttpRequestHandler* handler_;
  TcpSocket listener_;
  std::thread accept_thread_;
  // Guards the connection list and each record's socket handle and finished flag.
  std::mutex connections_mutex_;
  std::condition_variable connection_finished_;
  std::list<std::unique_ptr<Connection>> connections_;
  std::atomic<bool> stop_{false};
  std::atomic<uint16_t> effective_port_{0};
  std::atomic<bool> used_fallback_port_{false};
};

}  // namespace zennic
