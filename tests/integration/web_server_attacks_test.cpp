// The built program's web server against hostile local clients: any local process can fetch
// the session cookie from "/", so each attack here is one such a process could make.

#include <gtest/gtest.h>
#include <poll.h>
#include <signal.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <future>
#include <regex>
#include <thread>

#include "support/eventually.h"
#include "support/http_test_client.h"
#include "support/program_process.h"
#include "support/temp_folder.h"

namespace zennic {
namespace {

using namespace std::chrono_literals;
using testing::HttpReply;
using testing::HttpTestClient;
using testing::ProgramProcess;

// Sends the whole request on one thread while reading the reply on another, as a client
// that keeps sending after the server has answered.
HttpReply SendWhileReading(uint16_t port, const std::string& request) {
  int handle = testing::ConnectToLoopback(port);
  std::thread sender([&] {
    for (size_t sent = 0; sent < request.size();) {
      ssize_t count = ::send(handle, request.data() + sent, request.size() - sent, MSG_NOSIGNAL);
      if (count <= 0) break;
      sent += static_cast<size_t>(count);
    }
  });
  std::string raw;
  char chunk[65536];
  for (pollfd wait{handle, POLLIN, 0}; ::poll(&wait, 1, 15000) > 0;) {
    ssize_t count = ::recv(handle, chunk, sizeof chunk, 0);
    if (count <= 0) break;
    raw.append(chunk, static_cast<size_t>(count));
  }
  ::shutdown(handle, SHUT_RDWR);
  sender.join();
  ::close(handle);
  return testing::ParseHttpReply(raw);
}

// Connections that send their first bytes and then one byte a second, each on its own socket,
// all driven by one thread.
class TricklingClients {
 public:
  TricklingClients(uint16_t port, const std::string& opening, size_t count) {
    for (size_t i = 0; i < count; ++i) {
      int handle = testing::ConnectToLoopback(port);
      ::send(handle, opening.data(), opening.size(), MSG_NOSIGNAL);
      handles_.push_back(handle);
    }
    driver_ = std::thread([this] {
      while (!stop_) {
        for (int handle : handles_) ::send(handle, "a", 1, MSG_NOSIGNAL | MSG_DONTWAIT);
        for (int i = 0; i < 10 && !stop_; ++i) std::this_thread::sleep_for(100ms);
      }
    });
  }
  ~TricklingClients() {
    stop_ = true;
    driver_.join();
    for (int handle : handles_) ::close(handle);
  }

  // How many of them the server has answered or closed.
  size_t Ended() const {
    size_t ended = 0;
    for (int handle : handles_) {
      pollfd wait{handle, POLLIN, 0};
      ended += ::poll(&wait, 1, 0) > 0;
    }
    return ended;
  }

 private:
  std::vector<int> handles_;
  std::atomic<bool> stop_{false};
  std::thread driver_;
};

class WebServerAttacks : public ::testing::Test {
 protected:
  void SetUp() override {
    std::filesystem::create_directories(folder_ / "run-output");
    program_ = std::make_unique<ProgramProcess>(testing::IsolatedProgramOptions(folder_.path()),
                                                folder_ / "run-output");
    ASSERT_TRUE(program_->Start());
    ASSERT_TRUE(program_->WaitForStderr("Ruzerad started", 10s)) << program_->Stderr();
    std::smatch match;
    std::string log = program_->Stderr();
    ASSERT_TRUE(std::regex_search(log, match, std::regex(R"(listening at http://127\.0\.0\.1:(\d+))")));
    port_ = static_cast<uint16_t>(std::stoi(match[1]));
    std::string set_cookie = HttpTestClient(port_).Send("GET", "/").headers["Set-Cookie"];
    cookie_ = set_cookie.substr(0, set_cookie.find(';'));
    ASSERT_FALSE(cookie_.empty());
  }

  void TearDown() override {
    program_->Signal(SIGTERM);
    EXPECT_EQ(program_->WaitForExit(10s), 0) << program_->Stderr();
  }

