// The server over real loopback sockets with the real asset store, router and runtime state.

#include "server/local_http_server.h"

#include <gtest/gtest.h>

#include <dirent.h>
#include <poll.h>
#include <unistd.h>

#include <algorithm>
#include <future>
#include <regex>
#include <set>
#include <thread>

#include "api/http_api.h"
#include "core/app_paths.h"
#include "model/runtime_state.h"
#include "server/embedded_web_assets.h"
#include "support/http_test_client.h"
#include "support/temp_folder.h"

namespace zennic {
namespace {

using namespace std::chrono_literals;
using testing::HttpReply;
using testing::HttpTestClient;

// An exited thread that nobody joined keeps its stack mapped: a long-running server would run
// out of mappings.
size_t MappingCount() {
  std::string maps = testing::ReadFile("/proc/self/maps");
  return static_cast<size_t>(std::count(maps.begin(), maps.end(), '\n'));
}

size_t ThreadCount() {
  size_t count = 0;
  DIR* tasks = ::opendir("/proc/self/task");
  while (dirent* entry = ::readdir(tasks)) count += entry->d_name[0] != '.';
  ::closedir(tasks);
  return count;
}

// Polls until `done` holds or five seconds pass.
template <typename Condition>
bool Eventually(Condition done) {
  for (auto deadline = std::chrono::steady_clock::now() + 5s; std::chrono::steady_clock::now() < deadline;) {
    if (done()) return true;
    std::this_thread::sleep_for(20ms);
  }
  return done();
}

class LocalHttpServerTest : public ::testing::Test {
 protected:
  LocalHttpServerTest()
      : state_(SettingsStore(FillAppPaths(folder_.path()), {}, folder_ / "sounds")),
        assets_("zennic_session", &state_),
        api_(Config()) {
    assets_.Load(nullptr);
  }

  HttpApiConfig Config() {
    HttpApiConfig config;
    config.runtime_state = &state_;
    config.session_cookie_name = "zennic_session";
    config.server_port = [this] { return server_ ? server_->effective_port() : uint16_t{0}; };
    return config;
  }

  void StartServer(uint16_t port = 0, std::function<void(const HttpRequest&)> observer = {}) {
    LocalHttpServerOptions options;
    options.bind_address = "127.0.0.1";
    options.port = port;
    options.log_folder = folder_ / "logs";
    options.request_observer = std::move(observer);
    server_ = std::make_unique<LocalHttpServer>(std::move(options), &assets_, &api_);
    std::string error;
    ASSERT_TRUE(server_->Start(&error)) << error;
  }

  HttpTestClient Client() const { return HttpTestClient(server_->effective_port()); }
  std::string Origin() const { return "http://127.0.0.1:" + std::to_string(server_->effective_port()); }

  std::string TokenFromFirstPage() {
    HttpReply page = Client().Send("GET", "/");
    std::smatch match;
    std::regex_search(page.headers["Set-Cookie"], match, std::regex("zennic_session=([0-9a-f]{32})"));
    return match[1];
  }

  static std::string Code(const HttpReply& reply) {
    JsonValue body;
    if (!JsonValue::Parse(reply.body, &body, nullptr)) return "not JSON: " + reply.body;
    EXPECT_EQ(reply.headers.at("Content-Type"), "application/json; charset=utf-8");
    EXPECT_FALSE(body.GetBool("ok", true));
    return body.GetString("code", "");
  }

