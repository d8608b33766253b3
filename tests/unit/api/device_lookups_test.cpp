// The lookups the handlers share: devices by index or name, and when the verified cable pair
// still stands.

#include "api/device_lookups.h"

#include <gtest/gtest.h>

#include <tuple>

namespace zennic {
namespace {

const std::vector<MixerDeviceInfo> kInputs = {
    {0, "Microphone (USB)", "in:usb"},
    {1, "", "in:blank"},
    {3, "CABLE Output", "in:cable"},
};

TEST(DeviceLookups, AnIndexWinsAndANameMatchesWithoutCaseOrSpaces) {
  struct Case {
    std::optional<int32_t> index;
    std::string name;
    std::optional<std::string> found_id;
  };
  const Case cases[] = {
      {3, "Microphone (USB)", "in:cable"},  // the index wins over the name
      {7, "microphone(usb)", "in:usb"},     // no device 7: the name decides
      {std::nullopt, "  MICROPHONE  (usb) ", "in:usb"},
      {std::nullopt, "", std::nullopt},     // not even the device without a name
      {std::nullopt, " \t", std::nullopt},
      {std::nullopt, "Speakers", std::nullopt},
  };
  for (const Case& c : cases) {
    std::optional<MixerDeviceInfo> found = FindDevice(kInputs, c.index, c.name);
    EXPECT_EQ(found ? std::optional<std::string>(found->id) : std::nullopt, c.found_id)
        << c.name;
  }
  EXPECT_EQ(FindDeviceByName(kInputs, "cable  output"), 3);
  EXPECT_EQ(FindDeviceByName(kInputs, " "), std::nullopt);
}

MixerSettings VerifiedSettings() {
  MixerSettings settings;
  settings.audio_management_enabled = true;
  settings.audio_management_consent_granted = true;
  settings.out_name = "CABLE Input";
  settings.verified_game_voice_output_id = "out:cable";
  settings.verified_game_voice_output_name = "CABLE Input";
  settings.verified_game_voice_input_id = "in:cable";
  settings.verified_game_voice_input_name = "CABLE Output";
  return settings;
}

TEST(DeviceLookups, TheVerifiedPathNeedsConsentBothCableSidesAndTheSameOutput) {
  using Edit = void (*)(MixerSettings&);
  const std::tuple<const char*, Edit, const char*> cases[] = {
      {"management off", [](MixerSettings& s) { s.audio_management_enabled = false; },
       "windows_input_switching_off"},
      {"no consent", [](MixerSettings& s) { s.audio_management_consent_granted = false; },
       "windows_input_switching_off"},
      {"no output id", [](MixerSettings& s) { s.verified_game_voice_output_id.clear(); },
       "verified_cable_required"},
      {"no input id", [](MixerSettings& s) { s.verified_game_voice_input_id.clear(); },
       "verified_cable_required"},
      {"sides swapped",
       [](MixerSettings& s) {
         std::swap(s.verified_game_voice_output_name, s.verified_game_voice_input_name);
       },
       "verified_cable_required"},
      {"16-channel output as playback",
       [](MixerSettings& s) { s.verified_game_voice_output_name = "CABLE Out 16 Ch"; },
       "verified_cable_required"},
      {"another output chosen", [](MixerSettings& s) { s.out_name = "Speakers"; },
       "verified_output_changed"},
      {"another output and switching off",
       [](MixerSettings& s) {
         s.out_name = "Speakers";
         s.audio_management_enabled = false;
       },
       "verified_output_changed"},
  };
  EXPECT_TRUE(IsVerifiedVoicePathUsable(VerifiedSettings()));
  MixerSettings respelled = VerifiedSettings();
  respelled.out_name = " cable   INPUT";
  EXPECT_TRUE(IsVerifiedVoicePathUsable(respelled));
  for (const auto& [label, edit, problem] : cases) {
    MixerSettings settings = VerifiedSettings();
    edit(settings);
    EXPECT_FALSE(IsVerifiedVoicePathUsable(settings)) << label;
    EXPECT_EQ(VerifiedVoicePathProblem(settings), problem) << label;
  }
}

TEST(DeviceLookups, CableEndpointsCountOnlyWhileTheirIdAndNameBothStillFit) {
  MixerSettings settings = VerifiedSettings();
  EXPECT_TRUE(FindVerifiedCablePlayback({{AudioFlow::kRender, "out:cable", "CABLE Input"}},
                                        settings));
  EXPECT_FALSE(FindVerifiedCablePlayback({{AudioFlow::kRender, "out:cable", "Speakers"}},
                                         settings))
      << "renamed away from the cable";
  EXPECT_FALSE(FindVerifiedCablePlayback({{AudioFlow::kRender, "out:other", "CABLE Input"}},
                                         settings));

  EXPECT_TRUE(HasCableRecordingDevice(kInputs, "in:cable"));
  EXPECT_FALSE(HasCableRecordingDevice(kInputs, "in:usb"));

  MixerDeviceList devices{kInputs, {{0, "CABLE In 16 Ch", "out:cable"}}, true};
  CablePairDevices stored = FindCablePairDevices(devices, "out:cable", "in:cable");
  ASSERT_TRUE(stored.playback && stored.recording);
  EXPECT_EQ(stored.recording->index, 3);
  devices.outputs[0].name = "Speakers";
  EXPECT_FALSE(FindCablePairDevices(devices, "out:cable", "in:cable").playback);

  EXPECT_TRUE(IsCableDeviceName("cable out 16 ch"));
  EXPECT_FALSE(IsCableDeviceName("My cable input"));
}

}  // namespace
}  // namespace zennic
