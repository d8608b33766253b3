// One connection over real loopback sockets: the time-outs, the two-step reading and the
// close that keeps a reply alive when the client is still sending.

#include "server/http_connection.h"

#include <gtest/gtest.h>

#include <future>

#include "support/http_test_client.h"

namespace zennic {
namespace {

using namespace std::chrono_literals;
using testing::HttpReply;
using testing::HttpTestClient;

class HttpConnectionTest : public ::testing::Test {
 protected:
  void SetUp() override {
    listener_ = TcpSocket::OpenStream();
    ASSERT_EQ(listener_.Bind("127.0.0.1", 0), TcpSocket::BindResult::Bound);
    ASSERT_TRUE(listener_.Listen());
    ASSERT_TRUE(listener_.LocalPort(&port_));
  }

  // The client runs on its own thread, as a browser would.
  std::future<HttpReply> Client(std::string bytes) {
    return std::async(std::launch::async, [port = port_, bytes = std::move(bytes)] {
      return HttpTestClient(port).Exchange(bytes);
    });
  }

  TcpSocket AcceptOne() {
    TcpSocket socket;
    EXPECT_EQ(listener_.Accept(5000, &socket), TcpSocket::AcceptStatus::Accepted);
    socket.SetTimeouts(HttpConnection::kIoTimeoutMs);
    return socket;
  }

  static HttpResponse Reply(int status, std::string body) {
    HttpResponse response;
    response.status = status;
    response.body = std::move(body);
    return response;
  }

  TcpSocket listener_;
  uint16_t port_ = 0;
};

TEST_F(HttpConnectionTest, AHeadThatNeverEndsIsGivenUpAfterTheTimeOut) {
  auto client = Client("GET / HTTP/1.1\r\nHost: x\r\n");
  TcpSocket socket = AcceptOne();
  HttpConnection connection(socket);
  auto started = std::chrono::steady_clock::now();
  std::string error;
  EXPECT_FALSE(connection.ReadHead(&error));
  EXPECT_EQ(error, "Client disconnected before sending complete headers");
  EXPECT_GE(std::chrono::steady_clock::now() - started, 1900ms);
  connection.Send(Reply(400, "bad"));
  connection.End();
  socket.Close();
  EXPECT_EQ(client.get().status, 400);
}

TEST_F(HttpConnectionTest, AShortBodyIsGivenUpAfterTheTimeOut) {
  auto client = Client("POST /api/mixer/x HTTP/1.1\r\nContent-Length: 10\r\n\r\nabc");
  TcpSocket socket = AcceptOne();
  HttpConnection connection(socket);
  std::string error;
  ASSERT_TRUE(connection.ReadHead(&error)) << error;
  EXPECT_EQ(connection.request().path, "/api/mixer/x");
  EXPECT_FALSE(connection.ReadBody(&error));
  EXPECT_EQ(error, "Client disconnected before sending complete body");
  connection.End();
  socket.Close();
  client.get();
}

TEST_F(HttpConnectionTest, AWholeRequestAndALargeReplyTravelIntact) {
  std::string body(100000, 'b');
  auto client = Client("POST /x?q HTTP/1.1\r\nContent-Length: 100000\r\n\r\n" + body);
  TcpSocket socket = AcceptOne();
  HttpConnection connection(socket);
  std::string error;
  ASSERT_TRUE(connection.ReadHead(&error) && connection.ReadBody(&error)) << error;
  EXPECT_EQ(connection.request().body, body);

  std::string reply_body(3'000'000, 'r');
  connection.Send(Reply(200, reply_body));
  connection.End();
  socket.Close();
  HttpReply reply = client.get();
  EXPECT_EQ(reply.status, 200);
  EXPECT_EQ(reply.headers["Content-Length"], "3000000");
  EXPECT_EQ(reply.body, reply_body);
}

TEST_F(HttpConnectionTest, AReplyToAnUnreadBodyStillReachesTheClientWhole) {
  // Closing with unread input would reset the connection and drop the reply's unsent rest.
  std::string body(100000, 'u');
  auto client = Client("POST /api/mixer/x HTTP/1.1\r\nContent-Length: 100000\r\n\r\n" + body);
  TcpSocket socket = AcceptOne();
  HttpConnection connection(socket);
  std::string error;
  ASSERT_TRUE(connection.ReadHead(&error)) << error;
  std::string reply_body(3'000'000, 'r');
  connection.Send(Reply(403, reply_body));
  connection.End();
  socket.Close();
  HttpReply reply = client.get();
  EXPECT_EQ(reply.status, 403);
  EXPECT_EQ(reply.body.size(), reply_body.size());
}

}  // namespace
}  // namespace zennic
