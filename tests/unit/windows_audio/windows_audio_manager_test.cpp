// The manager's lookups and its status record.

#include "windows_audio/windows_audio_manager.h"

#include "windows_audio_fixture.h"

namespace zennic {
namespace {

using WindowsAudioManagerTest = WindowsAudioTest;

TEST_F(WindowsAudioManagerTest, TheCableAndTheMonitorAreFoundByName) {
  AudioEndpointInfo found;
  std::string error;
  ASSERT_TRUE(manager->FindCableOutputEndpoint(&found, &error)) << error;
  EXPECT_EQ(found.id, cable_output);
  ASSERT_TRUE(manager->FindMonitorOutputEndpoint(" headphones (usb) ", &found, &error)) << error;
  EXPECT_EQ(found.id, headphones);

  EXPECT_FALSE(manager->FindMonitorOutputEndpoint(" \t", &found, &error));
  EXPECT_EQ(error, "Monitor output is not selected");
  EXPECT_FALSE(manager->FindMonitorOutputEndpoint("Bluetooth Headset", &found, &error));
  EXPECT_EQ(error, "Selected monitor output is not currently available in Windows playback devices");
  world.RemoveEndpoint(cable_output);
  EXPECT_FALSE(manager->FindCableOutputEndpoint(&found, &error));
  EXPECT_EQ(error, "CABLE Output / CABLE Out 16 Ch was not found in Windows recording devices");
}

TEST_F(WindowsAudioManagerTest, TheVerifiedCableMustKeepItsIdAndItsCableName) {
  AudioEndpointInfo found;
  std::string error;
  bool unavailable = true;
  EXPECT_FALSE(manager->FindVerifiedCableOutputEndpoint(cable_output, " ", &found, &error,
                                                        &unavailable));
  EXPECT_EQ(error, "Run Full Setup Check before starting the mixer.");
  EXPECT_FALSE(unavailable);

  std::string current_name;
  ASSERT_TRUE(manager->ResolveVerifiedCableOutput(cable_output, "CABLE Output", &current_name,
                                                  &error, &unavailable));
  EXPECT_EQ(current_name, "CABLE Output (VB-Audio Virtual Cable)");

  // Another device now has a cable name, but not the verified id.
  world.RemoveEndpoint(cable_output);
  world.AddEndpoint(kCapture, "CABLE Output", "capture:second-cable");
  EXPECT_FALSE(manager->ResolveVerifiedCableOutput(cable_output, "CABLE Output", &current_name,
                                                   &error, &unavailable));
  EXPECT_TRUE(unavailable);
  EXPECT_EQ(current_name, "");
  EXPECT_EQ(error, "The verified CABLE Output is no longer available. Run Full Setup Check again.");

  // The verified id renamed away from the cable's name no longer counts either.
  world.AddEndpoint(kCapture, "Line In", cable_output);
  EXPECT_FALSE(manager->FindVerifiedCableOutputEndpoint(cable_output, "CABLE Output", &found,
                                                        &error, &unavailable));
  EXPECT_TRUE(unavailable);
}

TEST_F(WindowsAudioManagerTest, WithoutABackendLookupsFailAndForwardsSaySo) {
  WindowsAudioManager without(BackupPath(), AudioSystemFactory());
  std::string error = "previous";
  AudioEndpointInfo found;
  EXPECT_FALSE(without.FindCableOutputEndpoint(&found, &error));
  EXPECT_EQ(error, "");
  std::vector<AudioEndpointInfo> endpoints;
  EXPECT_FALSE(without.EnumerateEndpoints(kRender, &endpoints, &error));
  EXPECT_EQ(error, "Windows audio backend is not available");
  std::vector<AudioRoleEndpoint> defaults;
  EXPECT_FALSE(without.GetDefaultEndpoints(&defaults, &error));
  EXPECT_EQ(error, "Windows audio backend is not available");
}

TEST_F(WindowsAudioManagerTest, StatusWithoutABackupReportsTheCurrentDefaults) {
  world.SetDefault(kCapture, kCommunications, cable_output);
  world.SetDefault(kRender, kConsole, "");
  WindowsAudioStatus status;
  ASSERT_TRUE(manager->GetStatus(&status));
  EXPECT_FALSE(status.backup_exists);
  EXPECT_FALSE(status.backup_valid);
  EXPECT_EQ(status.error, "");
  EXPECT_EQ(status.backup_path, BackupPath().string());
  EXPECT_TRUE(status.current_defaults_available);
  EXPECT_EQ(status.current_default_output_name, "Speakers (Realtek)") << "multimedia stands in";
  EXPECT_EQ(status.current_default_input_name, "Microphone (USB)");
  EXPECT_FALSE(status.current_default_output_is_cable);
  EXPECT_TRUE(status.current_default_input_is_cable);
  EXPECT_FALSE(manager->GetStatus(nullptr));
}

TEST_F(WindowsAudioManagerTest, StatusOfABrokenBackupCarriesTheReadersMessage) {
  testing::WriteFile(BackupPath(), "not json");
  WindowsAudioStatus status;
  ASSERT_TRUE(manager->GetStatus(&status));
  EXPECT_TRUE(status.backup_exists);
  EXPECT_FALSE(status.backup_valid);
  EXPECT_FALSE(status.error.empty());
  EXPECT_TRUE(status.current_defaults_available);
  EXPECT_FALSE(manager->HasActiveSession());
}

TEST_F(WindowsAudioManagerTest, StatusOfASessionNamesItsSavedDevices) {
  StartSessionWithHeadphones();
  world.FailDefaultQueries(audio_result::kFail);
  WindowsAudioStatus status;
  ASSERT_TRUE(manager->GetStatus(&status));
  EXPECT_TRUE(status.backup_exists);
  EXPECT_TRUE(status.backup_valid);
  EXPECT_TRUE(status.session_active);
  EXPECT_TRUE(status.restore_session_available);
  EXPECT_TRUE(status.restore_last_known_good_available);
  EXPECT_TRUE(status.current_session_safe_normal_pc);
  EXPECT_TRUE(status.last_known_good_safe_normal_pc);
  EXPECT_FALSE(status.current_session_invalid_output);
  EXPECT_EQ(status.current_session_output_name, "Speakers (Realtek)");
  EXPECT_EQ(status.current_session_input_name, "Microphone (USB)");
  EXPECT_EQ(status.last_known_good_input_name, "Microphone (USB)");
  EXPECT_EQ(status.current_session_saved_at.size(), 19u);
  EXPECT_FALSE(status.current_defaults_available);
  EXPECT_EQ(status.error, "Windows audio default endpoint query failed (0x80004005)");
  EXPECT_TRUE(manager->HasActiveSession());
}

TEST(WindowsAudioStatusJson, HasEveryFieldWithStringsNeverNull) {
  WindowsAudioStatus status;
  status.audio_route_warning = true;
  status.audio_route_warning_code = "windows_input_changed";
  JsonValue json = WindowsAudioStatusToJson(status);
  ASSERT_EQ(json.object_value.size(), 25u);
  size_t flags = 0;
  size_t strings = 0;
  for (const auto& [key, value] : json.object_value) {
    flags += value.type == JsonValue::Type::Bool;
    strings += value.type == JsonValue::Type::String;
  }
  EXPECT_EQ(flags, 13u);
  EXPECT_EQ(strings, 12u);
  EXPECT_TRUE(json.GetBool("audio_route_warning", false));
  EXPECT_EQ(json.GetString("audio_route_warning_code", ""), "windows_input_changed");
  EXPECT_EQ(json.GetString("current_default_input_name", "x"), "");
}

}  // namespace
}  // namespace zennic
