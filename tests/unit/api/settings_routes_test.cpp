// The settings routes in the states the built program cannot be brought into here: bound on
// the default port, and a device listing that fails.

#include <gtest/gtest.h>

#include "api/http_api.h"
#include "core/app_paths.h"
#include "engine/mixer_device_info.h"
#include "model/runtime_state.h"
#include "api_answer.h"
#include "support/temp_folder.h"

namespace zennic {
namespace {

class SettingsRoutesTest : public ::testing::Test {
 protected:
  SettingsRoutesTest()
      : state_(SettingsStore(FillAppPaths(folder_.path()), {}, folder_ / "sounds")) {
    state_.SetSessionToken(testing::kSessionToken);
    config_.runtime_state = &state_;
    config_.session_cookie_name = "zennic_session";
    config_.server_port = [] { return uint16_t{5000}; };
  }

  testing::ApiAnswer Post(const std::string& path) {
    HttpApi api(config_);
    return testing::PostWithSession(api, path);
  }

  testing::TempFolder folder_;
  RuntimeState state_;
  HttpApiConfig config_;
};

TEST_F(SettingsRoutesTest, ResetOnTheDefaultPortNeedsNoRestartAndClearsTheMixerFlags) {
  ASSERT_TRUE(state_.MutateSettings([](MixerSettings& s) { s.mic_name = "Mic"; }, true, nullptr));
  state_.SetMixerRunning(true);
  state_.SetVoiceKeyActive(true);

  auto [status, body] = Post("/api/mixer/settings/reset");
  ASSERT_EQ(status, 200) << body.Serialize(0);
  EXPECT_EQ(body.GetString("message", ""), "Defaults restored.");
  EXPECT_FALSE(body.GetBool("restart_required", true));
  EXPECT_EQ(body.GetNumber("effective_server_port", 0), 5000);
  EXPECT_FALSE(std::filesystem::exists(folder_ / "settings.json"));
  RuntimeSnapshot snapshot = state_.GetSnapshot();
  EXPECT_FALSE(snapshot.mixer_running);
  EXPECT_FALSE(snapshot.ptt_active);
  EXPECT_EQ(snapshot.settings.mic_name, "");
}

TEST_F(SettingsRoutesTest, AFailedDeviceListingLeavesTheStoredIndices) {
  state_.SetDeviceIndices(3, std::nullopt, 7);
  config_.device_enumeration = [](MixerDeviceList*, std::string* error) {
    *error = "no audio server";
    return false;
  };
  auto [status, body] = Post("/api/mixer/settings/load");
  ASSERT_EQ(status, 200) << body.Serialize(0);
  EXPECT_EQ(body.GetNumber("mic_index", -1), 3);
  EXPECT_EQ(body.Find("out_index")->type, JsonValue::Type::Null);
  EXPECT_EQ(body.GetNumber("monitor_index", -1), 7);
}

}  // namespace
}  // namespace zennic
