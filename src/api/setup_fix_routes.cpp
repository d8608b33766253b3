// The two fixes the setup check offers: use the working cable pair it found, or store the
// verified pair so that mixer starts switch the default input to it. Neither changes a default.

#include <algorithm>

#include "api/device_lookups.h"
#include "api/http_api.h"
#include "model/mixer_settings_json.h"
#include "model/runtime_state.h"
#include "core/text.h"
#include "server/json_envelope.h"
#include "windows_audio/endpoint_rules.h"
#include "windows_audio/windows_audio_manager.h"

namespace zennic {
namespace {

constexpr char kDevicesUnchecked[] = "Windows audio devices could not be checked.";

}  // namespace

void HttpApi::RegisterSetupFixRoutes() {
  routes_.emplace("/api/mixer/audio/use-recommended-cable",
                  [this](const JsonValue&) { return HandleAudioUseRecommendedCable(); });
  routes_.emplace("/api/mixer/audio/fix-windows-input",
                  [this](const JsonValue&) { return HandleAudioFixWindowsInput(); });
}

HttpResponse HttpApi::HandleAudioUseRecommendedCable() {
  std::lock_guard audio(audio_mutex_);
  LastSelfTestOutcome& outcome = last_self_test_;
  if (outcome.recommended_playback_id.empty() || outcome.recommended_recording_id.empty()) {
    return ApiRefusal(
        409, "recommended_cable_required",
        "Run the Ruzerad audio path test and confirm the working CABLE recommendation "
        "first.");
  }
  MixerDeviceList devices;
  bool enumerated = false;
  std::string error;
  if (!EnumerateDevices(&devices, &enumerated, &error) || !enumerated) {
    return ApiRefusal(500, "device_enumeration_failed", error, kDevicesUnchecked);
  }
  CablePairDevices pair = FindCablePairDevices(devices, outcome.recommended_playback_id,
                                               outcome.recommended_recording_id);
  if (!pair.playback || !pair.recording) {
    outcome.ForgetRecommendation();
    return ApiRefusal(409, "recommended_cable_unavailable",
                      "The working VB-CABLE pair is no longer available. Refresh Audio Devices and "
                      "run Step 2 again.");
  }
  const MixerDeviceInfo& playback = *pair.playback;
  const MixerDeviceInfo& recording = *pair.recording;
  error.clear();
  if (!config_.runtime_state->MutateSettings(
          [&](MixerSettings& settings) {
            settings.out_name = settings.verified_game_voice_output_name = playback.name;
            settings.verified_game_voice_output_id = playback.id;
            settings.verified_game_voice_input_id = recording.id;
            settings.verified_game_voice_input_name = recording.name;
          },
          true, &error)) {
    return ApiRefusal(500, "settings_save_failed", error,
                      "Ruzerad could not save the working VB-CABLE pair.");
  }
  outcome.ForgetRecommendation();
  JsonValue reply = JsonValue::MakeObject();
  reply["selection_updated"] = true;
  reply["verified_pair_saved"] = true;
  reply["selected_playback_id"] = playback.id;
  reply["selected_playback_name"] = playback.name;
  reply["verified_capture_id"] = recording.id;
  reply["verified_capture_name"] = recording.name;
  reply["windows_default_input_changed"] = false;
  reply["windows_default_output_changed"] = false;
  reply["settings"] = MixerSettingsToJson(config_.runtime_state->GetSettings());
  return MakeJsonResponse(reply);
}

HttpResponse HttpApi::HandleAudioFixWindowsInput() {
  std::lock_guard audio(audio_mutex_);
  LastSelfTestOutcome& outcome = last_self_test_;
  if (!outcome.stored || outcome.tested_playback_id.empty() ||
      outcome.matching_recording_id.empty()) {
    return ApiRefusal(409, "verified_cable_required",
                      "Run Full Setup Check and verify the game voice path before fixing Windows "
                      "input.");
  }
  WindowsAudioManager* manager = config_.windows_audio_manager;
  if (manager == nullptr) {
    return ApiRefusal(500, "audio_management_unavailable",
                      "Windows audio management is unavailable.");
  }
  RuntimeSnapshot snapshot = config_.runtime_state->GetSnapshot();
  if (snapshot.mixer_running) {
    return ApiRefusal(409, "mixer_running",
                      "Stop the mixer before changing its automatic Windows input setup.");
  }
  WindowsAudioStatus status;
  bool status_read = manager->GetStatus(&status);
  std::vector<AudioRoleEndpoint> defaults;
  bool defaults_read = manager->GetDefaultEndpoints(&defaults, nullptr);
  if (AudioRecoveryRequired(status_read ? &status : nullptr, defaults_read ? &defaults : nullptr,
                            false)) {
    outcome.ForgetTestedPair();
    return ApiRefusal(409, "audio_recovery_required",
                      "Restore My Sound before fixing Windows input.");
  }
  std::string chosen_output = NormalizeChoiceKey(snapshot.settings.out_name);
  if (chosen_output.empty() || chosen_output != NormalizeChoiceKey(outcome.tested_playback_name)) {
    outcome.stored = false;
    return ApiRefusal(409, "verified_cable_required",
                      "The selected Send to game device changed. Run Full Setup Check again.");
  }
  std::vector<AudioEndpointInfo> playback_endpoints;
  std::string error;
  if (!manager->EnumerateEndpoints(AudioFlow::kRender, &playback_endpoints, &error)) {
    return ApiRefusal(500, "audio_management_unavailable", error, kDevicesUnchecked);
  }
  auto playback = std::find_if(
      playback_endpoints.begin(), playback_endpoints.end(), [&](const AudioEndpointInfo& endpoint) {
        return endpoint.id == outcome.tested_playback_id && IsCableInputDeviceName(endpoint.name);
      });
  if (playback == playback_endpoints.end()) {
    outcome.stored = false;
    return ApiRefusal(
        409, "verified_cable_unavailable",
        "The verified CABLE Input is no longer available. Run Full Setup Check again.");
  }
  std::string recording_name;
  bool unavailable = false;
  error.clear();
  if (!manager->ResolveVerifiedCableOutput(outcome.matching_recording_id,
                                           outcome.matching_recording_name, &recording_name, &error,
                                           &unavailable)) {
    outcome.ForgetTestedPair();
    if (unavailable) {
      return ApiRefusal(409, "verified_cable_unavailable", error,
                        "The verified CABLE Output is no longer available. Run Full Setup Check "
                        "again.");
    }
    return ApiRefusal(500, "audio_management_unavailable", error, kDevicesUnchecked);
  }
  error.clear();
  if (!config_.runtime_state->MutateSettings(
          [&](MixerSettings& settings) {
            settings.verified_game_voice_output_id = playback->id;
            settings.verified_game_voice_output_name = playback->name;
            settings.verified_game_voice_input_id = outcome.matching_recording_id;
            settings.verified_game_voice_input_name = recording_name;
            settings.audio_management_enabled = true;
            settings.audio_management_consent_granted = true;
          },
          true, &error)) {
    return ApiRefusal(500, "settings_save_failed", error,
                      "Ruzerad could not save the automatic Windows input setup.");
  }
  outcome.stored = false;
  JsonValue reply = JsonValue::MakeObject();
  reply["fixed"] = true;
  reply["configured"] = true;
  reply["session_managed"] = true;
  reply["windows_input_changed"] = false;
  reply["windows_default_input_name"] = status.current_default_input_name;
  reply["verified_input_name"] = recording_name;
  reply["steam_settings_changed"] = false;
  reply["windows_output_changed"] = false;
  reply["settings"] = MixerSettingsToJson(config_.runtime_state->GetSettings());
  return MakeJsonResponse(reply);
}

}  // namespace zennic
