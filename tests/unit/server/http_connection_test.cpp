// A connection's deadlines on a real loopback socket, with time passed in by the test.

#include "server/http_connection.h"

#include <gtest/gtest.h>
#include <sys/socket.h>
#include <unistd.h>

#include <thread>

#include "support/http_test_client.h"

namespace zennic {
namespace {

using namespace std::chrono_literals;
using Clock = HttpConnection::Clock;
using Phase = HttpConnection::Phase;

class Loopback {
 public:
  Loopback() {
    listener_ = TcpSocket::OpenStream();
    uint16_t port = 0;
    EXPECT_EQ(listener_.Bind("127.0.0.1", 0), TcpSocket::BindResult::Bound);
    EXPECT_TRUE(listener_.Listen() && listener_.LocalPort(&port));
    client_ = testing::ConnectToLoopback(port);
    for (int tries = 0; tries < 100; ++tries) {
      if (listener_.Accept(&server_) == TcpSocket::AcceptStatus::Accepted) break;
      std::this_thread::sleep_for(10ms);
    }
  }
  ~Loopback() { ::close(client_); }

  TcpSocket TakeServerSide() { return std::move(server_); }
  // Sends `bytes` and lets `connection` take them at `now`.
  void Deliver(HttpConnection& connection, const std::string& bytes, Clock::time_point now) {
    // Loopback bytes are in the peer's queue once send returns.
    ::send(client_, bytes.data(), bytes.size(), MSG_NOSIGNAL);
    char scratch[4096];
    connection.Receive(scratch, sizeof scratch, now);
  }

 private:
  TcpSocket listener_;
  TcpSocket server_;
  int client_ = -1;
};

// A client that keeps sending a byte a second, well inside the idle time-out, still meets the
// deadline of the phase as a whole: it cannot hold its connection forever.
TEST(HttpConnection, TricklingNeverMovesAPhasePastItsWholeDeadline) {
  struct Case {
    const char* phase;
    std::string opening;
    std::chrono::milliseconds limit;
  };
  for (const Case& c : std::vector<Case>{
           {"head", "GET / HTTP/1.1\r\nX-Slow: ", HttpConnection::kHeadDeadline},
           {"body", "POST /api/x HTTP/1.1\r\nContent-Length: 100000\r\n\r\n{",
            HttpConnection::kBodyDeadline},
       }) {
    Loopback loopback;
    Clock::time_point start = Clock::now();
    HttpConnection connection(loopback.TakeServerSide(), start);
    loopback.Deliver(connection, c.opening, start);
    if (connection.phase() == Phase::Verdict) {
      HttpHeadVerdict verdict;
      verdict.kind = HttpHeadVerdict::Kind::ReadBody;
      verdict.max_body_bytes = 1 << 20;
      connection.ReadBody(std::move(verdict), start);
    }
    Phase reading = std::string(c.phase) == "head" ? Phase::Head : Phase::Body;
    ASSERT_EQ(connection.phase(), reading) << c.phase;

    Clock::time_point now = start;
    // Bounded, so a deadline that trickling keeps moving fails instead of spinning.
    while (now < connection.deadline() && now - start < 2 * c.limit) {
      now += 1s;
      loopback.Deliver(connection, "a", now);
    }
    EXPECT_LE(connection.deadline() - start, c.limit) << c.phase;
    connection.Expire(now);
    EXPECT_EQ(connection.phase(), Phase::Draining) << c.phase << ": answered 400 and closing";
  }
}

}  // namespace
}  // namespace zennic
