// Load generator for the local web server: `concurrency` clients send `requests` requests in
// all, one connection each, as the web client does. Half of them load the main page, half
// post to the API with the session cookie. Prints the throughput and every status seen;
// exits 1 when any request failed (no complete reply, or a server error).
// With "slow", the same two requests are sent one at a time while 300 clients trickle their
// heads and 130 their bodies at a byte a second, and their latencies are printed. With
// "hold", `count` clients trickle their heads for `seconds`, for measuring what they cost.
// With "status", `concurrency` clients post to the status route back to back for `seconds`
// while one more loads the main page and its script, and the latencies of both are printed.
// With "soak", `concurrency` clients poll the status, list the files and load the main page,
// in turn, for `seconds`.
//
// Usage: bench_http_load <port> [requests=10000] [concurrency=64]
//        bench_http_load <port> slow
//        bench_http_load <port> hold <count> <seconds>
//        bench_http_load <port> status <seconds> <concurrency>
//        bench_http_load <port> soak <seconds> [concurrency=64]

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <map>
#include <mutex>
#include <string>
#include <thread>
#include <utility>
#include <vector>

namespace {

struct Reply {
  int status = 0;
  bool complete = false;
  std::string head;
  std::string body;
};

Reply Exchange(uint16_t port, const std::string& request) {
  Reply reply;
  int handle = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (handle < 0) return reply;
  timeval timeout{10, 0};
  ::setsockopt(handle, SOL_SOCKET, SO_RCVTIMEO, &timeout, sizeof timeout);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_port = htons(port);
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  std::string raw;
  if (::connect(handle, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0 &&
      ::send(handle, request.data(), request.size(), MSG_NOSIGNAL) ==
          static_cast<ssize_t>(request.size())) {
    char chunk[65536];
    for (ssize_t count; (count = ::recv(handle, chunk, sizeof chunk, 0)) > 0;) {
      raw.append(chunk, static_cast<size_t>(count));
    }
  }
  ::close(handle);
  size_t head_end = raw.find("\r\n\r\n");
  if (raw.size() < 12 || head_end == std::string::npos) return reply;
  reply.status = std::atoi(raw.c_str() + 9);
  reply.head = raw.substr(0, head_end);
  reply.body = raw.substr(head_end + 4);
  size_t length_at = reply.head.find("Content-Length: ");
  reply.complete = length_at != std::string::npos &&
                   std::strtoul(reply.head.c_str() + length_at + 16, nullptr, 10) ==
                       reply.body.size();
  return reply;
}

std::string SessionToken(const Reply& page) {
  const std::string marker = "zennic_session=";
  size_t at = page.head.find(marker);
  return at == std::string::npos ? std::string() : page.head.substr(at + marker.size(), 32);
}

double Percentile(std::vector<double> values, double p) {
  if (values.empty()) return 0.0;
  std::sort(values.begin(), values.end());
  return values[static_cast<size_t>(p * (values.size() - 1))];
}

double MillisecondsSince(std::chrono::steady_clock::time_point begin) {
  return std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - begin).count();
}

// Connections that send their first bytes and then a byte a second, all from one thread.
class TricklingClients {
 public:
  TricklingClients(uint16_t port, const std::string& opening, int count) {
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(port);
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    for (int i = 0; i < count; ++i) {
      int handle = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
      if (::connect(handle, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
        ::close(handle);
        continue;
      }
      ::send(handle, opening.data(), opening.size(), MSG_NOSIGNAL);
      handles_.push_back(handle);
    }
    driver_ = std::thread([this] {
      while (!stop_) {
        for (int handle : handles_) ::send(handle, "a", 1, MSG_NOSIGNAL | MSG_DONTWAIT);
        for (int i = 0; i < 10 && !stop_; ++i) std::this_thread::sleep_for(std::chrono::milliseconds(100));
      }
    });
  }
  ~TricklingClients() {
    stop_ = true;
    driver_.join();
    for (int handle : handles_) ::close(handle);
  }
  size_t size() const { return handles_.size(); }

 private:
  std::vector<int> handles_;
  std::atomic<bool> stop_{false};
  std::thread driver_;
};

int RunBesideSlowClients(uint16_t port, const std::string& page, const std::string& api,
                         const std::string& body_opening) {
  TricklingClients heads(port, page.substr(0, page.size() - 2) + "X-Slow: ", 300);
  TricklingClients bodies(port, body_opening, 130);
  std::this_thread::sleep_for(std::chrono::seconds(1));
  std::vector<double> page_ms;
  std::vector<double> api_ms;
  int failed = 0;
  for (int i = 0; i < 200; ++i) {
    for (auto [request, latencies] : {std::pair{&page, &page_ms}, std::pair{&api, &api_ms}}) {
      auto begin = std::chrono::steady_clock::now();
      Reply reply = Exchange(port, *request);
      latencies->push_back(MillisecondsSince(begin));
      if (!reply.complete || reply.status == 0 || reply.status >= 500) failed += 1;
    }
  }
  std::printf("beside %zu slow heads and %zu trickling bodies: page ms p50 %.2f, p99 %.2f, max %.2f; "
              "API ms p50 %.2f, p99 %.2f, max %.2f; failed %d\n",
              heads.size(), bodies.size(), Percentile(page_ms, 0.5), Percentile(page_ms, 0.99),
              Percentile(page_ms, 1.0), Percentile(api_ms, 0.5), Percentile(api_ms, 0.99),
              Percentile(api_ms, 1.0), failed);
  return failed == 0 ? 0 : 1;
}

int HoldConnections(uint16_t port, const std::string& page, int count, int seconds) {
  TricklingClients held(port, page.substr(0, page.size() - 2) + "X-Slow: ", count);
  std::printf("holding %zu connections\n", held.size());
  std::fflush(stdout);
  std::this_thread::sleep_for(std::chrono::seconds(seconds));
  return 0;
}

// The status route as the web client polls it, from many clients at once, beside page loads.
int PollStatusBesidePages(uint16_t port, const std::string& status, const std::string& page,
                          const std::string& script, int seconds, int concurrency) {
  auto end = std::chrono::steady_clock::now() + std::chrono::seconds(seconds);
  std::mutex results_mutex;
  std::vector<double> status_ms;
  std::vector<double> page_ms;
  int failed = 0;
  auto loop = [&](std::vector<const std::string*> requests, std::vector<double>* all) {
    std::vector<double> mine;
    int my_failed = 0;
    while (std::chrono::steady_clock::now() < end) {
      for (const std::string* request : requests) {
        auto begin = std::chrono::steady_clock::now();
        Reply reply = Exchange(port, *request);
        mine.push_back(MillisecondsSince(begin));
        if (!reply.complete || reply.status != 200) my_failed += 1;
      }
    }
    std::lock_guard<std::mutex> lock(results_mutex);
    all->insert(all->end(), mine.begin(), mine.end());
    failed += my_failed;
  };
  std::vector<std::thread> clients;
  for (int c = 0; c < concurrency; ++c) clients.emplace_back(loop, std::vector{&status}, &status_ms);
  clients.emplace_back(loop, std::vector{&page, &script}, &page_ms);
  for (std::thread& client : clients) client.join();
  std::printf("%d status clients for %d s: %zu answers, ms p50 %.2f, p99 %.2f, max %.2f; "
              "%zu page and script loads beside them, ms p50 %.2f, p99 %.2f, max %.2f; failed %d\n",
              concurrency, seconds, status_ms.size(), Percentile(status_ms, 0.5),
              Percentile(status_ms, 0.99), Percentile(status_ms, 1.0), page_ms.size(),
              Percentile(page_ms, 0.5), Percentile(page_ms, 0.99), Percentile(page_ms, 1.0), failed);
  return failed == 0 ? 0 : 1;
}

// `concurrency` clients send request number i, requests[i % size], while `more(i)`; prints the
// throughput, latencies and statuses, and returns 1 when any request failed.
int RunClients(uint16_t port, const std::vector<std::string>& requests, int concurrency,
               const std::function<bool(int)>& more) {
  std::atomic<int> next{0};
  std::mutex results_mutex;
  std::map<int, int> statuses;
  int failed = 0;
  std::vector<double> latencies_ms;
  auto started = std::chrono::steady_clock::now();
  std::vector<std::thread> clients;
  for (int c = 0; c < concurrency; ++c) {
    clients.emplace_back([&] {
      std::map<int, int> my_statuses;
      int my_failed = 0;
      std::vector<double> my_latencies;
      for (int i; more(i = next.fetch_add(1));) {
        auto begin = std::chrono::steady_clock::now();
        Reply reply = Exchange(port, requests[static_cast<size_t>(i) % requests.size()]);
        my_latencies.push_back(MillisecondsSince(begin));
        my_statuses[reply.status] += 1;
        if (!reply.complete || reply.status == 0 || reply.status >= 500) my_failed += 1;
      }
      std::lock_guard<std::mutex> lock(results_mutex);
      for (auto [status, count] : my_statuses) statuses[status] += count;
      failed += my_failed;
      latencies_ms.insert(latencies_ms.end(), my_latencies.begin(), my_latencies.end());
    });
  }
  for (std::thread& client : clients) client.join();
  double seconds =
      std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
  size_t total = latencies_ms.size();
  std::printf("requests %zu, concurrency %d, %.2f s, %.0f requests/s\n", total, concurrency,
              seconds, static_cast<double>(total) / seconds);
  std::printf("latency ms: p50 %.2f, p99 %.2f, max %.2f\n", Percentile(latencies_ms, 0.5),
              Percentile(latencies_ms, 0.99), Percentile(latencies_ms, 1.0));
  for (auto [status, count] : statuses) std::printf("status %d: %d\n", status, count);
  std::printf("failed %d\n", failed);
  return failed == 0 ? 0 : 1;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2) {
    std::fprintf(stderr, "usage: bench_http_load <port> [requests] [concurrency]\n"
                         "       bench_http_load <port> slow\n"
                         "       bench_http_load <port> hold <count> <seconds>\n"
                         "       bench_http_load <port> status <seconds> <concurrency>\n"
                         "       bench_http_load <port> soak <seconds> [concurrency]\n");
    return 2;
  }
  uint16_t port = static_cast<uint16_t>(std::atoi(argv[1]));
  std::string mode = argc > 2 ? argv[2] : "";
  std::string host = "Host: 127.0.0.1:" + std::to_string(port) + "\r\n";

