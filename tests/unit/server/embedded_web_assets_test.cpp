#include "server/embedded_web_assets.h"

#include <gtest/gtest.h>

#include "core/app_paths.h"
#include "model/runtime_state.h"
#include "server/embedded_asset_table.h"
#include "server/help_module.h"
#include "support/temp_folder.h"

namespace zennic {
namespace {

HttpRequest Get(const std::string& path) {
  HttpRequest request;
  request.method = "GET";
  request.path = path;
  return request;
}

TEST(ContentTypeForPath, ByExtensionIgnoringCase) {
  EXPECT_EQ(ContentTypeForPath("/assets/guide/steam/A.PNG"), "image/png");
  EXPECT_EQ(ContentTypeForPath("/assets/i18n/de.json"), "application/json; charset=utf-8");
  EXPECT_EQ(ContentTypeForPath("/assets/guide/images/x.svg"), "image/svg+xml");
  EXPECT_EQ(ContentTypeForPath("/favicon.ico"), "image/x-icon");
  EXPECT_EQ(ContentTypeForPath("/notes.txt"), "text/plain; charset=utf-8");
  EXPECT_EQ(ContentTypeForPath("/page.htm"), "application/octet-stream");
  EXPECT_EQ(ContentTypeForPath("/js"), "application/octet-stream");
}

TEST(EmbeddedWebAssets, EveryEmbeddedFileIsServedWithItsTypeAndTheCookie) {
  testing::TempFolder folder;
  RuntimeState state(SettingsStore(FillAppPaths(folder.path()), {}, folder / "sounds"));
  EmbeddedWebAssets assets("zennic_session", &state);
  ASSERT_TRUE(assets.Load(nullptr));
  for (const EmbeddedAsset& row : GetEmbeddedAssets()) {
    HttpResponse response;
    ASSERT_TRUE(assets.Serve(Get(row.path), &response)) << row.path;
    EXPECT_EQ(response.status, 200);
    EXPECT_EQ(response.body, std::string(reinterpret_cast<const char*>(row.data), row.length));
    std::string expected_type = std::string(row.path) == "/" || std::string(row.path) == "/play" ||
                                        std::string(row.path) == "/guide"
                                    ? "text/html; charset=utf-8"
                                    : ContentTypeForPath(row.path);
    EXPECT_EQ(response.headers["Content-Type"], expected_type) << row.path;
    EXPECT_EQ(response.headers["Cache-Control"], "no-store");
    EXPECT_EQ(response.headers["Set-Cookie"],
              "zennic_session=" + state.GetSessionToken() + "; Path=/; HttpOnly; SameSite=Strict");
  }
  EXPECT_EQ(state.GetSessionToken().size(), 32u);
}

TEST(EmbeddedWebAssets, WithoutARuntimeStateNoCookieIsIssued) {
  EmbeddedWebAssets assets("zennic_session", nullptr);
  ASSERT_TRUE(assets.Load(nullptr));
  HttpResponse help;
  ASSERT_TRUE(assets.Serve(Get("/help"), &help));
  EXPECT_EQ(help.status, 302);
  EXPECT_EQ(help.headers.count("Set-Cookie"), 0u);
  HttpRequest lower = Get("/");
  lower.method = "get";
  EXPECT_FALSE(assets.Serve(lower, &help)) << "the method is compared exactly";
}

TEST(HelpModule, TheGuideIsBuiltIn) {
  std::string error;
  EXPECT_TRUE(HelpModule().Initialize(&error)) << error;
}

}  // namespace
}  // namespace zennic
