#include "windows_audio/endpoint_rules.h"

#include <gtest/gtest.h>

namespace zennic {
namespace {

constexpr AudioFlow kRender = AudioFlow::kRender;
constexpr AudioFlow kCapture = AudioFlow::kCapture;

std::vector<AudioRoleEndpoint> SixDefaults(const std::string& render, const std::string& capture) {
  std::vector<AudioRoleEndpoint> endpoints;
  for (AudioFlow flow : kAudioFlowOrder) {
    for (AudioRole role : kAudioRoleOrder) {
      const std::string& name = flow == kRender ? render : capture;
      endpoints.push_back({flow, role, "id:" + name, name, true});
    }
  }
  return endpoints;
}

TEST(DefaultsRules, OnlySixPresentRealDefaultsAreASafeNormalState) {
  auto defaults = SixDefaults("Speakers", "Microphone");
  EXPECT_TRUE(IsSafeNormalPcSnapshot(defaults));
  EXPECT_FALSE(IsSafeNormalPcSnapshot({}));

  auto missing_role = defaults;
  missing_role.erase(missing_role.begin() + 2);  // render communications
  EXPECT_FALSE(IsSafeNormalPcSnapshot(missing_role));
  auto absent = defaults;
  absent[4].present = false;
  EXPECT_FALSE(IsSafeNormalPcSnapshot(absent));
  auto unnamed = defaults;
  unnamed[1].name = " ";
  EXPECT_FALSE(IsSafeNormalPcSnapshot(unnamed));
  auto cable = defaults;
  cable[5].name = "CABLE Output";
  EXPECT_FALSE(IsSafeNormalPcSnapshot(cable));
}

TEST(DefaultsRules, TheNameOfASideIsConsoleElseTheFirstPresentRole) {
  auto defaults = SixDefaults("Speakers", "Microphone");
  EXPECT_EQ(DefaultsOutputName(defaults), "Speakers");
  EXPECT_EQ(DefaultsInputName(defaults), "Microphone");

  defaults[0].present = false;
  defaults[1].name = "Multimedia speakers";
  defaults[2].name = "Communications speakers";
  EXPECT_EQ(DefaultsOutputName(defaults), "Multimedia speakers");
  defaults[1].present = false;
  EXPECT_EQ(DefaultsOutputName(defaults), "Communications speakers");
  defaults[2].present = false;
  EXPECT_EQ(DefaultsOutputName(defaults), "");
}

TEST(DefaultsRules, ACableDefaultIsSeenPerFlow) {
  auto defaults = SixDefaults("Speakers", "Microphone");
  EXPECT_FALSE(HasCableDefault(defaults, kRender));
  defaults[5].name = "CABLE Output";
  EXPECT_TRUE(HasCableDefault(defaults, kCapture));
  EXPECT_FALSE(HasCableDefault(defaults, kRender));
  defaults[5].present = false;
  EXPECT_FALSE(HasCableDefault(defaults, kCapture));
}

}  // namespace
}  // namespace zennic