  std::string token = SessionToken(Exchange(port, "GET / HTTP/1.1\r\n" + host + "\r\n"));
  if (token.empty()) {
    std::fprintf(stderr, "bench_http_load: the main page gave no session cookie\n");
    return 1;
  }
  const std::string page = "GET / HTTP/1.1\r\n" + host + "\r\n";
  // A POST through every gate, up to the value of its Content-Length.
  auto api_head = [&](const std::string& path) {
    return "POST " + path + " HTTP/1.1\r\n" + host + "Origin: http://127.0.0.1:" +
           std::to_string(port) + "\r\nCookie: zennic_session=" + token +
           "\r\nContent-Type: application/json\r\nContent-Length: ";
  };
  // An API call to the router, whose route does no work of its own.
  const std::string api = api_head("/api/mixer/no-such-route") + "2\r\n\r\n{}";
  const std::string status = api_head("/api/mixer/status") + "2\r\n\r\n{}";
  if (mode == "slow") {
    return RunBesideSlowClients(port, page, api,
                                api_head("/api/mixer/no-such-route") + "100000\r\n\r\n{");
  }
  if (mode == "hold" && argc > 4) return HoldConnections(port, page, std::atoi(argv[3]), std::atoi(argv[4]));
  if (mode == "status" && argc > 4) {
    return PollStatusBesidePages(port, status, page,
                                 "GET /assets/js/app.js HTTP/1.1\r\n" + host + "\r\n",
                                 std::atoi(argv[3]), std::atoi(argv[4]));
  }
  if (mode == "soak" && argc > 3) {
    auto until = std::chrono::steady_clock::now() + std::chrono::seconds(std::atoi(argv[3]));
    return RunClients(port, {status, api_head("/api/mixer/files") + "2\r\n\r\n{}", page},
                      argc > 4 ? std::atoi(argv[4]) : 64,
                      [until](int) { return std::chrono::steady_clock::now() < until; });
  }
  int total = argc > 2 ? std::atoi(argv[2]) : 10000;
  return RunClients(port, {page, api}, argc > 3 ? std::atoi(argv[3]) : 64,
                    [total](int i) { return i < total; });
}
