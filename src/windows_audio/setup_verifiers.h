#pragma once

#include <memory>
#include <string>
#include <vector>

#include "engine/mixer_device_info.h"
#include "platform/audio_system.h"

namespace zennic {

// The two live checks of the setup check: the virtual cable carries sound from its playback side
// to a recording side, and the microphone delivers a signal. Each sits behind an interface so
// the API can be given other implementations; every failure is a field of the result, never an
// exception.

struct GameVoicePathVerificationRequest {
  MixerDeviceInfo selected_playback;  // "Send to game"
  std::vector<MixerDeviceInfo> playback_devices;
  std::vector<MixerDeviceInfo> recording_devices;
};

// One tested playback/recording pair.
struct GameVoicePathCandidateDiagnostic {
  std::string playback_id;
  std::string playback_name;
  std::string capture_id;
  std::string capture_name;
  bool attempted = true;
  bool opened = false;  // both endpoints opened and the loopback ran to its end
  bool signal_detected = false;
  bool frequency_signature_detected = false;  // always equal to signal_detected
  double peak_dbfs = -120.0;
  double rms_dbfs = -120.0;
  std::string failure_code;
  std::string failure_message;
  std::string technical_error;  // "code" or "code (0x........)"
};

struct GameVoicePathVerificationResult {
  bool attempted = false;  // some pair was handed to the tester
  bool verified = false;   // the selected playback device carried the signal
  std::string selected_playback_id;
  std::string selected_playback_name;
  std::string matching_recording_id;
  std::string matching_recording_name;
  // Another CABLE Input pair that carried the signal when the selected one did not.
  std::string suggested_playback_id;
  std::string suggested_playback_name;
  std::string suggested_recording_id;
  std::string suggested_recording_name;
  std::string failure_code;
  std::string failure_message;
  std::vector<GameVoicePathCandidateDiagnostic> candidates;  // in test order
};

struct MicrophoneSignalVerificationResult {
  bool attempted = false;   // a capture was started
  bool accessible = false;  // the endpoint opened and its capture started
  bool signal_detected = false;
  double peak_dbfs = -120.0;
  double rms_dbfs = -120.0;
  std::string microphone_id;
  std::string microphone_name;
  std::string error_code;
};

class GameVoicePathVerifier {
 public:
  virtual ~GameVoicePathVerifier() = default;
  virtual GameVoicePathVerificationResult Verify(
      const GameVoicePathVerificationRequest& request) = 0;
};

class MicrophoneSignalVerifier {
 public:
  virtual ~MicrophoneSignalVerifier() = default;
  virtual MicrophoneSignalVerificationResult Verify(const MixerDeviceInfo& microphone,
                                                    int duration_ms) = 0;
};

// The shipped implementations on the system's audio service (or the given one).
std::unique_ptr<GameVoicePathVerifier> CreateGameVoicePathVerifier(
    AudioSystemFactory audio_systems = ConnectAudioSystem);
std::unique_ptr<MicrophoneSignalVerifier> CreateMicrophoneSignalVerifier(
    AudioSystemFactory audio_systems = ConnectAudioSystem);

}  // namespace zennic
