#include "server/embedded_asset_table.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <map>
#include <set>

#include "support/temp_folder.h"

namespace zennic {
namespace {

namespace fs = std::filesystem;

const EmbeddedAsset* Row(const std::string& url) {
  for (const EmbeddedAsset& asset : GetEmbeddedAssets()) {
    if (url == asset.path) return &asset;
  }
  return nullptr;
}

std::string Bytes(const EmbeddedAsset& row) {
  return std::string(reinterpret_cast<const char*>(row.data), row.length);
}

size_t Position(const std::string& url) {
  const auto& rows = GetEmbeddedAssets();
  for (size_t i = 0; i < rows.size(); ++i) {
    if (url == rows[i].path) return i;
  }
  return rows.size();
}

TEST(EmbeddedAssets, EveryWebFileIsServedOnceByteForByteOrAsAPieceOfItsPageScript) {
  fs::path web = fs::path(ZENNIC_SOURCE_DIR) / "web";
  const std::map<std::string, std::string> pages = {
      {"index.html", "/"}, {"play.html", "/play"}, {"guide.html", "/guide"}};
  for (const auto& entry : fs::recursive_directory_iterator(web)) {
    if (!entry.is_regular_file()) continue;
    std::string relative = entry.path().lexically_relative(web).generic_string();
    if (relative.starts_with("i18n/glossary/")) continue;  // the translators' notes, never served
    std::string bytes = testing::ReadFile(entry.path());
    bool app_piece = relative.starts_with("js/app/") || relative.starts_with("shared/");
    bool play_piece = relative.starts_with("play/play/") || relative.starts_with("shared/");
    if (app_piece || play_piece) {
      for (const char* script : {"/assets/js/app.js", "/assets/play/play.js"}) {
        if (std::string(script) == "/assets/js/app.js" ? !app_piece : !play_piece) continue;
        const EmbeddedAsset* row = Row(script);
        ASSERT_NE(row, nullptr) << script;
        EXPECT_NE(Bytes(*row).find(bytes), std::string::npos) << relative << " is joined into " << script;
      }
      continue;
    }
    if (relative == "icon.svg") {
      // Browsers ask for it at /favicon.ico: an icon file whose one image is the rendered PNG.
      const EmbeddedAsset* row = Row("/favicon.ico");
      ASSERT_NE(row, nullptr) << "the icon is served at /favicon.ico";
      std::string icon = Bytes(*row);
      ASSERT_GT(icon.size(), 22u);
      EXPECT_EQ(icon.substr(0, 6), std::string("\0\0\1\0\1\0", 6)) << "one icon image";
      EXPECT_EQ(icon.substr(6, 2), std::string("\x40\x40", 2)) << "64 by 64, as drawn";
      uint32_t length = 0;
      for (int i = 3; i >= 0; --i) length = (length << 8) | static_cast<unsigned char>(icon[14 + i]);
      EXPECT_EQ(length, icon.size() - 22) << "the entry's length is the image's";
      EXPECT_TRUE(icon.substr(22).starts_with("\x89PNG\r\n\x1a\n"));
      continue;
    }
    if (relative.starts_with("guide/steam/") && relative.ends_with(".svg")) {
      std::string url = "/assets/" + relative.substr(0, relative.size() - 4) + ".png";
      const EmbeddedAsset* row = Row(url);
      ASSERT_NE(row, nullptr) << url << " is rendered from " << relative;
      EXPECT_TRUE(Bytes(*row).starts_with("\x89PNG\r\n\x1a\n")) << url;
      continue;
    }
    std::string url = pages.contains(relative) ? pages.at(relative) : "/assets/" + relative;
    const EmbeddedAsset* row = Row(url);
    ASSERT_NE(row, nullptr) << url;
    EXPECT_EQ(Bytes(*row), bytes) << url;
    EXPECT_EQ(row->data[row->length], 0) << "data is NUL-terminated: " << url;
    EXPECT_TRUE(HasEmbeddedAsset(url));
  }
  EXPECT_EQ(GetEmbeddedAssets().size(), 51u);
  std::set<std::string> paths;
  for (const EmbeddedAsset& asset : GetEmbeddedAssets()) {
    EXPECT_TRUE(paths.insert(asset.path).second) << "served twice: " << asset.path;
    EXPECT_TRUE(asset.no_store) << asset.path;
  }
  EXPECT_FALSE(HasEmbeddedAsset("/assets/missing.js"));
  EXPECT_FALSE(HasEmbeddedAsset(""));
}

TEST(EmbeddedAssets, PagesComeFirstAndTheCataloguesSitBetweenTheMainScriptAndQuickPlay) {
  EXPECT_EQ(Position("/"), 0u);
  EXPECT_EQ(Position("/play"), 1u);
  EXPECT_EQ(Position("/guide"), 2u);
  EXPECT_EQ(Position("/assets/i18n/en.json"), Position("/assets/js/app.js") + 1);
  EXPECT_EQ(Position("/assets/play/play.css"), Position("/assets/i18n/el.json") + 1);
  EXPECT_EQ(Position("/assets/i18n/el.json") - Position("/assets/i18n/en.json"), 25u);
}

TEST(EmbeddedAssets, APageScriptRunsInOneFunctionScopeWithItsPiecesInNameOrder) {
  std::string app = Bytes(*Row("/assets/js/app.js"));
  EXPECT_TRUE(app.find("(function () {") < app.find("// ---- js/app/10_transport.js"));
  EXPECT_LT(app.find("// ---- shared/10_request_retry.js"), app.find("// ---- js/app/20_boot.js"));
  EXPECT_TRUE(app.ends_with("})();\n"));
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