  // A field of the program's /proc status: VmRSS and VmHWM in KiB, Threads.
  long Status(const std::string& field) const {
    std::string status = testing::ReadFile("/proc/" + std::to_string(program_->pid()) + "/status");
    std::smatch match;
    std::regex_search(status, match, std::regex(field + R"(:\s+(\d+))"));
    return std::stol(match[1]);
  }

  // The peak memory from now on, so that each case is measured on its own.
  long ResetPeakMemory() const {
    EXPECT_TRUE(program_->ResetPeakMemory());
    return Status("VmHWM");
  }

  std::string Head(const std::string& path, size_t content_length) const {
    return "POST " + path + " HTTP/1.1\r\nHost: 127.0.0.1:" + std::to_string(port_) +
           "\r\nCookie: " + cookie_ + "\r\nContent-Length: " + std::to_string(content_length) +
           "\r\n\r\n";
  }

  static std::string ZeroArray(size_t bytes) {
    std::string text = "[0";
    while (text.size() + 3 < bytes) text += ",0";
    return text + "]";
  }

  static std::string Code(const HttpReply& reply) {
    std::smatch match;
    return std::regex_search(reply.body, match, std::regex(R"re("code": "([a-z_]+)")re")) ? match[1].str() : "";
  }

  testing::TempFolder folder_;
  std::unique_ptr<ProgramProcess> program_;
  uint16_t port_ = 0;
  std::string cookie_;
};

TEST_F(WebServerAttacks, ALargeArrayBodyCostsNoMemory) {
  // Once parsed, a 20 MB "[0,0,...]" took about 2 GB.
  std::string body = ZeroArray(20'000'000);
  long peak_before = ResetPeakMemory();
  HttpReply refused = SendWhileReading(port_, Head("/api/mixer/status", body.size()) + body);
  EXPECT_EQ(refused.status, 413);
  EXPECT_EQ(Code(refused), "request_too_large");
  EXPECT_LT(Status("VmHWM") - peak_before, 10 * 1024) << "KiB: the body above the route's limit is never read";

  // The trim export takes a body this large, but reads it only to refuse it unparsed.
  peak_before = ResetPeakMemory();
  HttpReply not_an_object = SendWhileReading(port_, Head("/api/mixer/trim/export", body.size()) + body);
  EXPECT_EQ(not_an_object.status, 400);
  EXPECT_EQ(Code(not_an_object), "invalid_json");
  EXPECT_LT(Status("VmHWM") - peak_before, 3 * 20 * 1024) << "KiB: at most the body and its buffer's growth";
}

TEST_F(WebServerAttacks, ABurstOfLargeBodiesGivesItsMemoryBack) {
  std::this_thread::sleep_for(1s);
  long idle = Status("VmRSS");
  // Half of them too dense to parse, half parsed and routed.
  std::string dense = "{\"a\": " + ZeroArray(1'000'000) + "}";
  std::string long_string = "{\"a\": \"" + std::string(1'000'000, 'x') + "\"}";
  std::vector<std::future<HttpReply>> replies;
  for (int i = 0; i < 64; ++i) {
    replies.push_back(std::async(std::launch::async, [&, i] {
      return HttpTestClient(port_).Send("POST", "/api/mixer/no-such-route", {{"Cookie", cookie_}},
                                        i % 2 == 0 ? dense : long_string);
    }));
  }
  for (int i = 0; i < 64; ++i) {
    HttpReply reply = replies[i].get();
    EXPECT_EQ(Code(reply), i % 2 == 0 ? "invalid_json" : "route_not_found") << reply.raw.substr(0, 200);
  }
  EXPECT_TRUE(testing::Eventually([&] { return Status("VmRSS") < idle + 50 * 1024; }, 5s))
      << "RSS " << Status("VmRSS") << " KiB against " << idle << " KiB idle";
}

TEST_F(WebServerAttacks, SlowClientsHoldNeitherThreadsNorOtherClients) {
  long idle_threads = Status("Threads");
  std::string host = "Host: 127.0.0.1:" + std::to_string(port_) + "\r\n";
  TricklingClients heads(port_, "GET / HTTP/1.1\r\n" + host + "X-Slow: ", 300);
  TricklingClients bodies(port_, Head("/api/mixer/status", 100000) + "{\"a\": \"", 130);
  std::this_thread::sleep_for(1500ms);

  for (int round = 0; round < 3; ++round) {
    EXPECT_EQ(HttpTestClient(port_).Send("GET", "/").status, 200);
    EXPECT_EQ(Code(HttpTestClient(port_).Send("POST", "/api/mixer/no-such-route", {{"Cookie", cookie_}})),
              "route_not_found");
  }
  // Answered while every slow client still holds its connection: nobody had to give way.
  EXPECT_EQ(heads.Ended() + bodies.Ended(), 0u);
  EXPECT_LE(Status("Threads"), idle_threads + 8) << "430 open connections hold no threads";
}

TEST_F(WebServerAttacks, OnlyRequestsNamingThisProgramAsTheirHostAreAnswered) {
  std::string port = std::to_string(port_);
  auto get = [&](const std::string& target, const std::string& host_line) {
    return HttpTestClient(port_).Exchange("GET " + target + " HTTP/1.1\r\n" + host_line + "Cookie: " +
                                          cookie_ + "\r\n\r\n");
  };
  for (std::string host : {"127.0.0.1:" + port, "localhost:" + port, "LocalHost:" + port}) {
    HttpReply page = get("/", "Host: " + host + "\r\n");
    EXPECT_EQ(page.status, 200) << host;
    EXPECT_EQ(page.headers.count("Set-Cookie"), 1u) << host;
  }
  // A page of another site whose name now points at 127.0.0.1 names that site.
  for (std::string host : {std::string("evil.example"), "evil.example:" + port, std::string("127.0.0.1"),
                           "127.0.0.1:" + std::to_string(port_ + 1), "[::1]:" + port}) {
    HttpReply page = get("/", "Host: " + host + "\r\n");
    EXPECT_EQ(page.status, 421) << host;
    EXPECT_EQ(page.headers.count("Set-Cookie"), 0u) << host;
    EXPECT_EQ(page.body.find("<html"), std::string::npos) << host;
    HttpReply api = HttpTestClient(port_).Exchange(
        "POST /api/mixer/status HTTP/1.1\r\nHost: " + host + "\r\nCookie: " + cookie_ + "\r\n\r\n");
    EXPECT_EQ(api.status, 421) << host;
    EXPECT_EQ(Code(api), "host_not_allowed") << host;
  }
  EXPECT_EQ(get("/", "").status, 400) << "no Host at all";
}

TEST_F(WebServerAttacks, HeadersThatTwoReadersCouldTakeDifferentlyAreRefusedBeforeAnyRoute) {
  std::string host = "Host: 127.0.0.1:" + std::to_string(port_) + "\r\n";
  std::string cookie = "Cookie: " + cookie_ + "\r\n";
  std::string origin = "http://127.0.0.1:" + std::to_string(port_);
  struct Case {
    std::string headers;
    int status;
  };
  for (const Case& c : std::vector<Case>{
           {host + cookie + "Content-Length: 2\r\ncontent-length: 7\r\n", 400},
           {host + "Host: evil.example\r\n" + cookie + "Content-Length: 2\r\n", 400},
           {host + cookie + "Origin: http://evil.example\r\nOrigin: " + origin + "\r\nContent-Length: 2\r\n", 400},
           {host + cookie + "Referer: " + origin + "/\r\nreferer: http://evil.example/\r\nContent-Length: 2\r\n", 400},
           {host + cookie + "Cookie: zennic_session=0\r\nContent-Length: 2\r\n", 400},
           {host + cookie + "Transfer-Encoding: chunked\r\n", 501},
       }) {
    HttpReply reply = HttpTestClient(port_).Exchange("POST /api/mixer/status HTTP/1.1\r\n" + c.headers +
                                                     "\r\n{}");
    EXPECT_EQ(reply.status, c.status) << c.headers;
    EXPECT_EQ(Code(reply), "invalid_http_request") << c.headers;
  }
}

}  // namespace
}  // namespace zennic
