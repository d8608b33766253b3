// The upload form of the trim editor's WAV.

#include "api/base64_decode.h"

#include <gtest/gtest.h>

namespace zennic {
namespace {

TEST(Base64Decode, AcceptsTheStandardFormOnly) {
  for (const auto& [text, expected] : std::vector<std::pair<std::string, std::string>>{
           {"", ""},
           {"TWFu", "Man"},
           {"TWE=", "Ma"},
           {"TQ==", "M"},
           {"TQ==TWFu", "MMan"},
           {"TW\r\nFu\t IA==", "Man "},
           {"+/+/", "\xfb\xff\xbf"},
       }) {
    std::string bytes = "stale";
    EXPECT_TRUE(Base64Decode(text, &bytes)) << text;
    EXPECT_EQ(bytes, expected) << text;
  }
  for (const char* bad : {"TWF", "TWFuT", "-_-_", "TW=u", "=QQQ", "T===", "TWFu!"}) {
    std::string bytes;
    EXPECT_FALSE(Base64Decode(bad, &bytes)) << bad;
  }
}

}  // namespace
}  // namespace zennic
