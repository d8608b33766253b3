// The mixer driven over HTTP by the built program on the private audio server: status, set,
// devices, start and stop on the verified cable, push-to-talk and the voice test.

#include <gtest/gtest.h>

#include "integration/mixer_api_fixture.h"

namespace zennic {
namespace {

using MixerControlRoutes = testing::MixerApiFixture;

std::vector<std::string> Names(const JsonValue& devices) {
  std::vector<std::string> names;
  for (const JsonValue& device : devices.array_value) names.push_back(device.GetString("name", ""));
  return names;
}

TEST_F(MixerControlRoutes, DevicesOfferNoCableEndpointAsMicrophone) {
  StartProgram();
  Reply devices = Post("/api/mixer/devices");
  ASSERT_EQ(devices.status, 200) << devices.raw;
  EXPECT_EQ(Names(devices.body["inputs"]), std::vector<std::string>{"Microphone (Virtual)"});
  std::vector<std::string> outputs = Names(devices.body["outputs"]);
  EXPECT_NE(std::find(outputs.begin(), outputs.end(), "CABLE Input"), outputs.end());
  EXPECT_TRUE(devices.body.GetBool("vb_cable_detected", false));
  StopProgram();
}

}  // namespace
}  // namespace zennic
