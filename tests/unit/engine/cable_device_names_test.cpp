#include "engine/cable_device_names.h"

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

}  // namespace
}  // namespace zennic
