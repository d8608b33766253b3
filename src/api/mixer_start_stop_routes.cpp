#include <algorithm>

#include "api/device_lookups.h"
#include "api/http_api.h"
#include "engine/cable_device_names.h"
#include "engine/mixer_engine.h"
#include "model/mixer_settings_json.h"
#include "model/runtime_state.h"
#include "server/json_envelope.h"
#include "windows_audio/windows_audio_manager.h"

namespace zennic {
namespace {

constexpr char kDevicesUnchecked[] = "Windows audio devices could not be checked.";
constexpr char kVerifiedCableUnavailable[] = "verified_cable_unavailable";
constexpr char kNoCableMessage[] =
    "VB-CABLE is not installed. Install it, restart Windows, then refresh the devices.";
constexpr char kMicrophoneIsCable[] =
    "CABLE Output / CABLE Out is the game voice endpoint, not Your microphone. Select a physical "
    "microphone.";

// The microphone the start would use: the one asked for, else the saved one. When none can be
// found, the saved name alone decides.
bool MicrophoneIsCable(const MixerDeviceList& devices, std::optional<int32_t> requested,
                       const RuntimeSnapshot& snapshot) {
  std::optional<MixerDeviceInfo> microphone = FindDevice(devices.inputs, requested, "");
  if (!microphone) {
    microphone = FindDevice(devices.inputs, snapshot.mic_index, snapshot.settings.mic_name);
  }
  return IsCableDeviceName(microphone ? microphone->name : snapshot.settings.mic_name);
}

// A start refused for the verified path says which part of it is missing.
std::string VerifiedVoicePathProblemMessage(const std::string& problem) {
  if (problem == "verified_output_changed") {
    return "The selected Send to game device is not the CABLE Input that passed the Full Setup "
           "Check. Choose it again, or run Full Setup Check for the new device.";
  }
  if (problem == "windows_input_switching_off") {
    return "Windows input switching is off. Turn on Windows Audio Management to start the mixer.";
  }
  return "Ruzerad needs one quick setup step before it can send clips to your game. Run Full "
         "Setup Check first.";
}

}  // namespace

void HttpApi::RegisterMixerStartStopRoutes() {
  routes_.emplace("/api/mixer/start", [this](const JsonValue& body) { return HandleStart(body); });
  routes_.emplace("/api/mixer/stop", [this](const JsonValue&) { return HandleStop(); });
}

HttpResponse HttpApi::HandleStart(const JsonValue& body) {
  std::lock_guard audio(audio_mutex_);
  MixerDeviceSelection selection;
  selection.microphone_index = JsonMemberInt32(body, "mic_device");
  selection.output_index = JsonMemberInt32(body, "out_device");
  selection.monitor_index = JsonMemberInt32(body, "monitor_device");
  if (const JsonValue* monitor = body.Find("monitor_enabled");
      monitor != nullptr && monitor->type == JsonValue::Type::Bool) {
    selection.monitor_enabled = monitor->bool_value;
  }

  RuntimeSnapshot snapshot = config_.runtime_state->GetSnapshot();
  if (snapshot.mixer_running) {
    JsonValue reply = JsonValue::MakeObject();
    reply["running"] = true;
    reply["already_running"] = true;
    reply["mixer"] = BuildStatusJson();
    reply["settings"] = MixerSettingsToJson(snapshot.settings);
    return MakeJsonResponse(reply);
  }

  MixerDeviceList devices;
  bool enumerated = false;
  std::string error;
  if (!EnumerateDevices(&devices, &enumerated, &error)) {
    return ApiRefusal(500, "device_enumeration_failed", error, kDevicesUnchecked);
  }
  if (MicrophoneIsCable(devices, selection.microphone_index, snapshot)) {
    return ApiRefusal(400, "microphone_invalid_cable_output", kMicrophoneIsCable);
  }

  std::vector<std::string> messages;
  bool session_begun = false;
  WindowsAudioManager* manager = config_.windows_audio_manager;
  if (manager != nullptr) {
    MixerSettings settings = config_.runtime_state->GetSettings();
    if (std::optional<HttpResponse> refusal = RefuseUnsafeStart(settings)) return *refusal;
    if (!manager->BeginCableSession(settings.monitor_name, settings.verified_game_voice_input_id,
                                    settings.verified_game_voice_input_name, &messages, &error)) {
      if (error == kAudioSessionActiveMessage) {
        return ApiRefusal(409, "audio_session_active", error);
      }
      if (error == kUnsafeAudioSnapshotMessage) {
        return ApiRefusal(409, "unsafe_audio_snapshot", error);
      }
      return ApiRefusal(400, "audio_management_failed", error,
                        "Windows audio settings could not be prepared for Ruzerad");
    }
    session_begun = true;
  }

  if (config_.mixer_engine == nullptr) {
    config_.runtime_state->SetDeviceIndices(selection.microphone_index, selection.output_index,
                                            selection.monitor_index);
    config_.runtime_state->SetMixerRunning(true);
  } else {
    std::vector<std::string> notes;
    error.clear();
    if (!config_.mixer_engine->Start(selection, &notes, &error)) {
      // The defaults go back to what they were before this start.
      std::string rollback_error;
      if (session_begun && !manager->RollbackCableSession(&rollback_error) &&
          !rollback_error.empty()) {
        error += " Windows audio rollback failed: " + rollback_error;
      }
      return ApiRefusal(400, "mixer_start_failed", error);
    }
    messages.insert(messages.end(), notes.begin(), notes.end());
  }

  RuntimeSnapshot started = config_.runtime_state->GetSnapshot();
  JsonValue reply = JsonValue::MakeObject();
  reply["running"] = true;
  reply["mixer"] = BuildStatusJson();
  reply["settings"] = MixerSettingsToJson(started.settings);
  reply["mic_index"] = DeviceIndexJson(started.mic_index);
  reply["out_index"] = DeviceIndexJson(started.out_index);
  reply["monitor_index"] = DeviceIndexJson(started.monitor_index);
  if (!messages.empty()) reply["messages"] = BuildStringArrayJson(messages);
  return MakeJsonResponse(reply);
}

std::optional<HttpResponse> HttpApi::RefuseUnsafeStart(const MixerSettings& settings) {
  WindowsAudioManager* manager = config_.windows_audio_manager;
  WindowsAudioStatus status;
  if (manager->GetStatus(&status)) {
    if (status.session_active) {
      return ApiRefusal(409, "audio_session_active", kAudioSessionActiveMessage);
    }
    if (status.current_default_output_is_cable || status.current_default_input_is_cable) {
      return ApiRefusal(409, "unsafe_audio_snapshot", kUnsafeAudioSnapshotMessage);
    }
  }
  std::vector<AudioEndpointInfo> playback;
  std::string error;
  bool listed = manager->EnumerateEndpoints(AudioFlow::kRender, &playback, &error);
  // Without any cable neither the setup check nor its result can help: the cable is named.
  if (listed && std::ranges::none_of(playback, [](const AudioEndpointInfo& endpoint) {
        return IsCableInputDeviceName(endpoint.name);
      })) {
    return AudioSetupRequiredResponse(kNoCableMessage, "vb_cable_missing");
  }
  if (std::string problem = VerifiedVoicePathProblem(settings); !problem.empty()) {
    return AudioSetupRequiredResponse(VerifiedVoicePathProblemMessage(problem), problem);
  }
  if (!listed) return ApiRefusal(400, "audio_management_failed", error, kDevicesUnchecked);
  if (!FindVerifiedCablePlayback(playback, settings)) {
    return AudioSetupRequiredResponse(
        "The verified CABLE Input is no longer available. Run Full Setup Check again.",
        kVerifiedCableUnavailable);
  }
  std::string current_name;
  bool unavailable = false;
  if (!manager->ResolveVerifiedCableOutput(settings.verified_game_voice_input_id,
                                           settings.verified_game_voice_input_name,
                                           &current_name, &error, &unavailable)) {
    if (error.empty()) {
      error = "The verified CABLE Output could not be checked. Run Full Setup Check again.";
    }
    if (unavailable) return AudioSetupRequiredResponse(error, kVerifiedCableUnavailable);
    return ApiRefusal(400, "audio_management_failed", error);
  }
  return std::nullopt;
}

HttpResponse HttpApi::HandleStop() {
  std::lock_guard audio(audio_mutex_);
  std::string error;
  if (config_.mixer_engine != nullptr) {
    // The cable is let go of before the defaults it served are put back.
    if (!config_.mixer_engine->Stop(&error)) return ApiRefusal(500, "mixer_stop_failed", error);
  } else {
    config_.runtime_state->SetVoiceKeyActive(false);
    config_.runtime_state->SetMixerRunning(false);
  }
  JsonValue reply = JsonValue::MakeObject();
  reply["running"] = false;
  if (config_.windows_audio_manager != nullptr) {
    AudioRestoreResult restored;
    if (!config_.windows_audio_manager->RestoreSession(&restored, &error)) {
      return ApiRefusal(500, "audio_restore_failed", error,
                        "Mixer stopped, but Windows audio settings could not be restored");
    }
    if (!restored.messages.empty()) reply["messages"] = BuildStringArrayJson(restored.messages);
  }
  return MakeJsonResponse(reply);
}

}  // namespace zennic
