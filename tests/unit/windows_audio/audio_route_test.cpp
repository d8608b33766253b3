// The route check, and the monitor that runs it after endpoint changes.

#include <atomic>
#include <chrono>
#include <thread>

#include "support/eventually.h"
#include "windows_audio_fixture.h"

namespace zennic {
namespace {

using testing::Eventually;

using namespace std::chrono_literals;
using AudioRouteTest = WindowsAudioTest;

constexpr char kOrphaned[] = "orphaned_cable_input";
constexpr char kInputChanged[] = "windows_input_changed";

class RouteCheck : public AudioRouteTest {
 protected:
  std::string WarningAfterCheck(const AudioRouteMonitorContext& context) {
    std::string error;
    EXPECT_TRUE(manager->CheckAudioRoute(context, &error)) << error;
    return Warning();
  }
  std::string Warning() {
    WindowsAudioStatus status;
    manager->GetStatus(&status);
    EXPECT_EQ(status.audio_route_warning, !status.audio_route_warning_code.empty());
    EXPECT_EQ(status.audio_route_warning_message.empty(), status.audio_route_warning_code.empty());
    return status.audio_route_warning_code;
  }
  AudioRouteMonitorContext Running() {
    return {true, true, cable_output, "CABLE Output (VB-Audio Virtual Cable)"};
  }
};

TEST_F(RouteCheck, TheCableLeftAsMicrophoneWithoutASessionIsAnOrphan) {
  AudioRouteMonitorContext stopped;
  EXPECT_EQ(WarningAfterCheck(stopped), "");
  world.SetDefault(kCapture, kCommunications, cable_output);
  EXPECT_EQ(WarningAfterCheck(stopped), kOrphaned);
  WindowsAudioStatus status;
  manager->GetStatus(&status);
  EXPECT_EQ(status.audio_route_warning_message,
            "Windows is still using Ruzerad virtual microphone. Click Restore My Sound to return "
            "to your normal microphone.");
  world.SetDefault(kCapture, kCommunications, microphone);
  EXPECT_EQ(WarningAfterCheck(stopped), "");
}

TEST_F(RouteCheck, AStoppedMixerWithASessionStillRecordedIsNoOrphan) {
  StartSessionWithHeadphones();
  EXPECT_EQ(WarningAfterCheck({}), "");
}

TEST_F(RouteCheck, ARunningSessionWarnsWhenTheUserPicksAnotherMicrophone) {
  StartSessionWithHeadphones();
  EXPECT_EQ(WarningAfterCheck(Running()), "");
  world.SetDefault(kCapture, kMultimedia, microphone);
  EXPECT_EQ(WarningAfterCheck(Running()), kInputChanged);
  WindowsAudioStatus status;
  manager->GetStatus(&status);
  EXPECT_EQ(status.audio_route_warning_message,
            "Windows microphone changed while Ruzerad was running. Other players may not hear "
            "clips.");
  world.SetDefault(kCapture, kMultimedia, cable_output);
  EXPECT_EQ(WarningAfterCheck(Running()), "");
}

TEST_F(RouteCheck, OnlyAVerifiedCableRouteIsExamined) {
  StartSessionWithHeadphones();
  world.SetDefaults(kCapture, microphone);
  AudioRouteMonitorContext context = Running();
  context.verified_cable_name = "Line In";
  EXPECT_EQ(WarningAfterCheck(context), "");
  context = Running();
  context.cable_verified = false;
  EXPECT_EQ(WarningAfterCheck(context), "");
  context = Running();
  context.verified_cable_id.clear();
  EXPECT_EQ(WarningAfterCheck(context), "");
  EXPECT_EQ(WarningAfterCheck(Running()), kInputChanged);
}

TEST_F(RouteCheck, ASessionThatAppliedOtherEndpointsCountsAsChanged) {
  // A session begun on another cable: the verified one was never what the session set.
  std::string other_cable = world.AddEndpoint(kCapture, "CABLE Out 16 Ch");
  std::string error;
  ASSERT_TRUE(manager->BeginCableSession("", other_cable, "CABLE Out 16 Ch", nullptr, &error));
  world.SetDefaults(kCapture, cable_output);
  EXPECT_EQ(WarningAfterCheck(Running()), kInputChanged);
}

TEST_F(RouteCheck, AFailedCheckLeavesTheWarningAsItWas) {
  world.SetDefault(kCapture, kConsole, cable_output);
  EXPECT_EQ(WarningAfterCheck({}), kOrphaned);
  world.SetDefault(kCapture, kConsole, microphone);

  std::string error;
  world.FailDefaultQueries(audio_result::kFail);
  EXPECT_FALSE(manager->CheckAudioRoute({}, &error));
  EXPECT_EQ(error, "Windows audio default endpoint query failed (0x80004005)");
  world.FailDefaultQueries(audio_result::kOk);
  testing::WriteFile(BackupPath(), "[]");
  EXPECT_FALSE(manager->CheckAudioRoute({}, &error));
  EXPECT_EQ(error, "audio_backup.json is not a valid JSON object");
  EXPECT_EQ(Warning(), kOrphaned);
}

class RouteMonitorTest : public AudioRouteTest {
 protected:
  // The manager's monitoring, with a context of a stopped mixer; counts its checks.
  bool StartManagersMonitor(std::string* error) {
    return manager->StartRouteMonitoring(
        [this] {
          ++runs;
          return AudioRouteMonitorContext{};
        },
        error);
  }

