// Windows audio management against a real PulseAudio server with the virtual devices: each test
// has a server of its own, so the defaults it changes are nobody else's.

#include "windows_audio/windows_audio_manager.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <thread>

#include "support/eventually.h"
#include "support/private_audio_server.h"
#include "support/temp_folder.h"

namespace zennic {
namespace {

using testing::Eventually;

using namespace std::chrono_literals;
using testing::PrivateAudioServer;
using testing::TempFolder;

class WindowsAudioOnPulse : public ::testing::Test {
 protected:
  AudioBackup Backup() {
    AudioBackup backup;
    std::string error;
    EXPECT_TRUE(manager.ReadBackup(&backup, &error)) << error;
    return backup;
  }

  std::string CableOutputId() {
    std::vector<AudioEndpointInfo> endpoints;
    EXPECT_TRUE(manager.EnumerateEndpoints(AudioFlow::kCapture, &endpoints, nullptr));
    for (const auto& endpoint : endpoints) {
      if (endpoint.name == "CABLE Output") return endpoint.id;
    }
    ADD_FAILURE() << "no CABLE Output";
    return {};
  }

  PrivateAudioServer server;
  TempFolder folder;
  WindowsAudioManager manager{folder / "audio_backup.json"};
};

TEST_F(WindowsAudioOnPulse, ASessionSwitchesToTheCableAndItsRestorePutsTheDefaultsBack) {
  std::vector<std::string> notices;
  std::string error;
  ASSERT_TRUE(manager.BeginCableSession("Headphones (Virtual)", "", "", &notices, &error)) << error;
  EXPECT_EQ(server.DefaultSource(), "cable_output");
  EXPECT_EQ(server.DefaultSink(), "headphones");
  AudioBackup backup = Backup();
  EXPECT_TRUE(backup.session_active);
  ASSERT_EQ(backup.current_session.endpoints.size(), 6u);
  EXPECT_EQ(backup.current_session.endpoints[0].name, "Speakers (Virtual)");
  EXPECT_EQ(backup.current_session.endpoints[3].name, "Microphone (Virtual)");
  EXPECT_EQ(backup.applied.endpoints.size(), 6u);

  AudioRestoreResult result;
  ASSERT_TRUE(manager.RestoreSession(&result, &error)) << error;
  EXPECT_TRUE(result.restored);
  EXPECT_EQ(server.DefaultSource(), "test_microphone");
  EXPECT_EQ(server.DefaultSink(), "speakers");
  EXPECT_FALSE(Backup().session_active);
}

// The real server, except that one call to set a default fails.
class OneFailingSet : public AudioSystem {
 public:
  OneFailingSet(std::unique_ptr<AudioSystem> real, std::shared_ptr<std::atomic<int>> sets_left)
      : real_(std::move(real)), sets_left_(std::move(sets_left)) {}
  AudioResult EnumerateEndpoints(AudioFlow flow,
                                 std::vector<AudioEndpointDescription>* endpoints) override {
    return real_->EnumerateEndpoints(flow, endpoints);
  }
  AudioResult GetDefaultEndpoint(AudioFlow flow, AudioRole role,
                                 AudioEndpointDescription* endpoint) override {
    return real_->GetDefaultEndpoint(flow, role, endpoint);
  }
  AudioResult SetDefaultEndpoint(const std::string& id, AudioRole role) override {
    if (--*sets_left_ == 0) return audio_result::kFail;
    return real_->SetDefaultEndpoint(id, role);
  }
  AudioResult OpenEndpoint(const std::string& id,
                           std::unique_ptr<AudioEndpoint>* endpoint) override {
    return real_->OpenEndpoint(id, endpoint);
  }
  AudioResult RegisterEndpointListener(AudioEndpointListener* listener) override {
    return real_->RegisterEndpointListener(listener);
  }
  AudioResult UnregisterEndpointListener(AudioEndpointListener* listener) override {
    return real_->UnregisterEndpointListener(listener);
  }

