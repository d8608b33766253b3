#include "engine/mixer_device_choice.h"

#include <gtest/gtest.h>

#include "model/runtime_state.h"

namespace zennic {
namespace {

MixerDeviceList Devices(std::vector<std::string> inputs, std::vector<std::string> outputs) {
  MixerDeviceList list;
  for (const auto& name : inputs) {
    list.inputs.push_back({static_cast<int32_t>(list.inputs.size()), name, "capture:" + name});
  }
  for (const auto& name : outputs) {
    list.outputs.push_back({static_cast<int32_t>(list.outputs.size()), name, "render:" + name});
  }
  return list;
}

RuntimeSnapshot Saved(const std::string& mic, const std::string& out, const std::string& monitor,
                      bool monitor_enabled = true) {
  RuntimeSnapshot snapshot;
  snapshot.settings.mic_name = mic;
  snapshot.settings.out_name = out;
  snapshot.settings.monitor_name = monitor;
  snapshot.settings.monitor_enabled = monitor_enabled;
  return snapshot;
}

const std::string kCable = "CABLE Input (VB-Audio Virtual Cable)";
const std::string kSpeakers = "Speakers (Realtek Audio)";

TEST(MixerDeviceChoice, TheCableIsTheMixOutputAndASpeakerTheMonitor) {
  MixerDeviceChoice choice = ChooseMixerDevices(
      Devices({"Microphone (USB Audio)"}, {kSpeakers, kCable}), Saved("", "", ""), {});
  EXPECT_EQ(choice.output.name, kCable);
  EXPECT_EQ(choice.monitor.name, kSpeakers);
  EXPECT_TRUE(choice.monitor_enabled);
  EXPECT_TRUE(choice.notes.empty());
}

TEST(MixerDeviceChoice, OnlyACableMeansNoMonitorAndSaysSoWhenOneWasSaved) {
  MixerDeviceChoice choice =
      ChooseMixerDevices(Devices({}, {kCable}), Saved("", kCable, "Headphones (USB)"), {});
  EXPECT_EQ(choice.output.name, kCable);
  EXPECT_FALSE(choice.monitor.usable);
  EXPECT_FALSE(choice.monitor_enabled);
  EXPECT_FALSE(choice.microphone.usable);
  EXPECT_EQ(choice.notes, (std::vector<std::string>{
                              "Saved monitor device Headphones (USB) was unavailable. Monitor "
                              "output was disabled because no separate speaker or headphone "
                              "device was found."}));

  // Without a cable the only output carries the mix.
  choice = ChooseMixerDevices(Devices({}, {kSpeakers}), Saved("", "", ""), {});
  EXPECT_EQ(choice.output.name, kSpeakers);
  EXPECT_FALSE(choice.monitor.usable);

  EXPECT_FALSE(ChooseMixerDevices(Devices({"Mic"}, {}), Saved("", "", ""), {}).output.usable);
}

TEST(MixerDeviceChoice, TheCablesOwnEndpointsAreNeverTheMicrophone) {
  MixerDeviceList devices =
      Devices({"CABLE Output (VB-Audio Virtual Cable)", "Microphone (USB Audio)"}, {kCable});
  MixerDeviceSelection request;
  request.microphone_index = 0;
  RuntimeSnapshot snapshot = Saved("CABLE Output (VB-Audio Virtual Cable)", "", "");
  snapshot.mic_index = 0;
  EXPECT_EQ(ChooseMixerDevices(devices, snapshot, request).microphone.name,
            "Microphone (USB Audio)");

  // Only cable endpoints: no microphone at all, and the run goes on without one.
  MixerDeviceChoice choice =
      ChooseMixerDevices(Devices({"CABLE Output", "CABLE In 16 Ch"}, {kCable}), snapshot, {});
  EXPECT_FALSE(choice.microphone.usable);
  EXPECT_TRUE(choice.output.usable);
}

TEST(MixerDeviceChoice, RequestBeatsStoredIndexBeatsSavedNameBeatsAName) {
  MixerDeviceList devices = Devices({"Line In", "Headset Mic", "Webcam"}, {kCable, kSpeakers});
  RuntimeSnapshot snapshot = Saved("", "", "");
  snapshot.mic_index = 0;
  EXPECT_EQ(ChooseMixerDevices(devices, snapshot, {}).microphone.name, "Line In");
  // A stored index whose device is not the one saved by name has shifted: the name wins.
  snapshot.settings.mic_name = "webcam";
  EXPECT_EQ(ChooseMixerDevices(devices, snapshot, {}).microphone.name, "Webcam");
  MixerDeviceSelection request;
  request.microphone_index = 1;
  EXPECT_EQ(ChooseMixerDevices(devices, snapshot, request).microphone.name, "Headset Mic");
  // Nothing saved: the first input named as a microphone.
  EXPECT_EQ(ChooseMixerDevices(devices, Saved("", "", ""), {}).microphone.name, "Headset Mic");
  // An index no longer present is passed over.
  request.microphone_index = 9;
  snapshot.mic_index.reset();
  EXPECT_EQ(ChooseMixerDevices(devices, snapshot, request).microphone.name, "Webcam");
}

TEST(MixerDeviceChoice, SubstitutionsAreNotedUnlessOnlyCaseAndSpacesDiffer) {
  MixerDeviceList devices = Devices({"Microphone (USB Audio)"}, {kCable, kSpeakers});
  MixerDeviceChoice same = ChooseMixerDevices(
      devices, Saved("microphone(usb audio)", "CABLE  Input (VB-Audio Virtual Cable)", kSpeakers), {});
  EXPECT_TRUE(same.notes.empty());

  MixerDeviceChoice moved =
      ChooseMixerDevices(devices, Saved("Studio Mic", "Old Cable", "Old Headphones"), {});
  EXPECT_EQ(moved.notes,
            (std::vector<std::string>{
                "Saved microphone device Studio Mic was unavailable. Using Microphone (USB "
                "Audio) instead.",
                "Saved output device Old Cable was unavailable. Using " + kCable + " instead.",
                "Saved monitor device Old Headphones was unavailable. Using " + kSpeakers +
                    " instead."}));
}

TEST(MixerDeviceChoice, TheMonitorAvoidsTheOutputUnlessAskedForByIndex) {
  MixerDeviceList devices = Devices({}, {kCable, "HDMI Display", "Headphones (USB)"});
  MixerDeviceChoice choice = ChooseMixerDevices(devices, Saved("", "", ""), {});
  EXPECT_EQ(choice.monitor.name, "Headphones (USB)");

  MixerDeviceSelection request;
  request.monitor_index = 0;
  request.monitor_enabled = false;
  choice = ChooseMixerDevices(devices, Saved("", "", ""), request);
  EXPECT_EQ(choice.monitor.index, choice.output.index);
  EXPECT_FALSE(choice.monitor_enabled);

  // No physical name: the first non-cable output, then anything but the output.
  choice = ChooseMixerDevices(Devices({}, {kCable, "HDMI Display"}), Saved("", "", ""), {});
  EXPECT_EQ(choice.monitor.name, "HDMI Display");
  choice = ChooseMixerDevices(Devices({}, {kCable, "CABLE-A Input"}), Saved("", "", ""), {});
  EXPECT_EQ(choice.monitor.name, "CABLE-A Input");
}

TEST(MixerDeviceList, TheJsonFormKeepsEndpointIdsInside) {
  MixerDeviceList list = Devices({"Mic"}, {kCable});
  list.vb_cable_detected = true;
  EXPECT_EQ(MixerDeviceListToJson(list).Serialize(0),
            "{\"inputs\":[{\"index\":0,\"name\":\"Mic\"}],\"outputs\":[{\"index\":0,\"name\":\"" +
                kCable + "\"}],\"vb_cable_detected\":true}");
}

TEST(MixerDeviceNames, CableAndPhysicalNamesAreRecognisedInAnyCase) {
  EXPECT_TRUE(IsVirtualCableName("VB Audio Point"));
  EXPECT_TRUE(IsVirtualCableName("Hi-Fi Cable Input"));
  EXPECT_FALSE(IsVirtualCableName("Speakers"));
  EXPECT_TRUE(IsPhysicalOutputName("USB HEADSET"));
  EXPECT_TRUE(IsPhysicalOutputName("Earphones"));
  EXPECT_FALSE(IsPhysicalOutputName("HDMI Display"));
  EXPECT_FALSE(DeviceNamesMatch("", ""));
  EXPECT_EQ(FindMixerDeviceByName(Devices({"A"}, {}).inputs, ""), nullptr);
}

}  // namespace
}  // namespace zennic