  std::atomic<int> runs{0};
};

TEST_F(RouteMonitorTest, RunsOnceAfterStartAndOnceForABurstOfChanges) {
  WindowsAudioRouteMonitor monitor(world.Factory(), [this] { ++runs; });
  std::string error;
  ASSERT_TRUE(monitor.Start(&error)) << error;
  EXPECT_TRUE(Eventually([this] { return runs == 1; })) << "the first check needs no change";

  for (int i = 0; i < 5; ++i) {
    world.Notify(AudioEndpointEvent::kAdded);
    std::this_thread::sleep_for(50ms);
  }
  EXPECT_TRUE(Eventually([this] { return runs == 2; }));
  std::this_thread::sleep_for(WindowsAudioRouteMonitor::kQuietPeriod * 2);
  EXPECT_EQ(runs, 2) << "a burst runs the check once, and quiet runs nothing";

  monitor.Stop();
  monitor.Stop();
  EXPECT_EQ(world.ListenerCount(), 0u);
}

TEST_F(RouteMonitorTest, AThrowingHandlerDoesNotEndMonitoring) {
  WindowsAudioRouteMonitor monitor(world.Factory(), [this] {
    ++runs;
    throw std::runtime_error("the check broke");
  });
  ASSERT_TRUE(monitor.Start(nullptr));
  EXPECT_TRUE(Eventually([this] { return runs == 1; }));
  world.Notify(AudioEndpointEvent::kDefaultChanged);
  EXPECT_TRUE(Eventually([this] { return runs == 2; }));
}

TEST_F(RouteMonitorTest, AStartThatCannotListenSaysWhy) {
  std::string error;
  world.FailConnections(audio_result::kServiceNotRunning);
  WindowsAudioRouteMonitor unreachable(world.Factory(), [] {});
  EXPECT_FALSE(unreachable.Start(&error));
  EXPECT_EQ(error, "MMDeviceEnumerator creation failed while starting Windows audio monitoring");
  world.FailConnections(audio_result::kOk);

  world.FailListenerRegistration(audio_result::kAccessDenied);
  WindowsAudioRouteMonitor rejected(world.Factory(), [] {});
  EXPECT_FALSE(rejected.Start(&error));
  EXPECT_EQ(error, "Windows rejected the audio endpoint notification callback");
}

TEST_F(RouteMonitorTest, TheManagersMonitorRaisesTheWarningAfterAChange) {
  std::string error;
  EXPECT_FALSE(manager->StartRouteMonitoring(nullptr, &error));
  EXPECT_EQ(error, "Windows audio monitor context provider is unavailable");
  WindowsAudioStatus status;
  manager->GetStatus(&status);
  EXPECT_FALSE(status.audio_route_monitoring_active);

  ASSERT_TRUE(StartManagersMonitor(&error)) << error;
  manager->GetStatus(&status);
  EXPECT_TRUE(status.audio_route_monitoring_active);
  EXPECT_TRUE(Eventually([this] { return runs == 1; }));

  world.SetDefault(kCapture, kConsole, cable_output);
  EXPECT_TRUE(Eventually([this] {
    WindowsAudioStatus now;
    manager->GetStatus(&now);
    return now.audio_route_warning_code == kOrphaned;
  }));

  manager->StopRouteMonitoring();
  manager->StopRouteMonitoring();
  manager->GetStatus(&status);
  EXPECT_FALSE(status.audio_route_monitoring_active);
  EXPECT_EQ(world.ListenerCount(), 0u);

  world.FailConnections(audio_result::kServiceNotRunning);
  EXPECT_FALSE(manager->StartRouteMonitoring([] { return AudioRouteMonitorContext{}; }, &error));
  manager->GetStatus(&status);
  EXPECT_FALSE(status.audio_route_monitoring_active);
}

TEST_F(RouteMonitorTest, StatusReadersTakeTheMonitorsReadingWhileItListens) {
  std::string error;
  ASSERT_TRUE(StartManagersMonitor(&error)) << error;
  ASSERT_TRUE(Eventually([this] { return runs == 1; }));
  auto input_name = [this] {
    WindowsAudioStatus status;
    manager->GetStatus(&status);
    return status.current_default_input_name;
  };

  // Pollers ask the service nothing: one that no longer answers holds none of them up.
  world.FailConnections(audio_result::kServiceNotRunning);
  EXPECT_TRUE(manager->CheckAudioRoute({}, &error)) << error;
  EXPECT_EQ(input_name(), "Microphone (USB)");
  world.FailConnections(audio_result::kOk);

  // The manager's own change is read at once; the monitor reads it after its quiet period.
  const std::string cable = "CABLE Output (VB-Audio Virtual Cable)";
  StartSessionWithHeadphones();
  EXPECT_EQ(input_name(), cable);
  ASSERT_TRUE(Eventually([this] { return runs >= 2; }));
  world.FailConnections(audio_result::kServiceNotRunning);
  EXPECT_EQ(input_name(), cable);
}

}  // namespace
}  // namespace zennic
