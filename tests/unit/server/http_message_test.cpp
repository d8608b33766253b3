#include "server/http_message.h"

#include <gtest/gtest.h>

#include <string>
#include <utility>

namespace zennic {
namespace {

TEST(HttpMessage, APlainReplyGetsTheDefaultHeaders) {
  HttpResponse response;
  response.status = 404;
  response.body = "Not found";
  EXPECT_EQ(SerializeResponseHead(response),
            "HTTP/1.1 404 Not Found\r\nContent-Type: text/plain; charset=utf-8\r\n"
            "Content-Length: 9\r\nConnection: close\r\n\r\n");
}

TEST(HttpMessage, HandlerHeadersReplaceTheDefaultsWhateverTheirCase) {
  HttpResponse redirect;
  redirect.status = 302;
  redirect.headers["Location"] = "/guide";
  redirect.headers["content-type"] = "text/html";
  EXPECT_EQ(SerializeResponseHead(redirect),
            "HTTP/1.1 302 Found\r\nLocation: /guide\r\ncontent-type: text/html\r\n"
            "Content-Length: 0\r\nConnection: close\r\n\r\n");
}

TEST(HttpMessage, EveryRefusalCarriesAPhraseOfItsOwnAndNeverOK) {
  const std::pair<int, std::string> cases[] = {
      {413, "HTTP/1.1 413 Content Too Large\r\n"},
      {421, "HTTP/1.1 421 Misdirected Request\r\n"},
      {418, "HTTP/1.1 418 \r\n"},
  };
  for (const auto& [status, line] : cases) {
    HttpResponse response;
    response.status = status;
    EXPECT_TRUE(SerializeResponseHead(response).starts_with(line)) << status;
  }
}

}  // namespace
}  // namespace zennic
