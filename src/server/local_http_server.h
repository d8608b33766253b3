#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "platform/event_poller.h"
#include "platform/tcp_socket.h"
#include "server/http_message.h"
#include "server/http_request_handler.h"
#include "server/http_worker_pool.h"

namespace zennic {

class EmbeddedWebAssets;
class HttpConnection;

struct LocalHttpServerOptions {
  std::string bind_address;  // dotted IPv4
  uint16_t port = 0;         // 0: any free port
  std::filesystem::path log_folder;
  // Called with every request before it is routed, on the request's own thread. The body is
  // there only when the handler asked for it on the head; no other request has its body read.
  std::function<void(const HttpRequest&)> request_observer;
};

// The loopback HTTP/1.1 server of the web client: one request per connection. One thread
// waits on every connection at once and reads heads and bodies as they arrive, each against
// its deadlines; only a complete request gets a thread of its own. So a slow or idle client
// costs a few hundred bytes and never delays anyone else. Pages and assets go to the asset
// store, everything else to the request handler (the API); what neither claims is 404.
class LocalHttpServer {
 public:
  // Connections open at once (fewer when the system allows fewer open files). At the limit,
  // the oldest connection still sending its request makes room.
  static constexpr size_t kMaxConnections = 4096;
  // Requests handled at once; further complete requests wait their turn.
  static constexpr size_t kMaxRunningRequests = 128;
  // Request bytes held at once. Beyond it the oldest connections still sending their requests
  // make room, and then reading waits for handlers to finish.
  static constexpr size_t kMaxBufferedRequestBytes = size_t{384} << 20;

  // Neither dependency is owned; both must outlive the server.
  LocalHttpServer(LocalHttpServerOptions options, EmbeddedWebAssets* assets,
                  HttpRequestHandler* handler);
  ~LocalHttpServer();
  LocalHttpServer(const LocalHttpServer&) = delete;
  LocalHttpServer& operator=(const LocalHttpServer&) = delete;

  // Binds, listens and starts serving. When the requested port is taken, a free port is
  // bound instead and `used_fallback_port` tells so. True at once when already running.
  bool Start(std::string* error);
  // Stops serving, closes every connection and joins every thread. Harmless when not running.
  void Stop();

  // The bound port while running, else 0.
  uint16_t effective_port() const { return effective_port_; }
  bool used_fallback_port() const { return used_fallback_port_; }
  // How many connections are served at once here, after the system's limit of open files.
  size_t max_connections() const { return max_connections_; }

 private:
  using Clock = std::chrono::steady_clock;

  // A connection as the event loop keeps it.
  struct Entry {
    std::unique_ptr<HttpConnection> connection;
    unsigned watched = 0;   // the poller interest in force; 0 when not watched
    size_t charged = 0;     // request bytes counted against the budget
    bool dispatched = false;
    bool large_reply = false;
  };
  using Entries = std::map<uint64_t, Entry>;

  // A complete request on its way to a handler. The connection is the job's alone until the
  // job hands it back: the loop leaves a connection that is being handled alone.
  struct Job {
    uint64_t id = 0;
    HttpConnection* connection = nullptr;
    HttpRequest request;
    HttpHeadVerdict verdict;
  };
  // What a job hands back.
  struct Finished {
    uint64_t id = 0;
    bool large_reply = false;
  };

  bool StartListening(std::string* error);
  bool BindAndListen(uint16_t port, std::string* error);

  // The event loop's thread and what it does.
  void RunEventLoop();
  void AcceptWaiting(Clock::time_point now);
  void OnSocketEvent(const EventPoller::Event& event, Clock::time_point now);
  // Whatever a connection's new phase calls for: a verdict on its head, a handler, its
  // budget, its poller interest, its close.
  void Advance(Entries::iterator entry, Clock::time_point now);
  void DecideOnHead(HttpConnection& connection, Clock::time_point now);
  std::optional<HttpResponse> HostRefusal(const HttpRequest& head) const;
  void Charge(Entries::iterator entry);
  bool EvictOldestReader(uint64_t spared);
  void ResumePausedReaders(Clock::time_point now);
  // False when the poller refused the socket; the caller closes it.
  bool Watch(Entries::iterator entry, unsigned interest);
  void Close(Entries::iterator entry);
  void TakeFinishedRequests(Clock::time_point now);
  void ExpireConnections(Clock::time_point now);
  void ReleaseMemoryWhenDue(Clock::time_point now);
  void CloseEverything();

  // Request threads.
  void RunRequest(Job& job);
  HttpResponse Respond(Job& job);

  void Log(const std::string& message) const;

  LocalHttpServerOptions options_;
  EmbeddedWebAssets* assets_;
  HttpRequestHandler* handler_;
  EventPoller poller_;
  TcpSocket listener_;
  std::thread loop_thread_;
  std::atomic<bool> stop_{false};
  std::atomic<uint16_t> effective_port_{0};
  std::atomic<bool> used_fallback_port_{false};

  // The event loop's own, touched by no other thread.
  Entries entries_;
  uint64_t next_id_ = 1;
  std::atomic<size_t> max_connections_{kMaxConnections};
  size_t buffered_bytes_ = 0;
  size_t paused_readers_ = 0;
  bool listener_watched_ = false;
  Clock::time_point accept_again_at_;
  std::chrono::milliseconds accept_backoff_{0};
  Clock::time_point next_expiry_check_;
  bool memory_to_release_ = false;
  Clock::time_point next_memory_release_;

  HttpWorkerPool workers_;
  // Guards what request threads hand back to the loop.
  std::mutex finished_mutex_;
  std::vector<Finished> finished_;
  bool request_memory_freed_ = false;
};

}  // namespace zennic
