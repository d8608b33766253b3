#include "support/local_https_server.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <openssl/ssl.h>
#include <poll.h>
#include <signal.h>
#include <sys/socket.h>
#include <unistd.h>

#include <stdexcept>

namespace zennic::testing {
namespace {

constexpr int kPollMs = 50;

void WriteAll(SSL* ssl, const std::string& bytes) {
  size_t sent = 0;
  while (sent < bytes.size()) {
    int count = SSL_write(ssl, bytes.data() + sent, static_cast<int>(bytes.size() - sent));
    if (count <= 0) return;
    sent += static_cast<size_t>(count);
  }
}

std::string ReadHead(SSL* ssl) {
  std::string head;
  char buffer[4096];
  while (head.find("\r\n\r\n") == std::string::npos) {
    int count = SSL_read(ssl, buffer, sizeof buffer);
    if (count <= 0) break;
    head.append(buffer, static_cast<size_t>(count));
  }
  return head;
}

std::string RequestPath(const std::string& head) {
  size_t start = head.find(' ');
  if (start == std::string::npos) return "";
  size_t end = head.find(' ', start + 1);
  return head.substr(start + 1, end == std::string::npos ? std::string::npos : end - start - 1);
}

}  // namespace

CannedReply CannedReply::Body(std::string body, int status) {
  CannedReply reply;
  reply.status = status;
  reply.body = std::move(body);
  return reply;
}

CannedReply CannedReply::Redirect(int status, std::string location) {
  CannedReply reply;
  reply.status = status;
  reply.headers["Location"] = std::move(location);
  return reply;
}

CannedReply CannedReply::Silent() {
  CannedReply reply;
  reply.never_answer = true;
  return reply;
}

LocalHttpsServer::LocalHttpsServer(const std::filesystem::path& certificate,
                                   const std::filesystem::path& key) {
  // A client that gives up mid-answer must not end the test process.
  ::signal(SIGPIPE, SIG_IGN);
  context_ = SSL_CTX_new(TLS_server_method());
  if (context_ == nullptr ||
      SSL_CTX_use_certificate_chain_file(context_, certificate.c_str()) != 1 ||
      SSL_CTX_use_PrivateKey_file(context_, key.c_str(), SSL_FILETYPE_PEM) != 1) {
    SSL_CTX_free(context_);
    throw std::runtime_error("the test server's certificate could not be loaded");
  }
  listener_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t length = sizeof address;
  if (listener_ < 0 || ::bind(listener_, reinterpret_cast<sockaddr*>(&address), length) != 0 ||
      ::listen(listener_, 16) != 0 ||
      ::getsockname(listener_, reinterpret_cast<sockaddr*>(&address), &length) != 0) {
    if (listener_ >= 0) ::close(listener_);
    SSL_CTX_free(context_);
    throw std::runtime_error("the test server could not listen");
  }
  port_ = ntohs(address.sin_port);
  accept_thread_ = std::thread([this] { AcceptLoop(); });
}

LocalHttpsServer::~LocalHttpsServer() {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    stopping_ = true;
    // Wakes connection threads that wait for a request.
    for (int handle : open_connections_) ::shutdown(handle, SHUT_RDWR);
  }
  stopped_.notify_all();
  accept_thread_.join();
  for (std::thread& thread : connection_threads_) thread.join();
  ::close(listener_);
  SSL_CTX_free(context_);
}

void LocalHttpsServer::Serve(const std::string& path, CannedReply reply) {
  std::lock_guard<std::mutex> lock(mutex_);
  replies_[path] = std::move(reply);
}

std::string LocalHttpsServer::Url(const std::string& path) const {
  return "https://127.0.0.1:" + std::to_string(port_) + path;
}

int LocalHttpsServer::connections() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return connections_;
}

std::vector<std::string> LocalHttpsServer::request_heads() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return request_heads_;
}

void LocalHttpsServer::AcceptLoop() {
  for (;;) {
    {
      std::lock_guard<std::mutex> lock(mutex_);
      if (stopping_) return;
    }
    pollfd ready{listener_, POLLIN, 0};
    if (::poll(&ready, 1, kPollMs) <= 0) continue;
    int handle = ::accept4(listener_, nullptr, nullptr, SOCK_CLOEXEC);
    if (handle < 0) continue;
    std::lock_guard<std::mutex> lock(mutex_);
    ++connections_;
    open_connections_.insert(handle);
    connection_threads_.emplace_back([this, handle] { Answer(handle); });
  }
}

void LocalHttpsServer::Answer(int handle) {
  SSL* ssl = SSL_new(context_);
  SSL_set_fd(ssl, handle);
  if (SSL_accept(ssl) == 1) {
    std::string head = ReadHead(ssl);
    std::unique_lock<std::mutex> lock(mutex_);
    request_heads_.push_back(head);
    auto found = replies_.find(RequestPath(head));
    CannedReply reply =
        found != replies_.end() ? found->second : CannedReply::Body("not found", 404);
    if (reply.never_answer) {
      stopped_.wait(lock, [this] { return stopping_; });
    } else {
      lock.unlock();
      std::string answer = "HTTP/1.1 " + std::to_string(reply.status) + " Canned\r\n";
      reply.headers.emplace("Content-Length", std::to_string(reply.body.size()));
      reply.headers.emplace("Connection", "close");
      for (const auto& [name, value] : reply.headers) answer += name + ": " + value + "\r\n";
      WriteAll(ssl, answer + "\r\n" + reply.body);
      SSL_shutdown(ssl);
    }
  }
  SSL_free(ssl);
  std::lock_guard<std::mutex> lock(mutex_);
  open_connections_.erase(handle);
  ::close(handle);
}

}  // namespace zennic::testing
