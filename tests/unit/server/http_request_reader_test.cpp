#include "server/http_request_reader.h"

#include <gtest/gtest.h>

namespace zennic {
namespace {

using Stage = HttpRequestReader::Stage;

// Feeds the bytes in pieces of `piece` bytes, as a slow network would deliver them.
HttpRequestReader ReadInPieces(std::string_view bytes, size_t piece) {
  HttpRequestReader reader;
  for (size_t i = 0; i < bytes.size() && reader.stage() != Stage::Failed; i += piece) {
    reader.Add(bytes.substr(i, piece));
  }
  return reader;
}

TEST(HttpRequestReader, ParsesTheSameRequestHoweverTheBytesArrive) {
  std::string bytes =
      "POST /api/mixer/status?x=1&y=2 HTTP/1.1\r\nHost: 127.0.0.1\r\n"
      "Content-Length: 11\r\nX-Blank:   padded value  \r\n\r\n{\"a\": true}";
  for (size_t piece : {1u, 2u, 3u, 4u, 7u, 2048u}) {
    HttpRequestReader reader = ReadInPieces(bytes, piece);
    ASSERT_EQ(reader.stage(), Stage::Complete) << "piece " << piece << ": " << reader.error();
    EXPECT_EQ(reader.request().method, "POST");
    EXPECT_EQ(reader.request().path, "/api/mixer/status");
    EXPECT_EQ(reader.request().body, "{\"a\": true}");
    EXPECT_EQ(reader.request().headers.at("X-Blank"), "padded value");
  }
}

TEST(HttpRequestReader, TargetAndRequestLine) {
  struct Case {
    std::string head;
    std::string path_or_error;
  };
  for (const Case& c : std::vector<Case>{
           {"GET ? HTTP/1.1", "/"},
           {"GET /play?lang=de HTTP/1.1", "/play"},
           {"get   /a%20b\tHTTP/1.0 extra", "/a%20b"},
           {"GET / ", "Invalid HTTP request line"},
           {"\r\nGET / HTTP/1.1", "Invalid HTTP request line"},
           {"", "Missing HTTP request line"},
       }) {
    HttpRequestReader reader;
    reader.Add(c.head + "\r\n\r\n");
    if (reader.stage() == Stage::Complete) {
      EXPECT_EQ(reader.request().path, c.path_or_error) << c.head;
    } else {
      EXPECT_EQ(reader.stage(), Stage::Failed) << c.head;
      EXPECT_EQ(reader.error(), c.path_or_error) << c.head;
    }
  }
}

TEST(HttpRequestReader, HeadersKeepTheirCaseAndTheLastDuplicateWins) {
  HttpRequestReader reader;
  reader.Add(
      "GET / HTTP/1.1\r\nx-tag: b\r\nX-Tag: a\r\nno colon here\r\nX: first\r\nX: second\r\n"
      "Empty:\r\n\r\n");
  ASSERT_EQ(reader.stage(), Stage::Complete);
  const auto& headers = reader.request().headers;
  EXPECT_EQ(headers.size(), 4u);
  EXPECT_EQ(headers.at("X"), "second");
  EXPECT_EQ(headers.at("Empty"), "");
  EXPECT_EQ(FindHeader(reader.request(), "X-TAG"), "a") << "upper case sorts first";
  EXPECT_EQ(FindHeader(reader.request(), "absent"), "");
}

TEST(HttpRequestReader, ContentLengthIsDigitsOnlyAndWithinTheRequestLimit) {
  for (std::string value : {"+5", "-1", "5 5", "12abc", "abc", "0x10", "", "99999999999999999999999"}) {
    HttpRequestReader reader;
    reader.Add("POST /api/mixer/x HTTP/1.1\r\nContent-Length: " + value + "\r\n\r\n");
    EXPECT_EQ(reader.stage(), Stage::Failed) << value;
  }
  HttpRequestReader huge;
  huge.Add("POST /x HTTP/1.1\r\ncontent-length: 268435456\r\n\r\n");
  EXPECT_EQ(huge.stage(), Stage::Failed) << "head and body together exceed the limit";
  EXPECT_EQ(huge.error(), "HTTP request exceeds maximum supported size");

  std::string head = "POST /x HTTP/1.1\r\nContent-Length: ";
  size_t largest = kMaxHttpRequestBytes - (head.size() + 9 + 4);
  HttpRequestReader at_limit;
  at_limit.Add(head + std::to_string(largest) + "\r\n\r\n");
  EXPECT_EQ(at_limit.stage(), Stage::Body) << "exactly the limit is accepted";
  EXPECT_EQ(at_limit.body_length(), largest);

  HttpRequestReader bad;
  bad.Add("POST /x HTTP/1.1\r\nContent-Length: 1x\r\n\r\n");
  EXPECT_EQ(bad.error(), "Invalid Content-Length header");
}

TEST(HttpRequestReader, BytesAfterTheBodyAreIgnoredAndABodyMayArriveLater) {
  HttpRequestReader reader;
  EXPECT_EQ(reader.Add("POST /x HTTP/1.1\r\nContent-Length: 4\r\n\r\nab"), Stage::Body);
  EXPECT_EQ(reader.request().path, "/x") << "the head is usable before the body arrives";
  EXPECT_EQ(reader.Add("cdEXTRA"), Stage::Complete);
  EXPECT_EQ(reader.request().body, "abcd");
  reader.Add("more");
  EXPECT_EQ(reader.request().body, "abcd");
}

TEST(HttpRequestReader, TheHeadIsCapped) {
  std::string filler(kMaxHttpHeadBytes, 'a');
  HttpRequestReader endless;
  EXPECT_EQ(endless.Add("GET / HTTP/1.1\r\nX: " + filler), Stage::Failed);
  EXPECT_EQ(endless.error(), "HTTP request head exceeds maximum supported size");

  // A terminator split across the cap is still found when the head itself fits.
  std::string line = "GET / HTTP/1.1\r\nX: ";
  std::string fits = line + std::string(kMaxHttpHeadBytes - line.size(), 'b');
  HttpRequestReader reader = ReadInPieces(fits + "\r\n\r\n", 1000);
  EXPECT_EQ(reader.stage(), Stage::Complete) << reader.error();
  HttpRequestReader over = ReadInPieces("x" + fits + "\r\n\r\n", 1000);
  EXPECT_EQ(over.stage(), Stage::Failed);
}

}  // namespace
}  // namespace zennic
