// The built program's web server as a browser meets it: the port, the session across a
// restart, the API's gates.

#include <gtest/gtest.h>
#include <poll.h>
#include <signal.h>
#include <sys/socket.h>
#include <unistd.h>

#include <regex>

#include "support/http_test_client.h"
#include "support/program_process.h"
#include "support/temp_folder.h"

namespace zennic {
namespace {

using namespace std::chrono_literals;
using testing::HttpReply;
using testing::HttpTestClient;
using testing::ProgramProcess;

class WebServer : public ::testing::Test {
 protected:
  WebServer() : options_(testing::IsolatedProgramOptions(folder_.path())) {}

  void ConfigurePort(uint16_t port) {
    testing::WriteFile(folder_ / "data/Ruzerad/settings.json",
                       "{\"version\": 3, \"server_port\": " + std::to_string(port) + "}");
  }

  std::unique_ptr<ProgramProcess> Start(const std::string& name) {
    std::filesystem::create_directories(folder_ / name);
    auto program = std::make_unique<ProgramProcess>(options_, folder_ / name);
    EXPECT_TRUE(program->Start());
    EXPECT_TRUE(program->WaitForStderr("Ruzerad started", 10s)) << program->Stderr();
    return program;
  }

  static uint16_t ListeningPort(const ProgramProcess& program) {
    std::smatch match;
    std::string log = program.Stderr();
    if (!std::regex_search(log, match, std::regex(R"(Web client listening at http://127\.0\.0\.1:(\d+))"))) {
      return 0;
    }
    return static_cast<uint16_t>(std::stoi(match[1]));
  }

  static void Stop(ProgramProcess& program) {
    program.Signal(SIGTERM);
    EXPECT_EQ(program.WaitForExit(10s), 0) << program.Stderr();
  }

  testing::TempFolder folder_;
  ProgramProcess::Options options_;
};

TEST_F(WebServer, ATakenPortMovesTheServerAndTheProgramSaysWhere) {
  testing::OccupiedLoopbackPort occupied;
  uint16_t taken = occupied.port();
  ConfigurePort(taken);

  auto program = Start("run");
  uint16_t port = ListeningPort(*program);
  ASSERT_NE(port, 0) << program->Stderr();
  EXPECT_NE(port, taken);
  std::string url = "http://127.0.0.1:" + std::to_string(port);
  std::string warning = "Configured port " + std::to_string(taken) +
                        " was unavailable. Running on 127.0.0.1:" + std::to_string(port) + ".";
  EXPECT_TRUE(program->WaitForStdout(warning, 5s)) << program->Stdout();
  EXPECT_NE(program->Stdout().find(url), std::string::npos);
  EXPECT_NE(testing::ReadFile(folder_ / "data/Ruzerad/logs/app.log").find(warning), std::string::npos);

  HttpTestClient client(port);
  HttpReply page = client.Send("GET", "/");
  ASSERT_EQ(page.status, 200);
  std::string cookie = page.headers["Set-Cookie"].substr(0, page.headers["Set-Cookie"].find(';'));
  auto origin_answer = [&](uint16_t origin_port) {
    return client.Send("POST", "/api/mixer/no-such-route",
                       {{"Origin", "http://127.0.0.1:" + std::to_string(origin_port)}, {"Cookie", cookie}})
        .body;
  };
  EXPECT_NE(origin_answer(taken).find("origin_not_allowed"), std::string::npos);
  EXPECT_NE(origin_answer(port).find("route_not_found"), std::string::npos);
  Stop(*program);
  EXPECT_EQ(program->Stdout().find("tray"), std::string::npos)
      << "without a desktop no notice points at an icon:\n" << program->Stdout();
}

TEST_F(WebServer, TheSessionLastsOneRun) {
  uint16_t port = testing::FindFreeLoopbackPort();
  ConfigurePort(port);
  auto first = Start("first");
  ASSERT_EQ(ListeningPort(*first), port) << first->Stderr();
  EXPECT_EQ(first->Stdout().find("Port Warning"), std::string::npos) << "no warning on the configured port";

  HttpTestClient client(port);
  std::string cookie = client.Send("GET", "/").headers["Set-Cookie"];
  EXPECT_TRUE(std::regex_match(cookie, std::regex("zennic_session=[0-9a-f]{32}; Path=/; HttpOnly; SameSite=Strict")));
  EXPECT_EQ(client.Send("GET", "/guide").headers["Set-Cookie"], cookie);
  std::string pair = cookie.substr(0, cookie.find(';'));
  EXPECT_NE(client.Send("POST", "/api/mixer/no-such-route", {{"Cookie", pair}}).body.find("route_not_found"),
            std::string::npos);
  Stop(*first);

  auto second = Start("second");
  ASSERT_EQ(ListeningPort(*second), port);
  EXPECT_NE(client.Send("POST", "/api/mixer/status", {{"Cookie", pair}}).body.find("session_required"),
            std::string::npos)
      << "a restart invalidates every earlier cookie";
  EXPECT_NE(client.Send("GET", "/").headers["Set-Cookie"], cookie);
  Stop(*second);
}

// Browsers open connections ahead of need and may leave them unused. One closed unanswered
// makes a browser retry on a fresh one; an answer would be taken as the next request's reply.
TEST_F(WebServer, AConnectionThatSendsNothingIsClosedWithoutAnAnswer) {
  auto program = Start("run");
  uint16_t port = ListeningPort(*program);
  ASSERT_NE(port, 0) << program->Stderr();
  int idle = testing::ConnectToLoopback(port);
  pollfd wait{idle, POLLIN, 0};
  // Well past the head's deadline: a connection kept open fails here rather than hangs.
  ASSERT_EQ(::poll(&wait, 1, 20000), 1) << "the server kept a silent connection";
  char received[64];
  EXPECT_EQ(::recv(idle, received, sizeof received, 0), 0) << "closed with no bytes sent";
  ::close(idle);
  Stop(*program);
}

}  // namespace
}  // namespace zennic
