#include "windows_audio/endpoint_rules.h"

#include <gtest/gtest.h>

namespace zennic {
namespace {

constexpr AudioFlow kRender = AudioFlow::kRender;
constexpr AudioFlow kCapture = AudioFlow::kCapture;

TEST(EndpointNames, TheCableIsKnownByItsNamesInAnyCaseAndSpacing) {
  EXPECT_TRUE(HasCableInputNamePrefix("CABLE Input (VB-Audio Virtual Cable)"));
  EXPECT_TRUE(HasCableInputNamePrefix("CABLE In 16 Ch"));
  EXPECT_TRUE(HasCableInputNamePrefix("  cable\tinput"));
  EXPECT_FALSE(HasCableInputNamePrefix("CABLE Output"));
  EXPECT_TRUE(HasCableOutputNamePrefix("CABLE Out 16 Ch"));
  EXPECT_TRUE(HasCableOutputNamePrefix("Cable  Output"));
  EXPECT_FALSE(HasCableOutputNamePrefix("Speakers"));

  EXPECT_TRUE(IsVirtualCableDeviceName("CABLE Output"));
  EXPECT_TRUE(IsVirtualCableDeviceName("Line 1 (VBAudio Virtual Cable)"));
  // The hyphen survives normalising, so the maker's hyphenated name alone is no cable.
  EXPECT_FALSE(IsVirtualCableDeviceName("VB-Audio Virtual Cable"));

  EXPECT_TRUE(IsUsableEndpointName("Speakers (Realtek)"));
  EXPECT_FALSE(IsUsableEndpointName(" \t"));
  EXPECT_FALSE(IsUsableEndpointName("CABLE Input"));
}

TEST(EndpointNames, PhysicalDevicesRankMicrophonesAndHeadsetsFirst) {
  EXPECT_EQ(PhysicalDevicePriority(kCapture, "Headset Microphone"), 0);
  EXPECT_EQ(PhysicalDevicePriority(kRender, "Headset Microphone"), 0);
  EXPECT_EQ(PhysicalDevicePriority(kRender, "Realtek Speakers"), 1);
  EXPECT_EQ(PhysicalDevicePriority(kCapture, "Realtek Speakers"), 2);
  EXPECT_EQ(PhysicalDevicePriority(kCapture, "USB Headphones"), 1);
  EXPECT_EQ(PhysicalDevicePriority(kRender, "HDMI Output"), 2);
}

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
