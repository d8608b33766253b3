// "/api/mixer/update/check": every outcome of the check is an answer; only a missing service or
// a failing one is a server error.

#include <gtest/gtest.h>

#include <stdexcept>

#include "api/http_api.h"
#include "core/app_paths.h"
#include "model/runtime_state.h"
#include "api_answer.h"
#include "support/temp_folder.h"
#include "update/update_service.h"

namespace zennic {
namespace {

class UpdateCheckRouteTest : public ::testing::Test {
 protected:
  UpdateCheckRouteTest() : state_(SettingsStore(FillAppPaths(folder_.path()), {}, {})) {
    state_.SetSessionToken(testing::kSessionToken);
  }

  // The route's status and body with `service` configured (null: none).
  testing::ApiAnswer Check(UpdateService* service) {
    HttpApiConfig config;
    config.runtime_state = &state_;
    config.session_cookie_name = "zennic_session";
    config.update_service = service;
    HttpApi api(std::move(config));
    return testing::PostWithSession(api, "/api/mixer/update/check", R"({"force": true})");
  }

  testing::TempFolder folder_;
  RuntimeState state_;
};

TEST_F(UpdateCheckRouteTest, EveryCheckStatusIsAnsweredWith200) {
  std::string manifest = R"({"schema_version": 1, "app": "Ruzerad", "download_url": "https://)" +
                         std::string(kUpdateDownloadHost) + R"(/downloads/r.zip", )";
  struct Case {
    bool fetched;
    std::string body;
    std::string status;
  };
  for (const Case& c : std::vector<Case>{
           {false, "", "unavailable"},
           {true, "[]", "invalid_manifest"},
           {true, manifest + R"("latest_version": "1.0.4"})", "up_to_date"},
           {true, manifest + R"("latest_version": "1.0.5"})", "update_available"},
           {true, manifest + R"("latest_version": "1.0.5", "min_supported_version": "1.0.5"})",
            "update_required"},
       }) {
    UpdateService service({"1.0.4", "https://manifest.invalid/latest.json",
                           [&c](const std::string&, std::string* body, std::string*) {
                             *body = c.body;
                             return c.fetched;
                           },
                           {}});
    auto [status, body] = Check(&service);
    EXPECT_EQ(status, 200) << c.status;
    EXPECT_TRUE(body.GetBool("ok", false)) << c.status;
    EXPECT_EQ(body.GetString("check_status", ""), c.status);
    EXPECT_EQ(body.GetString("current_version", ""), "1.0.4");
  }
}

TEST_F(UpdateCheckRouteTest, AMissingOrThrowingServiceIs500) {
  auto [status, body] = Check(nullptr);
  EXPECT_EQ(status, 500);
  EXPECT_EQ(body.GetString("code", ""), "update_service_unavailable");
  EXPECT_EQ(body.GetString("error", ""), "UpdateService is not configured");

  UpdateService throwing({"1.0.4", "https://manifest.invalid/latest.json",
                          [](const std::string&, std::string*, std::string*) -> bool {
                            throw std::runtime_error("no memory left");
                          },
                          {}});
  testing::ApiAnswer thrown = Check(&throwing);
  EXPECT_EQ(thrown.status, 500);
  EXPECT_EQ(thrown.Code(), "handler_exception");
  EXPECT_EQ(thrown.body.GetString("error", ""), "no memory left");
}

}  // namespace
}  // namespace zennic
