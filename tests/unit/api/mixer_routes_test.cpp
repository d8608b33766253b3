// The mixer routes without a process: how a partial settings object is applied, and how each
// family answers when its service is missing or its outside helper fails.

#include <gtest/gtest.h>

#include <functional>

#include "api/http_api.h"
#include "core/app_paths.h"
#include "model/key_catalog.h"
#include "model/runtime_state.h"
#include "api_answer.h"
#include "support/temp_folder.h"
#include "windows_audio/windows_audio_manager.h"

namespace zennic {
namespace {

class MixerRoutesTest : public ::testing::Test {
 protected:
  MixerRoutesTest() : state_(SettingsStore(FillAppPaths(folder_.path()), {}, folder_ / "sounds")) {
    state_.SetSessionToken(testing::kSessionToken);
    config_.runtime_state = &state_;
    config_.session_cookie_name = "zennic_session";
  }

  testing::TempFolder folder_;
  RuntimeState state_;
  HttpApiConfig config_;
};

TEST_F(MixerRoutesTest, SetAppliesOnlyWellTypedValidValues) {
  MixerSettings base;
  base.panic_trigger_key = FindKeyCatalogEntry("F8", kKeySourceDefault);
  base.voice_effect_custom_presets = {{"calm", "Calm", {}}};
  base.out_name = "CABLE Input";
  base.verified_game_voice_output_id = "out";
  base.verified_game_voice_output_name = "CABLE Input";
  base.verified_game_voice_input_id = "in";
  base.verified_game_voice_input_name = "CABLE Output";
  using Check = std::function<bool(const MixerSettings&)>;
  const std::pair<std::string, Check> cases[] = {
      {R"({"mic_volume": "0.5"})", [](auto& s) { return s.mic_volume == 1.0; }},
      {R"({"mic_volume": 7})", [](auto& s) { return s.mic_volume == 2.0; }},
      {R"({"panic_trigger_key": {}})", [&](auto& s) { return s.panic_trigger_key == base.panic_trigger_key; }},
      {R"({"panic_trigger_key": null})", [](auto& s) { return !s.panic_trigger_key; }},
      {R"({"hold_k": false})", [](auto& s) { return !s.hold_voice_key; }},
      {R"({"hold_k": false, "hold_voice_key": true})", [](auto& s) { return s.hold_voice_key; }},
      {R"({"hotkey": "F9"})",
       [](auto& s) { return s.ptt_trigger_key.vk == 120 && s.ptt_trigger_key.source == "migrated_legacy"; }},
      {R"({"server_port": 6000.9})", [](auto& s) { return s.server_port == 6000; }},
      {R"({"server_port": 80.9})", [](auto& s) { return s.server_port == 5000; }},
      {R"({"server_port": 1e10})", [](auto& s) { return s.server_port == 5000; }},
      {R"({"server_port": -1e999})", [](auto& s) { return s.server_port == 5000; }},
      {R"({"voice_effect_custom_presets": []})",
       [](auto& s) { return s.voice_effect_custom_presets.empty(); }},
      {R"({"audio_dir": "/elsewhere"})",
       [&](auto& s) { return s.profiles == state_.GetSettings().profiles; }},
      {R"({"out_name": "CABLEinput "})",
       [](auto& s) { return s.verified_game_voice_input_id == "in" && s.out_name == "CABLEinput "; }},
      {R"({"out_name": "Speakers"})",
       [](auto& s) { return s.verified_game_voice_output_id.empty() && s.verified_game_voice_input_name.empty(); }},
  };
  HttpApi api(config_);
  for (const auto& [body, check] : cases) {
    ASSERT_TRUE(state_.ReplaceSettings(base, false, nullptr));
    auto [status, reply] = testing::PostWithSession(api, "/api/mixer/set", body);
    EXPECT_EQ(status, 200) << body;
    EXPECT_TRUE(check(state_.GetSettings())) << body;
  }
  EXPECT_FALSE(std::filesystem::exists(folder_ / "settings.json")) << "set never saves";
}

TEST_F(MixerRoutesTest, EachFamilyNamesItsMissingService) {
  HttpApi api(config_);
  const std::pair<const char*, const char*> cases[] = {
      {"/api/mixer/voice-test/latest", "voice_test_unavailable"},
      {"/api/mixer/keycapture/start", "keybinding_unavailable"},
      {"/api/mixer/keycapture/status", "keybinding_unavailable"},
      {"/api/mixer/audio/status", "audio_manager_unavailable"},
      {"/api/mixer/audio/restore-my-sound", "audio_manager_unavailable"},
  };
  for (const auto& [path, code] : cases) {
    auto [status, reply] = testing::PostWithSession(api, path);
    EXPECT_EQ(status, 500) << path;
    EXPECT_EQ(reply.GetString("code", ""), code) << path;
  }
  // Without an engine the flags alone carry the mixer, so the web client still works.
  EXPECT_EQ(testing::PostWithSession(api, "/api/mixer/start").status, 200);
  EXPECT_EQ(testing::PostWithSession(api, "/api/mixer/ptt/stop").status, 200);
  auto [status, reply] = testing::PostWithSession(api, "/api/mixer/status");
  EXPECT_TRUE(reply["mixer"]["running"].bool_value);
  EXPECT_EQ(reply["mixer"].Find("audio_management"), nullptr);
  EXPECT_EQ(reply["mixer"]["sound_inbox"]["phase"].string_value, "disabled");
}

TEST_F(MixerRoutesTest, TheBackupFolderOpensThroughTheConfiguredOpener) {
  WindowsAudioManager manager(folder_ / "data/audio_backup.json", AudioSystemFactory());
  config_.windows_audio_manager = &manager;
  std::string opened;
  std::string failure;
  config_.folder_opener = [&](const std::string& folder, std::string* error) {
    opened = folder;
    *error = failure;
    return failure.empty();
  };
  HttpApi api(config_);
  auto [status, reply] = testing::PostWithSession(api, "/api/mixer/audio/open-backup-folder");
  EXPECT_EQ(status, 200);
  EXPECT_EQ(reply["opened_path"].string_value, (folder_ / "data").string());
  EXPECT_EQ(opened, (folder_ / "data").string());

  failure = "no file manager";
  auto [failed_status, failed] = testing::PostWithSession(api, "/api/mixer/audio/open-backup-folder");
  EXPECT_EQ(failed_status, 500);
  EXPECT_EQ(failed.GetString("code", ""), "open_folder_failed");
  EXPECT_EQ(failed.GetString("error", ""), "no file manager");
}

}  // namespace
}  // namespace zennic