  testing::TempFolder folder_;
  RuntimeState state_;
  EmbeddedWebAssets assets_;
  HttpApi api_;
  std::unique_ptr<LocalHttpServer> server_;
};

TEST_F(LocalHttpServerTest, PagesCarryTheSessionCookieAndOtherPathsGetTheServers404) {
  StartServer();
  HttpReply page = Client().Send("GET", "/?from=tray");
  EXPECT_EQ(page.status_line, "HTTP/1.1 200 OK");
  EXPECT_EQ(page.headers["Content-Type"], "text/html; charset=utf-8");
  EXPECT_EQ(page.headers["Cache-Control"], "no-store");
  EXPECT_EQ(page.headers["Connection"], "close");
  EXPECT_TRUE(std::regex_match(page.headers["Set-Cookie"],
                               std::regex("zennic_session=[0-9a-f]{32}; Path=/; HttpOnly; SameSite=Strict")))
      << page.headers["Set-Cookie"];
  EXPECT_EQ(Client().Send("GET", "/guide").headers["Set-Cookie"], page.headers["Set-Cookie"]);

  HttpReply help = Client().Send("GET", "/help");
  EXPECT_EQ(help.status, 302);
  EXPECT_EQ(help.headers["Location"], "/guide");
  EXPECT_EQ(help.headers["Content-Length"], "0");
  EXPECT_EQ(help.headers["Set-Cookie"], page.headers["Set-Cookie"]);

  HttpReply missing = Client().Send("GET", "/assets/missing.js");
  EXPECT_EQ(missing.status, 404);
  EXPECT_EQ(missing.body, "Not found");
  EXPECT_EQ(missing.headers.count("Set-Cookie"), 0u);

  for (auto [method, path] : {std::pair{"GET", "/robots.txt"}, {"POST", "/"}, {"GET", "/api/mixe"}}) {
    HttpReply other = Client().Send(method, path);
    EXPECT_EQ(other.status_line, "HTTP/1.1 404 Not Found") << method << " " << path;
    EXPECT_EQ(other.headers["Content-Type"], "text/plain; charset=utf-8");
    EXPECT_EQ(other.body, "Not found");
  }
}

TEST_F(LocalHttpServerTest, TwentyParallelFirstRequestsShareOneToken) {
  StartServer();
  std::vector<std::future<HttpReply>> replies;
  for (int i = 0; i < 20; ++i) {
    replies.push_back(std::async(std::launch::async, [this] { return Client().Send("GET", "/"); }));
  }
  std::set<std::string> cookies;
  for (auto& reply : replies) cookies.insert(reply.get().headers["Set-Cookie"]);
  ASSERT_EQ(cookies.size(), 1u);
  EXPECT_NE(cookies.begin()->find(state_.GetSessionToken()), std::string::npos);
}

TEST_F(LocalHttpServerTest, EveryApiRequestPassesTheGates) {
  StartServer();
  std::string cookie = "zennic_session=" + TokenFromFirstPage();
  HttpTestClient client = Client();
  EXPECT_EQ(client.Send("GET", "/api/mixer/status").status, 405);
  EXPECT_EQ(Code(client.Send("GET", "/api/mixer/status")), "method_not_allowed");
  EXPECT_EQ(Code(client.Send("POST", "/api/mixer/status")), "session_required");
  for (std::string origin : {std::string("http://evil.example"), std::string("null"),
                             "https://127.0.0.1:" + std::to_string(server_->effective_port())}) {
    HttpReply refused = client.Send("POST", "/api/mixer/status", {{"Origin", origin}, {"Cookie", cookie}});
    EXPECT_EQ(refused.status, 403);
    EXPECT_EQ(Code(refused), "origin_not_allowed") << origin;
  }
  HttpReply invalid = client.Send("POST", "/api/mixer/status", {{"Origin", Origin()}, {"Cookie", cookie}}, "[]");
  EXPECT_EQ(invalid.status, 400);
  EXPECT_EQ(Code(invalid), "invalid_json");
  HttpReply unknown = client.Send("POST", "/api/mixer/nothing-here",
                                  {{"Origin", Origin()}, {"Referer", Origin() + "/play"}, {"Cookie", cookie}}, "{}");
  EXPECT_EQ(unknown.status_line, "HTTP/1.1 404 Not Found");
  EXPECT_EQ(Code(unknown), "route_not_found");
}

TEST_F(LocalHttpServerTest, AMalformedOrStalledRequestIsAnswered400AndTheServerGoesOn) {
  StartServer();
  HttpTestClient client = Client();
  std::future<HttpReply> stalled = std::async(std::launch::async, [&] { return client.Exchange("GET / HTTP/1.1\r\nHost: 127.0.0.1\r\n"); });
  for (std::string bad : {"POST /api/mixer/x HTTP/1.1\r\nContent-Length: -1\r\n\r\n",
                          "POST /api/mixer/x HTTP/1.1\r\nContent-Length: 12abc\r\n\r\n",
                          "GET /\r\n\r\n", "\r\n\r\n"}) {
    HttpReply reply = client.Exchange(bad);
    EXPECT_EQ(reply.status, 400) << bad;
    EXPECT_EQ(Code(reply), "invalid_http_request") << bad;
  }
  HttpReply timed_out = stalled.get();
  EXPECT_EQ(timed_out.status, 400);
  EXPECT_NE(timed_out.body.find("Client disconnected before sending complete headers"), std::string::npos);
  EXPECT_EQ(client.Send("GET", "/").status, 200);
}

TEST_F(LocalHttpServerTest, ARefusedRequestIsAnsweredWithoutWaitingForItsBody) {
  StartServer();
  std::string host = "Host: 127.0.0.1:" + std::to_string(server_->effective_port()) + "\r\n";
  // Announces a large body and sends none: reading it would end in a time-out instead.
  HttpReply refused = Client().Exchange(
      "POST /api/mixer/files/merge HTTP/1.1\r\n" + host + "Content-Length: 200000000\r\n\r\n", 1500ms);
  EXPECT_EQ(refused.status, 403);
  EXPECT_EQ(Code(refused), "session_required");
  HttpReply too_large = Client().Exchange(
      "POST /api/mixer/x HTTP/1.1\r\n" + host + "Content-Length: 268435456\r\n\r\n", 1500ms);
  EXPECT_EQ(too_large.status, 400);
  EXPECT_NE(too_large.body.find("HTTP request exceeds maximum supported size"), std::string::npos);

  // Past the gates, a body above the route's limit is refused on its announced length alone;
  // the trim export takes more.
  std::map<std::string, std::string> session = {{"Cookie", "zennic_session=" + TokenFromFirstPage()}};
  HttpReply over = Client().Exchange("POST /api/mixer/status HTTP/1.1\r\n" + host + "Cookie: " +
                                         session["Cookie"] + "\r\nContent-Length: 1048577\r\n\r\n",
                                     1500ms);
  EXPECT_EQ(over.status, 413);
  EXPECT_EQ(Code(over), "request_too_large");
  std::string large_body = "{\"a\": \"" + std::string(1 << 20, 'x') + "\"}";
  EXPECT_NE(Client().Send("POST", "/api/mixer/trim/export", session, large_body).status, 413);

  // A reply to a body left unread still reaches the client whole: closing with unread input
  // would reset the connection under it.
  HttpReply page = Client().Send("GET", "/", {}, std::string(3'000'000, 'u'));
  EXPECT_EQ(page.status, 200);
  EXPECT_EQ(page.body.size(), std::stoul(page.headers["Content-Length"]));
}

TEST_F(LocalHttpServerTest, ABodyThatStopsShortIsGivenUpAfterTheTimeOut) {
  StartServer();
  std::string cookie = "zennic_session=" + TokenFromFirstPage();
  auto started = std::chrono::steady_clock::now();
  HttpReply reply = Client().Exchange("POST /api/mixer/x HTTP/1.1\r\nHost: 127.0.0.1:" +
                                      std::to_string(server_->effective_port()) + "\r\nCookie: " + cookie +
                                      "\r\nContent-Length: 10\r\n\r\nabc");
  EXPECT_GE(std::chrono::steady_clock::now() - started, 1900ms);
  EXPECT_EQ(reply.status, 400);
  EXPECT_NE(reply.body.find("Client disconnected before sending complete body"), std::string::npos);
}

TEST_F(LocalHttpServerTest, ATakenPortFallsBackToAFreeOne) {
  testing::OccupiedLoopbackPort occupied;
  uint16_t taken = occupied.port();

  StartServer(taken);
  EXPECT_NE(server_->effective_port(), taken);
  EXPECT_NE(server_->effective_port(), 0);
  EXPECT_TRUE(server_->used_fallback_port());
  EXPECT_EQ(Client().Send("GET", "/").status, 200);
  uint16_t port = server_->effective_port();
  EXPECT_TRUE(server_->Start(nullptr)) << "a second start is harmless";
  EXPECT_EQ(server_->effective_port(), port);
  server_->Stop();
  server_->Stop();
  EXPECT_EQ(server_->effective_port(), 0);
  EXPECT_FALSE(server_->used_fallback_port());
}

TEST_F(LocalHttpServerTest, StartFailuresSayWhy) {
  LocalHttpServer without_dependencies(LocalHttpServerOptions(), nullptr, &api_);
  std::string error;
  EXPECT_FALSE(without_dependencies.Start(&error));
  EXPECT_EQ(error, "LocalHttpServer dependencies are not configured");

  LocalHttpServerOptions options;
  options.bind_address = "127.0.0.x";
  options.port = 5000;
  LocalHttpServer bad_address(options, &assets_, &api_);
  EXPECT_FALSE(bad_address.Start(&error));
  EXPECT_EQ(error, "Invalid bind address: 127.0.0.x; fallback bind failed: Invalid bind address: 127.0.0.x");
  options.port = 0;
  LocalHttpServer bad_address_any_port(options, &assets_, &api_);
  EXPECT_FALSE(bad_address_any_port.Start(&error));
  EXPECT_EQ(error, "Invalid bind address: 127.0.0.x");
}

TEST_F(LocalHttpServerTest, AFailingHandlerIsAnswered500AndLogged) {
  StartServer(0, [](const HttpRequest& request) {
    if (request.path == "/boom") throw std::runtime_error("observer failed");
  });
  HttpReply reply = Client().Send("GET", "/boom");
  EXPECT_EQ(reply.status_line, "HTTP/1.1 500 Internal Server Error");
  EXPECT_EQ(Code(reply), "internal_server_error");
  server_->Stop();
  EXPECT_NE(testing::ReadFile(folder_ / "logs/app.log")
                .find("[LocalHttpServer] HTTP handler exception: observer failed"),
            std::string::npos);
}

TEST_F(LocalHttpServerTest, FinishedConnectionThreadsAreJoined) {
  size_t threads_before = ThreadCount();
  size_t mappings_before = MappingCount();
  StartServer();
  for (int i = 0; i < 1000; ++i) ASSERT_EQ(Client().Send("GET", "/").status, 200);
  // Unjoined, 1000 stacks would add 2000 mappings; the allocator's arenas add a few hundred.
  EXPECT_TRUE(Eventually([&] { return MappingCount() < mappings_before + 400; }))
      << MappingCount() - mappings_before << " more mappings than before";
  // The last connection's thread may still be closing its socket when its reply arrives.
  EXPECT_TRUE(Eventually([&] { return ThreadCount() == threads_before + 1; }))
      << ThreadCount() - threads_before << " threads left; only the accept thread should be";
}

TEST_F(LocalHttpServerTest, WhenEverySlotIsTakenTheOldestWaitingConnectionMakesRoom) {
  StartServer();
  uint16_t port = server_->effective_port();
  std::vector<int> idle;
  for (size_t i = 0; i < server_->max_connections(); ++i) idle.push_back(testing::ConnectToLoopback(port));
  HttpReply page = Client().Send("GET", "/");
  EXPECT_EQ(page.status, 200) << "a newcomer is served at once";
  pollfd oldest{idle.front(), POLLIN, 0};
  EXPECT_EQ(::poll(&oldest, 1, 1000), 1) << "the oldest idle connection was closed to make room";
  for (int handle : idle) ::close(handle);
}

}  // namespace
}  // namespace zennic