 private:
  std::unique_ptr<AudioSystem> real_;
  std::shared_ptr<std::atomic<int>> sets_left_;
};

TEST_F(WindowsAudioOnPulse, AFailureHalfWayRollsTheDefaultsBack) {
  // The fourth change (the playback side) fails after the microphone became the cable.
  auto sets_left = std::make_shared<std::atomic<int>>(4);
  WindowsAudioManager failing(folder / "audio_backup.json", [sets_left](AudioResult* result) {
    std::unique_ptr<AudioSystem> real = ConnectAudioSystem(result);
    return real ? std::make_unique<OneFailingSet>(std::move(real), sets_left) : nullptr;
  });
  std::string error;
  EXPECT_FALSE(failing.BeginCableSession("Headphones (Virtual)", "", "", nullptr, &error));
  EXPECT_EQ(error, "Windows rejected the default audio device change");
  EXPECT_EQ(server.DefaultSource(), "test_microphone");
  EXPECT_EQ(server.DefaultSink(), "speakers");
  EXPECT_FALSE(Backup().session_active);
}

TEST_F(WindowsAudioOnPulse, AStartFromTheCableOrOntoTheCableIsRefused) {
  server.Pactl("set-default-source cable_output");
  std::string error;
  EXPECT_FALSE(manager.BeginCableSession("", "", "", nullptr, &error));
  EXPECT_EQ(error,
            "Windows audio is still using a Ruzerad or VB-CABLE route. Use Restore My Sound "
            "before starting again.");
  server.Pactl("set-default-source test_microphone");

  // The shell keeps the single quotes for the module's own argument parser.
  server.LoadModule(
      "module-null-sink sink_name=vb_cable \"sink_properties='device.description=\\\"CABLE "
      "Input (VB-Audio Virtual Cable)\\\"'\"");
  EXPECT_FALSE(manager.BeginCableSession("CABLE Input (VB-Audio Virtual Cable)", "", "", nullptr,
                                         &error));
  EXPECT_EQ(error,
            "Monitor Output is set to VB-Cable. Choose your real headphones or speakers as Monitor "
            "Output before starting.");
  EXPECT_FALSE(std::filesystem::exists(folder / "audio_backup.json"));
  EXPECT_EQ(server.DefaultSource(), "test_microphone");
}

TEST_F(WindowsAudioOnPulse, RestoreMySoundLeavesTheCableForARealDevice) {
  server.UnloadModuleWith("sink_name=headphones");
  server.Pactl("set-default-sink cable_input");
  server.Pactl("set-default-source cable_output");
  AudioRestoreResult result;
  std::string error;
  ASSERT_TRUE(manager.RestoreMySound(&result, &error)) << error;
  EXPECT_EQ(server.DefaultSink(), "speakers");
  EXPECT_EQ(server.DefaultSource(), "test_microphone");
  EXPECT_TRUE(result.restored);
  ASSERT_EQ(result.messages.size(), 3u);
  EXPECT_EQ(result.messages[1], "Restored Windows output to Speakers (Virtual) using a physical "
                                "fallback.");
}

TEST_F(WindowsAudioOnPulse, ChangingTheMicrophoneDuringASessionRaisesTheRouteWarning) {
  std::string cable = CableOutputId();
  std::atomic<bool> mixer_running{true};
  std::string error;
  ASSERT_TRUE(manager.BeginCableSession("", cable, "CABLE Output", nullptr, &error)) << error;
  ASSERT_TRUE(manager.StartRouteMonitoring(
      [&] { return AudioRouteMonitorContext{mixer_running, true, cable, "CABLE Output"}; },
      &error))
      << error;
  WindowsAudioStatus status;
  manager.GetStatus(&status);
  EXPECT_TRUE(status.audio_route_monitoring_active);

  // Only the monitor runs the check here: the status read does not.
  server.Pactl("set-default-source test_microphone");
  EXPECT_TRUE(Eventually([&] {
    manager.GetStatus(&status);
    return status.audio_route_warning;
  }));
  JsonValue json = WindowsAudioStatusToJson(status);
  EXPECT_TRUE(json.GetBool("audio_route_warning", false));
  EXPECT_EQ(json.GetString("audio_route_warning_code", ""), "windows_input_changed");
  EXPECT_EQ(json.GetString("audio_route_warning_message", ""),
            "Windows microphone changed while Ruzerad was running. Other players may not hear "
            "clips.");

  server.Pactl("set-default-source cable_output");
  EXPECT_TRUE(Eventually([&] {
    manager.GetStatus(&status);
    return !status.audio_route_warning;
  }));
  manager.StopRouteMonitoring();
}

TEST_F(WindowsAudioOnPulse, TheCableLeftAsMicrophoneIsAnOrphanUntilRestored) {
  std::string error;
  ASSERT_TRUE(manager.StartRouteMonitoring([] { return AudioRouteMonitorContext{}; }, &error))
      << error;
  server.Pactl("set-default-source cable_output");
  WindowsAudioStatus status;
  EXPECT_TRUE(Eventually([&] {
    manager.GetStatus(&status);
    return status.audio_route_warning_code == "orphaned_cable_input";
  }));
  ASSERT_TRUE(manager.RestoreMySound(nullptr, &error)) << error;
  EXPECT_TRUE(Eventually([&] {
    manager.GetStatus(&status);
    return !status.audio_route_warning;
  }));
}

}  // namespace
}  // namespace zennic
