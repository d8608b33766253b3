#include "server/embedded_asset_table.h"

#include <gtest/gtest.h>

#include <set>

#include "support/temp_folder.h"

namespace zennic {
namespace {

std::string UrlPathFor(const std::string& relative) {
  if (relative == "index.html") return "/";
  if (relative == "play.html") return "/play";
  if (relative == "guide.html") return "/guide";
  return "/assets/" + relative;
}

TEST(EmbeddedAssets, EveryWebFileIsEmbeddedByteForByte) {
  std::filesystem::path web = std::filesystem::path(ZENNIC_SOURCE_DIR) / "web";
  std::set<std::string> expected;
  for (const auto& entry : std::filesystem::recursive_directory_iterator(web)) {
    if (!entry.is_regular_file()) continue;
    std::string relative = entry.path().lexically_relative(web).generic_string();
    std::string url = UrlPathFor(relative);
    expected.insert(url);
    const EmbeddedAsset* row = nullptr;
    for (const EmbeddedAsset& asset : GetEmbeddedAssets()) {
      if (url == asset.path) row = &asset;
    }
    ASSERT_NE(row, nullptr) << url;
    std::string bytes = testing::ReadFile(entry.path());
    ASSERT_EQ(row->length, bytes.size()) << url;
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(row->data), row->length), bytes) << url;
    EXPECT_EQ(row->data[row->length], 0) << "data is NUL-terminated: " << url;
    EXPECT_TRUE(row->no_store);
    EXPECT_TRUE(HasEmbeddedAsset(url));
  }
  EXPECT_EQ(GetEmbeddedAssets().size(), expected.size());
  EXPECT_FALSE(HasEmbeddedAsset("/assets/missing.js"));
  EXPECT_FALSE(HasEmbeddedAsset(""));
}

TEST(EmbeddedAssets, StoredTypesNameTheServedKindsAndLeaveTheRestToTheExtension) {
  for (const EmbeddedAsset& asset : GetEmbeddedAssets()) {
    std::string path = asset.path;
    std::string type = asset.content_type;
    if (path == "/" || path == "/play" || path == "/guide") {
      EXPECT_EQ(type, "text/html; charset=utf-8");
    } else if (path.ends_with(".json") || path.ends_with(".svg")) {
      EXPECT_EQ(type, "application/octet-stream") << path;
    } else if (path.ends_with(".js")) {
      EXPECT_EQ(type, "application/javascript; charset=utf-8") << path;
    }
  }
}

}  // namespace
}  // namespace zennic
