#include "windows_audio/audio_system_policy_backend.h"

#include <gtest/gtest.h>

#include "support/fake_audio_system.h"

namespace zennic {
namespace {

constexpr AudioFlow kRender = AudioFlow::kRender;
constexpr AudioFlow kCapture = AudioFlow::kCapture;

class PolicyBackendTest : public ::testing::Test {
 protected:
  testing::FakeAudioWorld world;
  AudioSystemPolicyBackend backend{world.Factory()};
};

TEST_F(PolicyBackendTest, ReadsSixDefaultsInTheFixedOrderWithEachRoleItsOwn) {
  std::string speakers = world.AddEndpoint(kRender, "Speakers");
  std::string headset = world.AddEndpoint(kRender, "Headset");
  std::string microphone = world.AddEndpoint(kCapture, "Microphone");
  world.SetDefaults(kRender, speakers);
  world.SetDefault(kRender, AudioRole::kCommunications, headset);
  world.SetDefault(kCapture, AudioRole::kMultimedia, microphone);

  std::vector<AudioRoleEndpoint> defaults;
  std::string error;
  ASSERT_TRUE(backend.GetDefaultEndpoints(&defaults, &error)) << error;
  std::vector<AudioRoleEndpoint> expected = {
      {kRender, AudioRole::kConsole, speakers, "Speakers", true},
      {kRender, AudioRole::kMultimedia, speakers, "Speakers", true},
      {kRender, AudioRole::kCommunications, headset, "Headset", true},
      {kCapture, AudioRole::kConsole, "", "", false},
      {kCapture, AudioRole::kMultimedia, microphone, "Microphone", true},
      {kCapture, AudioRole::kCommunications, "", "", false},
  };
  EXPECT_EQ(defaults, expected);
}

TEST_F(PolicyBackendTest, AnEndpointWithoutAFriendlyNameGoesByItsId) {
  std::string unnamed = world.AddEndpoint(kCapture, "", "capture:unnamed");
  world.SetDefaults(kCapture, unnamed);
  std::vector<AudioRoleEndpoint> defaults;
  ASSERT_TRUE(backend.GetDefaultEndpoints(&defaults, nullptr));
  EXPECT_EQ(defaults[3].name, "capture:unnamed");
  std::vector<AudioEndpointInfo> endpoints;
  ASSERT_TRUE(backend.EnumerateEndpoints(kCapture, &endpoints, nullptr));
  ASSERT_EQ(endpoints.size(), 1u);
  EXPECT_EQ(endpoints[0].name, "capture:unnamed");
  EXPECT_EQ(endpoints[0].flow, kCapture);
}

TEST_F(PolicyBackendTest, AFailedQueryIsAFailureNotAnEmptyRole) {
  world.FailDefaultQueries(audio_result::kTimeout);
  std::vector<AudioRoleEndpoint> defaults = {AudioRoleEndpoint{}};
  std::string error;
  EXPECT_FALSE(backend.GetDefaultEndpoints(&defaults, &error));
  EXPECT_EQ(error, "Windows audio default endpoint query failed (0x800705B4)");
  EXPECT_TRUE(defaults.empty());
}

TEST_F(PolicyBackendTest, EachOperationReportsItsOwnFailures) {
  std::string error;
  EXPECT_FALSE(backend.GetDefaultEndpoints(nullptr, &error));
  EXPECT_EQ(error, "Default endpoint output pointer is null");
  EXPECT_FALSE(backend.EnumerateEndpoints(kRender, nullptr, &error));
  EXPECT_EQ(error, "Endpoint list output pointer is null");

  world.FailEnumeration(audio_result::kFail);
  std::vector<AudioEndpointInfo> endpoints;
  EXPECT_FALSE(backend.EnumerateEndpoints(kRender, &endpoints, &error));
  EXPECT_EQ(error, "Windows audio endpoint enumeration failed");

  world.FailConnections(audio_result::kServiceNotRunning);
  std::vector<AudioRoleEndpoint> defaults;
  EXPECT_FALSE(backend.GetDefaultEndpoints(&defaults, &error));
  EXPECT_EQ(error, "MMDeviceEnumerator creation failed");
  EXPECT_FALSE(backend.EnumerateEndpoints(kRender, &endpoints, &error));
  EXPECT_EQ(error, "MMDeviceEnumerator creation failed");
  EXPECT_FALSE(backend.SetDefaultEndpoint("render:Speakers", AudioRole::kConsole, &error));
  EXPECT_EQ(error, "IPolicyConfig is unavailable on this Windows installation");
}

TEST_F(PolicyBackendTest, SettingADefaultChecksTheIdAndMapsUnknownRolesToConsole) {
  std::string speakers = world.AddEndpoint(kRender, "Speakers");
  std::string error;
  // An empty id is refused before the audio system is even reached.
  world.FailConnections(audio_result::kServiceNotRunning);
  EXPECT_FALSE(backend.SetDefaultEndpoint("", AudioRole::kConsole, &error));
  EXPECT_EQ(error, "Endpoint id is empty");
  world.FailConnections(audio_result::kOk);

  ASSERT_TRUE(backend.SetDefaultEndpoint(speakers, static_cast<AudioRole>(7), &error)) << error;
  EXPECT_EQ(world.DefaultId(kRender, AudioRole::kConsole), speakers);
  EXPECT_EQ(world.DefaultId(kRender, AudioRole::kMultimedia), "");

  EXPECT_FALSE(backend.SetDefaultEndpoint("render:gone", AudioRole::kConsole, &error));
  EXPECT_EQ(error, "Windows rejected the default audio device change");
}

}  // namespace
}  // namespace zennic
