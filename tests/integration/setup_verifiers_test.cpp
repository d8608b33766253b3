// The cable and microphone checks on a private PulseAudio server whose cable really carries what
// is played into it: the two tones are found in every stream format a cable may have, a format
// no shared stream takes fails to open, and the microphone is heard or found silent.

#include "windows_audio/setup_verifiers.h"

#include <gtest/gtest.h>

#include "engine/mixer_device_choice.h"
#include "support/private_audio_server.h"

namespace zennic {
namespace {

constexpr double kTestSignalDbfs = -25.2;     // the tones' amplitude of 0.055
constexpr double kTestMicrophoneDbfs = -6.0;  // its 440 Hz sine at 0.5

class SetupVerifiersTest : public ::testing::Test {
 protected:
  MixerDeviceInfo Device(const std::vector<MixerDeviceInfo>& devices, const std::string& name) {
    for (const MixerDeviceInfo& device : devices) {
      if (device.name == name) return device;
    }
    ADD_FAILURE() << "no device " << name;
    return {};
  }

  // The playback device `input` tested against the recording device `output` alone.
  GameVoicePathVerificationResult VerifyCable(const std::string& input, const std::string& output) {
    MixerDeviceList devices = EnumerateMixerDevices(ConnectAudioSystem);
    GameVoicePathVerificationRequest request{
        Device(devices.outputs, input), devices.outputs, {Device(devices.inputs, output)}};
    return CreateGameVoicePathVerifier()->Verify(request);
  }

  MicrophoneSignalVerificationResult VerifyMicrophone(const std::string& name) {
    MixerDeviceList devices = EnumerateMixerDevices(ConnectAudioSystem);
    return CreateMicrophoneSignalVerifier()->Verify(Device(devices.inputs, name), 500);
  }

  testing::PrivateAudioServer server_;
};

TEST_F(SetupVerifiersTest, TheTonesCrossCablesOfEveryStreamFormat) {
  struct Cable {
    const char* name;
    const char* options;
  };
  const Cable cables[] = {{"44k", "rate=44100"},
                          {"float", "format=float32le"},
                          {"24bit", "format=s24le"},
                          {"16ch", "format=s32le channels=16"}};
  for (const Cable& cable : cables) {
    server_.AddCable(std::string("cable_") + cable.name, std::string("cable_out_") + cable.name,
                     std::string("CABLE In ") + cable.name, std::string("CABLE Out ") + cable.name,
                     cable.options);
  }
  std::vector<std::pair<std::string, std::string>> pairs = {{"CABLE Input", "CABLE Output"}};
  for (const Cable& cable : cables) {
    pairs.emplace_back(std::string("CABLE In ") + cable.name,
                       std::string("CABLE Out ") + cable.name);
  }
  for (const auto& [input, output] : pairs) {
    GameVoicePathVerificationResult result = VerifyCable(input, output);
    EXPECT_TRUE(result.verified) << input << ": " << result.failure_code;
    EXPECT_EQ(result.matching_recording_name, output);
    ASSERT_EQ(result.candidates.size(), 1u) << input;
    EXPECT_NEAR(result.candidates[0].peak_dbfs, kTestSignalDbfs, 1.0) << input;
    EXPECT_EQ(result.candidates[0].technical_error, "") << input;
  }
}

TEST_F(SetupVerifiersTest, AnEightBitCableFailsToOpenOnEveryPair) {
  server_.UnloadModuleWith("sink_name=cable_input");
  server_.AddCable("cable_input", "cable_output", "CABLE Input", "CABLE Output",
                   "format=u8 rate=48000");
  server_.AddCable("cable_8bit", "cable_out_8bit", "CABLE In 8 Bit", "CABLE Out 8 Bit",
                   "format=u8 rate=48000");
  if (server_.Pactl("list short sinks").find("u8 2ch") == std::string::npos) {
    GTEST_SKIP() << "this server has no 8-bit device: it converts every stream to its own format";
  }
  MixerDeviceList devices = EnumerateMixerDevices(ConnectAudioSystem);
  GameVoicePathVerificationResult result = CreateGameVoicePathVerifier()->Verify(
      {Device(devices.outputs, "CABLE Input"), devices.outputs, devices.inputs});
  EXPECT_FALSE(result.verified);
  EXPECT_EQ(result.failure_code, "endpoint_unavailable");
  ASSERT_EQ(result.candidates.size(), 4u);
  for (const GameVoicePathCandidateDiagnostic& candidate : result.candidates) {
    EXPECT_FALSE(candidate.opened);
    EXPECT_EQ(candidate.failure_code, "endpoint_open_failed");
    EXPECT_EQ(candidate.technical_error, "unsupported_audio_mix_format");
  }
}

TEST_F(SetupVerifiersTest, TheMicrophoneIsHeardUnlessItIsSilent) {
  MicrophoneSignalVerificationResult heard = VerifyMicrophone("Microphone (Virtual)");
  EXPECT_TRUE(heard.attempted && heard.accessible && heard.signal_detected);
  EXPECT_NEAR(heard.peak_dbfs, kTestMicrophoneDbfs, 1.0);
  EXPECT_EQ(heard.error_code, "");

  server_.Pactl("set-source-mute test_microphone 1");
  MicrophoneSignalVerificationResult silent = VerifyMicrophone("Microphone (Virtual)");
  EXPECT_TRUE(silent.accessible);
  EXPECT_FALSE(silent.signal_detected);
  EXPECT_EQ(silent.error_code, "no_microphone_signal");
  EXPECT_EQ(silent.peak_dbfs, -120.0);

  MicrophoneSignalVerificationResult gone =
      CreateMicrophoneSignalVerifier()->Verify({0, "USB Microphone", "capture:unplugged"}, 500);
  EXPECT_TRUE(gone.attempted);
  EXPECT_FALSE(gone.accessible);
  EXPECT_EQ(gone.error_code, "microphone_unavailable");
}

}  // namespace
}  // namespace zennic
