// Which addresses the manifest may send a download to.

#include <gtest/gtest.h>

#include <vector>

#include "update/parsed_url.h"
#include "update/update_service.h"

namespace zennic {
namespace {

TEST(UpdateDownloadUrl, OnlyZipFilesUnderDownloadsOnTheMakersHostOverHttps) {
  const std::string host = kUpdateDownloadHost;
  struct Case {
    std::string url;
    bool allowed;
  };
  for (const Case& c : std::vector<Case>{
           {"https://" + host + "/downloads/ruzerad/Ruzerad-1.0.5.ZIP", true},
           {"HTTPS://" + host + ":443/downloads/x.zip?sig=1#top", true},
           {"https://" + host + ":8443/downloads/x.zip", false},
           {"https://" + host + ":0443/downloads/x.zip", true},
           {"http://" + host + "/downloads/x.zip", false},
           {"https://evil.example/downloads/x.zip", false},
           {"https://" + host + ".evil.example/downloads/x.zip", false},
           {"https://evil.example@" + host + "/downloads/x.zip", false},
           {"https://" + host + "@evil.example/downloads/x.zip", false},
           {"https://" + host + "/Downloads/x.zip", false},
           {"https://" + host + "/mirror/downloads/x.zip", false},
           {"https://" + host + "/downloads/x.exe", false},
           {"https://" + host + "/downloads/x.zip.exe", false},
           {"https://" + host + "/downloads/x.exe?name=.zip", false},
           {"https://" + host, false},
           {"", false},
       }) {
    EXPECT_EQ(IsAllowedDownloadUrl(c.url), c.allowed) << c.url;
  }
}

TEST(UpdateDownloadUrl, PartsOfAnAddress) {
  ParsedUrl parsed;
  ASSERT_TRUE(ParseUrl(" https://Example.COM:00000443?q=1#f ", &parsed, nullptr));
  EXPECT_EQ(parsed.scheme, "https");
  EXPECT_EQ(parsed.host, "example.com");
  EXPECT_EQ(parsed.port, 443);
  EXPECT_EQ(parsed.path_and_query, "/?q=1#f");
  EXPECT_EQ(parsed.path, "/");
  ASSERT_TRUE(ParseUrl("http://h", &parsed, nullptr));
  EXPECT_EQ(parsed.port, 80);
  EXPECT_EQ(parsed.path_and_query, "/");
  std::string error;
  EXPECT_FALSE(ParseUrl("https://h:99999999999999999999/x", &parsed, &error));
  EXPECT_EQ(error, "URL port is out of range");
}

}  // namespace
}  // namespace zennic
