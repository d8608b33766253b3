#pragma once

#include <condition_variable>
#include <cstdint>
#include <filesystem>
#include <map>
#include <mutex>
#include <set>
#include <string>
#include <thread>
#include <vector>

typedef struct ssl_ctx_st SSL_CTX;

namespace zennic::testing {

// What the server answers on one path.
struct CannedReply {
  static CannedReply Body(std::string body, int status = 200);
  static CannedReply Redirect(int status, std::string location);
  static CannedReply Silent();

  int status = 200;
  std::string body;
  std::map<std::string, std::string> headers;
  // Reads the request, then keeps the connection open without a word until the server stops.
  bool never_answer = false;
};

// An HTTPS server on 127.0.0.1 at a free port, one thread per connection, answering each
// path with its canned reply and any other with 404. Stops and joins on destruction.
class LocalHttpsServer {
 public:
  LocalHttpsServer(const std::filesystem::path& certificate, const std::filesystem::path& key);
  ~LocalHttpsServer();
  LocalHttpsServer(const LocalHttpsServer&) = delete;
  LocalHttpsServer& operator=(const LocalHttpsServer&) = delete;

  void Serve(const std::string& path, CannedReply reply);
  std::string Url(const std::string& path) const;
  uint16_t port() const { return port_; }
  // Every connection counts, also one whose TLS handshake failed.
  int connections() const;
  // The heads of the requests read so far, as sent.
  std::vector<std::string> request_heads() const;

 private:
  void AcceptLoop();
  void Answer(int handle);

  SSL_CTX* context_ = nullptr;
  int listener_ = -1;
  uint16_t port_ = 0;
  mutable std::mutex mutex_;
  std::condition_variable stopped_;
  bool stopping_ = false;
  std::map<std::string, CannedReply> replies_;
  std::set<int> open_connections_;
  std::vector<std::thread> connection_threads_;
  std::vector<std::string> request_heads_;
  int connections_ = 0;
  std::thread accept_thread_;
};

}  // namespace zennic::testing
