#include "server/session_cookie.h"

#include <gtest/gtest.h>

#include <set>

namespace zennic {
namespace {

HttpRequest WithCookieHeader(const std::string& name, const std::string& value) {
  HttpRequest request;
  request.headers[name] = value;
  return request;
}

TEST(SessionCookie, TokensAreFreshLowerCaseHex) {
  std::set<std::string> seen;
  for (int i = 0; i < 100; ++i) {
    std::string token = GenerateSessionToken();
    ASSERT_EQ(token.size(), 32u);
    EXPECT_EQ(token.find_first_not_of("0123456789abcdef"), std::string::npos) << token;
    seen.insert(token);
  }
  EXPECT_EQ(seen.size(), 100u);
}

TEST(SessionCookie, SetCookieIsAStrictHttpOnlySessionCookie) {
  HttpResponse response;
  response.headers["Set-Cookie"] = "old=1";
  BuildSessionSetCookie("zennic_session", "00ff", &response);
  EXPECT_EQ(response.headers.at("Set-Cookie"),
            "zennic_session=00ff; Path=/; HttpOnly; SameSite=Strict");
  BuildSessionSetCookie("zennic_session", "00ff", nullptr);
}

TEST(SessionCookie, ReadingPicksTheFirstPieceWithTheExactName) {
  EXPECT_EQ(ReadRequestCookie(WithCookieHeader("Cookie", "a=1; zennic_session = tok ; b=2"),
                              "zennic_session"),
            "tok");
  EXPECT_EQ(ReadRequestCookie(WithCookieHeader("cookie", "zennic_session=x"), "zennic_session"),
            "x")
      << "the header name is case-insensitive";
  EXPECT_EQ(ReadRequestCookie(WithCookieHeader("Cookie", "ZENNIC_SESSION=x"), "zennic_session"),
            std::nullopt)
      << "cookie names are not";
  EXPECT_EQ(ReadRequestCookie(WithCookieHeader("Cookie", "zennic_session; zennic_session=late"),
                              "zennic_session"),
            "late");
  EXPECT_EQ(ReadRequestCookie(WithCookieHeader("Cookie", "zennic_session=1;zennic_session=2"),
                              "zennic_session"),
            "1");
  EXPECT_EQ(ReadRequestCookie(HttpRequest(), "zennic_session"), std::nullopt);
}

TEST(SessionCookie, ValidOnlyForTheExactNonEmptyToken) {
  HttpRequest request = WithCookieHeader("Cookie", "zennic_session=abc");
  EXPECT_TRUE(HasValidSessionCookie(request, "zennic_session", "abc"));
  EXPECT_FALSE(HasValidSessionCookie(request, "zennic_session", "abcd"));
  EXPECT_FALSE(HasValidSessionCookie(request, "zennic_session", "abC"));
  EXPECT_FALSE(HasValidSessionCookie(WithCookieHeader("Cookie", "zennic_session="),
                                     "zennic_session", ""))
      << "no token yet: nothing is valid, not even an empty cookie";
}

}  // namespace
}  // namespace zennic
