// The Full Setup Check: one request answers whether the cable carries sound to the game and the
// microphone is heard, and says what the user should do next.

#include <algorithm>
#include <filesystem>

#include "api/device_lookups.h"
#include "api/http_api.h"
#include "model/key_catalog.h"
#include "core/paths.h"
#include "model/profile_service.h"
#include "model/runtime_state.h"
#include "core/text.h"
#include "server/json_envelope.h"
#include "sound_files/analyzer_service.h"
#include "windows_audio/endpoint_rules.h"
#include "windows_audio/game_voice_path_verifier.h"
#include "windows_audio/windows_audio_manager.h"

namespace zennic {

struct SelfTestClipCheck {
  bool selected = false;
  bool exists = false;
  bool playable = false;
  bool audible = false;
  std::string file_name;
  std::string compatibility_state;
  std::string volume_verdict;
  std::string error_code;
};

namespace {

constexpr int kDefaultMicrophoneCaptureMs = 5000;
constexpr int kShortestMicrophoneCaptureMs = 250;
constexpr char kDevicesUnchecked[] = "Windows audio devices could not be checked.";

// Every capture role's default is the verified recording endpoint, by id or else by name.
bool CaptureDefaultsMatch(const std::vector<AudioRoleEndpoint>& defaults, const std::string& id,
                          const std::string& name) {
  return std::all_of(kAudioRoleOrder.begin(), kAudioRoleOrder.end(), [&](AudioRole role) {
    const AudioRoleEndpoint* endpoint = FindRoleEndpoint(defaults, AudioFlow::kCapture, role);
    if (endpoint == nullptr || !endpoint->present) return false;
    return (!id.empty() && endpoint->id == id) ||
           (!NormalizeChoiceKey(name).empty() &&
            NormalizeChoiceKey(endpoint->name) == NormalizeChoiceKey(name));
  });
}

JsonValue BuildMicrophoneTestJson(const MicrophoneSignalVerificationResult& result) {
  JsonValue json = JsonValue::MakeObject();
  json["attempted"] = result.attempted;
  json["accessible"] = result.accessible;
  json["signal_detected"] = result.signal_detected;
  json["peak_dbfs"] = result.peak_dbfs;
  json["rms_dbfs"] = result.rms_dbfs;
  json["microphone_id"] = result.microphone_id;
  json["microphone_name"] = result.microphone_name;
  json["error_code"] = result.error_code;
  return json;
}

JsonValue BuildVoicePathTestJson(const GameVoicePathVerificationResult& result) {
  JsonValue json = JsonValue::MakeObject();
  json["ok"] = result.verified;
  json["attempted"] = result.attempted;
  json["verified"] = result.verified;
  json["selected_playback_id"] = result.selected_playback_id;
  json["selected_playback_name"] = result.selected_playback_name;
  json["matching_recording_id"] = result.matching_recording_id;
  json["matching_recording_name"] = result.matching_recording_name;
  json["suggested_playback_id"] = json["recommended_playback_id"] = result.suggested_playback_id;
  json["suggested_playback_name"] = json["recommended_playback_name"] =
      result.suggested_playback_name;
  json["suggested_recording_id"] = json["recommended_capture_id"] = result.suggested_recording_id;
  json["suggested_recording_name"] = json["recommended_capture_name"] =
      result.suggested_recording_name;
  json["error_code"] = json["failure_code"] = result.failure_code;
  json["failure_message"] = result.failure_message;
  JsonValue candidates = JsonValue::MakeArray();
  for (const GameVoicePathCandidateDiagnostic& candidate : result.candidates) {
    JsonValue entry = JsonValue::MakeObject();
    entry["playback_id"] = candidate.playback_id;
    entry["playback_name"] = candidate.playback_name;
    entry["capture_id"] = candidate.capture_id;
    entry["capture_name"] = candidate.capture_name;
    entry["attempted"] = candidate.attempted;
    entry["opened"] = candidate.opened;
    entry["signal_detected"] = candidate.signal_detected;
    entry["frequency_signature_detected"] = candidate.frequency_signature_detected;
    entry["peak_dbfs"] = candidate.peak_dbfs;
    entry["rms_dbfs"] = candidate.rms_dbfs;
    entry["failure_code"] = candidate.failure_code;
    entry["failure_message"] = candidate.failure_message;
    entry["technical_error"] = candidate.technical_error;
    candidates.PushBack(entry);
  }
  json["tested_capture_candidates"] = candidates;
  return json;
}

JsonValue BuildSelfTestStepJson(const std::string& id, const std::string& status, bool critical,
                                const std::string& detail,
                                const std::string& suggested_device_name = "") {
  JsonValue json = JsonValue::MakeObject();
  json["id"] = id;
  json["status"] = status;
  json["critical"] = critical;
  json["passed"] = status == "ok";
  json["skipped"] = status == "skipped";
  json["detail"] = detail;
  json["suggested_device_name"] = suggested_device_name;
  return json;
}

const char* OkOrFailed(bool ok) { return ok ? "ok" : "failed"; }

// Everything the check found, as the items, the verdict and the next step read it.
struct SelfTestFindings {
  std::string scope;
  bool microphone_in_scope = false;
  bool voice_path_in_scope = false;
  bool windows_input_scope = false;
  bool mixer_running = false;
  bool cable_detected = false;
  bool output_is_cable_input = false;
  std::string output_name;
  bool microphone_is_cable = false;
  MicrophoneSignalVerificationResult microphone;
  GameVoicePathVerificationResult voice_path;
  std::string current_input_name;
  std::string current_output_name;
  bool input_matches_verified = false;
  bool capture_defaults_physical = false;
  bool recovery_required = false;
  bool verified_capture_present = false;
  bool switching_configured = false;
  bool windows_input_ok = false;
  bool fix_available = false;
  bool monitor_enabled = false;
  bool monitor_ok = true;
  std::string monitor_detail;
  bool ptt_configured = false;
  bool voice_chat_configured = false;
  bool panic_configured = false;
};

bool CableDetected(const MixerDeviceList& devices) {
  return devices.vb_cable_detected ||
         std::any_of(devices.outputs.begin(), devices.outputs.end(),
                     [](const MixerDeviceInfo& device) {
                       return IsCableInputDeviceName(device.name);
                     }) ||
         std::any_of(devices.inputs.begin(), devices.inputs.end(),
                     [](const MixerDeviceInfo& device) {
                       return IsCableOutputDeviceName(device.name);
                     });
}

// The cable is never recorded as the microphone: it would only hear the program itself.
MicrophoneSignalVerificationResult CheckMicrophone(const SelfTestFindings& found,
                                                   const std::optional<MixerDeviceInfo>& microphone,
                                                   const std::string& saved_name,
                                                   MicrophoneSignalVerifier* verifier,
                                                   int capture_ms) {
  MicrophoneSignalVerificationResult result;
  if (found.microphone_is_cable) {
    result.microphone_name = microphone->name;
    result.error_code = "selected_microphone_is_virtual_cable";
  } else if (microphone && found.microphone_in_scope && verifier != nullptr) {
    result = verifier->Verify(*microphone, capture_ms);
  } else {
    result.microphone_name = microphone ? microphone->name : saved_name;
    result.error_code = !found.microphone_in_scope ? "not_run"
                        : microphone               ? "microphone_verifier_unavailable"
                                                   : "microphone_not_selected";
  }
  return result;
}

// Plays the tones when the voice path is in scope, and keeps a working other pair as the
// recommendation; the Windows-input scope re-checks the pair the last run verified against the
// devices, without tones.
GameVoicePathVerificationResult CheckVoicePath(const SelfTestFindings& found,
                                               const GameVoicePathVerificationRequest& request,
                                               const MixerDeviceList& devices,
                                               GameVoicePathVerifier* verifier,
                                               LastSelfTestOutcome* outcome) {
  GameVoicePathVerificationResult result;
  if (found.voice_path_in_scope && verifier != nullptr) {
    result = verifier->Verify(request);
    if (!result.suggested_playback_id.empty() && !result.suggested_recording_id.empty() &&
        IsCableInputDeviceName(result.suggested_playback_name) &&
        IsCableOutputDeviceName(result.suggested_recording_name)) {
      outcome->recommended_playback_id = result.suggested_playback_id;
      outcome->recommended_playback_name = result.suggested_playback_name;
      outcome->recommended_recording_id = result.suggested_recording_id;
      outcome->recommended_recording_name = result.suggested_recording_name;
    }
    return result;
  }
  if (found.windows_input_scope && !outcome->tested_playback_id.empty() &&
      !outcome->matching_recording_id.empty()) {
    CablePairDevices stored = FindCablePairDevices(devices, outcome->tested_playback_id,
                                                   outcome->matching_recording_id);
    if (stored.playback && stored.recording) {
      result.verified = true;
      result.selected_playback_id = stored.playback->id;
      result.selected_playback_name = stored.playback->name;
      result.matching_recording_id = stored.recording->id;
      result.matching_recording_name = stored.recording->name;
      return result;
    }
    result.failure_code = "verified_cable_unavailable";
  } else {
    result.selected_playback_id = request.selected_playback.id;
    result.selected_playback_name = request.selected_playback.name;
    result.failure_code = found.voice_path_in_scope ? "verifier_unavailable" : "not_run";
  }
  result.failure_message = VoicePathFailureMessage(result.failure_code);
  return result;
}

// Compares the Windows defaults and the saved pair with what the voice path found: whether the
// user must restore first, whether starts already switch the input, and whether the fix can.
void JudgeWindowsDefaults(WindowsAudioManager* manager, const MixerDeviceList& devices,
                          const MixerSettings& settings, SelfTestFindings* found) {
  const GameVoicePathVerificationResult& voice_path = found->voice_path;
  std::vector<AudioRoleEndpoint> defaults;
  std::string error;
  bool defaults_read = manager != nullptr && manager->GetDefaultEndpoints(&defaults, &error);
  found->input_matches_verified = voice_path.verified && defaults_read &&
                                  CaptureDefaultsMatch(defaults, voice_path.matching_recording_id,
                                                       voice_path.matching_recording_name);
  found->current_input_name =
      defaults_read ? EndpointNameForRole(defaults, AudioFlow::kCapture) : error;
  found->current_output_name =
      defaults_read ? EndpointNameForRole(defaults, AudioFlow::kRender) : error;
  found->capture_defaults_physical =
      defaults_read && RoleDefaultsPhysical(defaults, AudioFlow::kCapture);
  WindowsAudioStatus status;
  bool status_read = manager != nullptr && manager->GetStatus(&status);
  found->recovery_required = AudioRecoveryRequired(
      status_read ? &status : nullptr, defaults_read ? &defaults : nullptr, found->mixer_running);

  found->verified_capture_present =
      voice_path.verified && !voice_path.matching_recording_id.empty() &&
      IsCableOutputDeviceName(voice_path.matching_recording_name) &&
      HasCableRecordingDevice(devices.inputs, voice_path.matching_recording_id);
  found->switching_configured =
      found->verified_capture_present && IsVerifiedVoicePathUsable(settings) &&
      settings.verified_game_voice_output_id == voice_path.selected_playback_id &&
      settings.verified_game_voice_input_id == voice_path.matching_recording_id;
  found->windows_input_ok =
      found->mixer_running
          ? found->switching_configured && status.session_active && found->input_matches_verified
          : found->switching_configured && found->capture_defaults_physical;
  found->fix_available = !found->recovery_required && found->verified_capture_present &&
                         !found->mixer_running && found->capture_defaults_physical &&
                         !found->switching_configured;
}

// The devices and Windows carry sound to the game. The microphone and the clip are the user's
// own choices beside it: a first run has no clip yet, and its audio set-up is still complete.
bool AudioConfigurationReady(const SelfTestFindings& found) {
  return !found.recovery_required && found.output_is_cable_input && found.cable_detected &&
         found.voice_path.verified && found.windows_input_ok &&
         (!found.monitor_enabled || found.monitor_ok);
}

bool IsReady(const SelfTestFindings& found, bool selected_clip_playable) {
  return AudioConfigurationReady(found) && found.microphone.accessible &&
         found.microphone.signal_detected && selected_clip_playable;
}

std::string NextStep(const SelfTestFindings& found, bool selected_clip_playable) {
  if (found.recovery_required) return "restore_my_sound";
  if (!found.voice_path.suggested_playback_name.empty()) return "use_working_cable";
  // Without any cable there is no CABLE Input to choose: the cable is what is missing.
  if (!found.cable_detected) return "install_vb_cable";
  if (!found.output_is_cable_input) return "select_cable_output";
  if (found.fix_available) return "fix_windows_input";
  if (!found.windows_input_ok && found.voice_path.verified) return "set_windows_default_input";
  // A run that did not record the microphone knows nothing against it, unless it is the cable.
  if (found.microphone_in_scope || found.microphone_is_cable) {
    if (!found.microphone.accessible) return "select_microphone";
    if (!found.microphone.signal_detected) return "check_microphone_signal";
  }
  if (!selected_clip_playable) return "select_ptt_file";
  if (found.monitor_enabled && !found.monitor_ok) return "select_headphones";
  // Everything else works: what is left is to hear the microphone.
  if (!found.microphone_in_scope && found.voice_path.verified) return "check_microphone_signal";
  return "reinstall_vb_cable";
}

std::string PrimaryAction(const SelfTestFindings& found, bool ready) {
  if (ready) return "none";
  if (found.recovery_required) return "restore_my_sound";
  if (!found.microphone_is_cable) return found.fix_available ? "fix_it_for_me" : "manual_fallback";
  return "back_to_audio_devices";
}

std::string WindowsInputMode(const SelfTestFindings& found) {
  if (found.windows_input_ok && !found.mixer_running) return "managed_when_running";
  if (!found.input_matches_verified) {
    return found.recovery_required ? "restore_required" : "setup_required";
  }
  return "verified_active";
}

JsonValue BuildSelfTestJson(const SelfTestFindings& found, const MixerSettings& settings,
                            const SelfTestClipCheck& clip, const SelfTestClipCheck& panic_clip) {
  const GameVoicePathVerificationResult& voice_path = found.voice_path;
  bool voice_path_checked = found.voice_path_in_scope || found.windows_input_scope;
  JsonValue items = JsonValue::MakeArray();
  items.PushBack(BuildSelfTestStepJson("audio_safety", OkOrFailed(!found.recovery_required), true,
                                       found.current_output_name));
  JsonValue microphone_item = BuildSelfTestStepJson(
      "microphone",
      found.microphone_in_scope ? OkOrFailed(found.microphone.accessible) : "not_checked", true,
      found.microphone.microphone_name);
  microphone_item["mode"] =
      found.microphone_is_cable ? "invalid_cable_output" : "physical_microphone";
  items.PushBack(microphone_item);
  items.PushBack(BuildSelfTestStepJson(
      "microphone_signal",
      found.microphone_in_scope ? OkOrFailed(found.microphone.signal_detected) : "not_checked",
      true, ""));
  // Without any cable there is no CABLE Input to choose: the missing cable comes first, and the
  // output is not judged.
  JsonValue cable_item =
      BuildSelfTestStepJson("vb_cable", OkOrFailed(found.cable_detected), true, "");
  if (!found.cable_detected) items.PushBack(cable_item);
  items.PushBack(BuildSelfTestStepJson(
      "mixer_output",
      found.cable_detected ? OkOrFailed(found.output_is_cable_input) : "not_checked", true,
      found.output_name));
  if (found.cable_detected) items.PushBack(cable_item);
  items.PushBack(BuildSelfTestStepJson(
      "virtual_path", voice_path_checked ? OkOrFailed(voice_path.verified) : "not_checked", true,
      voice_path.verified ? voice_path.matching_recording_name : voice_path.selected_playback_name,
      voice_path.suggested_playback_name));
  JsonValue windows_input_item = BuildSelfTestStepJson(
      "windows_input", OkOrFailed(found.windows_input_ok), true, found.current_input_name);
  windows_input_item["mode"] = WindowsInputMode(found);
  items.PushBack(windows_input_item);
  items.PushBack(BuildSelfTestStepJson("monitor",
                                       !found.monitor_enabled ? "skipped"
                                       : found.monitor_ok     ? "warning"
                                                              : "failed",
                                       found.monitor_enabled && !found.monitor_ok,
                                       found.monitor_detail));
  items.PushBack(BuildSelfTestStepJson("ptt_hotkey",
                                       found.ptt_configured ? "not_checked" : "warning", false,
                                       settings.ptt_trigger_key.label));
  items.PushBack(BuildSelfTestStepJson("voice_chat_key",
                                       found.voice_chat_configured ? "not_checked" : "warning",
                                       false, settings.voice_chat_key.label));
  items.PushBack(
      BuildSelfTestStepJson("selected_file", OkOrFailed(clip.playable), true, clip.file_name));
  items.PushBack(BuildSelfTestStepJson(
      "panic_hotkey",
      found.panic_configured ? "not_checked"
      : panic_clip.selected  ? "warning"
                             : "skipped",
      false, found.panic_configured ? settings.panic_trigger_key->label : ""));
  items.PushBack(BuildSelfTestStepJson("panic_file",
                                       !panic_clip.selected  ? "skipped"
                                       : panic_clip.playable ? "ok"
                                                             : "warning",
                                       false, panic_clip.file_name));

  bool ready = IsReady(found, clip.playable);
  JsonValue reply = JsonValue::MakeObject();
  reply["test_scope"] = found.scope;
  reply["microphone_step_passed"] = found.microphone_in_scope && found.microphone.signal_detected;
  reply["voice_path_step_passed"] = voice_path_checked && voice_path.verified;
  reply["audio_configuration_ready"] = AudioConfigurationReady(found);
  reply["passed"] = reply["ready"] = ready;
  reply["result"] = ready ? "ready" : "not_ready";
  reply["next_step"] = ready ? "" : NextStep(found, clip.playable);
  reply["primary_action"] = PrimaryAction(found, ready);
  reply["items"] = items;
  reply["microphone_test"] = BuildMicrophoneTestJson(found.microphone);
  reply["virtual_path"] = BuildVoicePathTestJson(voice_path);
  reply["windows_default_input_matches_verified_path"] = found.input_matches_verified;
  reply["session_managed_switching_configured"] = found.switching_configured;
  reply["ready_to_start"] = !found.mixer_running && found.windows_input_ok;
  JsonValue fix = JsonValue::MakeObject();
  fix["available"] = found.fix_available;
  fix["current_input_name"] = found.current_input_name;
  fix["verified_input_name"] =
      found.verified_capture_present ? voice_path.matching_recording_name : "";
  fix["requires_audio_recovery"] = found.recovery_required;
  fix["configures_session_switching"] = true;
  fix["leaves_windows_input_unchanged"] = true;
  reply["windows_input_fix"] = fix;
  reply["selected_file_playable"] = clip.playable;
  reply["panic_file_playable"] = panic_clip.playable;
  reply["panic_optional"] = true;
  reply["audio_recovery_required"] = reply["recovery_required"] = found.recovery_required;
  reply["microphone_invalid_cable_output"] = found.microphone_is_cable;
  reply["setup_required"] = found.recovery_required || found.microphone_is_cable;
  JsonValue hotkeys = JsonValue::MakeObject();
  hotkeys["ptt_configured"] = found.ptt_configured;
  hotkeys["ptt_label"] = settings.ptt_trigger_key.label;
  hotkeys["panic_configured"] = found.panic_configured;
  hotkeys["panic_label"] = found.panic_configured ? settings.panic_trigger_key->label : "";
  hotkeys["voice_chat_configured"] = found.voice_chat_configured;
  hotkeys["voice_chat_label"] = settings.voice_chat_key.label;
  hotkeys["hold_voice_key_enabled"] = settings.hold_voice_key;
  reply["hotkeys"] = hotkeys;
  return reply;
}

}  // namespace

void HttpApi::RegisterSetupCheckRoute() {
  routes_.emplace("/api/mixer/audio/self-test",
                  [this](const JsonValue& body) { return HandleAudioSelfTest(body); });
}

SelfTestClipCheck HttpApi::CheckSelectedClipForSelfTest(
    const std::string& path, const std::filesystem::path& audio_root) const {
  SelfTestClipCheck check;
  std::string trimmed = Trim(path);
  check.selected = !trimmed.empty();
  if (!check.selected) {
    check.error_code = "file_not_selected";
    return check;
  }
  check.file_name = trimmed.substr(trimmed.find_last_of("\\/") + 1);
  std::filesystem::path file = Utf8ToPath(trimmed);
  std::error_code error_code;
  if (!std::filesystem::is_regular_file(file, error_code)) {
    check.error_code = "file_not_found";
    return check;
  }
  check.exists = true;
  if (audio_root.empty() || !IsPathInsideRoot(file, audio_root)) {
    check.error_code = "file_outside_active_profile";
    return check;
  }
  if (config_.analyzer == nullptr) {
    check.error_code = "analyzer_unavailable";
    return check;
  }
  AnalyzerFileMetadata metadata;
  std::string error;
  if (!config_.analyzer->AnalyzeFile(audio_root, file, &metadata, &error)) {
    check.error_code = error.empty() ? "file_decode_failed" : error;
    return check;
  }
  check.compatibility_state = metadata.compatibility_state;
  if (!metadata.playable_now) {
    check.error_code = "file_not_playable";
    return check;
  }
  AnalyzerVolumeHealth health;
  error.clear();
  if (!config_.analyzer->CheckVolumeHealth(audio_root, file, &health, &error)) {
    check.error_code = error.empty() ? "volume_check_failed" : error;
    return check;
  }
  check.volume_verdict = health.state;
  check.audible = health.state != "silent" && health.state != "unknown";
  check.playable = check.audible;
  if (!check.audible) check.error_code = "file_silent";
  return check;
}

HttpResponse HttpApi::HandleAudioSelfTest(const JsonValue& body) {
  std::lock_guard audio(audio_mutex_);
  SelfTestFindings found;
  found.scope = "full";
  if (const JsonValue* scope = body.Find("test_scope");
      scope != nullptr && scope->type == JsonValue::Type::String) {
    found.scope = scope->string_value;
  }
  found.microphone_in_scope = found.scope == "full" || found.scope == "microphone";
  found.voice_path_in_scope = found.scope == "full" || found.scope == "voice_path";
  found.windows_input_scope = found.scope == "windows_input";
  if (!found.microphone_in_scope && !found.voice_path_in_scope && !found.windows_input_scope) {
    return ApiRefusal(400, "invalid_test_scope",
                      "test_scope must be full, microphone, voice_path, or windows_input.");
  }
  if (found.voice_path_in_scope) last_self_test_ = LastSelfTestOutcome{};

  MixerDeviceList devices;
  bool enumerated = false;
  std::string error;
  if (!EnumerateDevices(&devices, &enumerated, &error)) {
    return ApiRefusal(500, "device_enumeration_failed", error, kDevicesUnchecked);
  }
  RuntimeSnapshot snapshot = config_.runtime_state->GetSnapshot();
  const MixerSettings& settings = snapshot.settings;
  found.mixer_running = snapshot.mixer_running;
  // Stored indices stand only while their devices keep the saved names.
  std::optional<int32_t> mic_index = JsonMemberInt32(body, "mic_device");
  if (!mic_index) {
    mic_index = StoredDeviceIndex(devices.inputs, snapshot.mic_index, settings.mic_name);
  }
  std::optional<int32_t> out_index = JsonMemberInt32(body, "out_device");
  if (!out_index) {
    out_index = StoredDeviceIndex(devices.outputs, snapshot.out_index, settings.out_name);
  }
  int capture_ms = std::clamp(
      JsonMemberInt32(body, "microphone_capture_ms").value_or(kDefaultMicrophoneCaptureMs),
      kShortestMicrophoneCaptureMs, kDefaultMicrophoneCaptureMs);

  found.cable_detected = CableDetected(devices);
  std::optional<MixerDeviceInfo> output = FindDevice(devices.outputs, out_index, settings.out_name);
  found.output_is_cable_input = output && IsCableInputDeviceName(output->name);
  found.output_name = output ? output->name : settings.out_name;
  std::optional<MixerDeviceInfo> microphone =
      FindDevice(devices.inputs, mic_index, settings.mic_name);
  found.microphone_is_cable = microphone && IsCableDeviceName(microphone->name);

  // The microphone first: the user speaks while it records.
  found.microphone = CheckMicrophone(found, microphone, settings.mic_name,
                                     config_.microphone_signal_verifier, capture_ms);
  GameVoicePathVerificationRequest request{
      output ? *output : MixerDeviceInfo{0, settings.out_name, ""}, devices.outputs,
      devices.inputs};
  found.voice_path = CheckVoicePath(found, request, devices, config_.game_voice_path_verifier,
                                    &last_self_test_);
  JudgeWindowsDefaults(config_.windows_audio_manager, devices, settings, &found);
  if (found.fix_available && found.scope != "microphone") {
    last_self_test_.stored = true;
    last_self_test_.tested_playback_id = found.voice_path.selected_playback_id;
    last_self_test_.tested_playback_name = found.voice_path.selected_playback_name;
    last_self_test_.matching_recording_id = found.voice_path.matching_recording_id;
    last_self_test_.matching_recording_name = found.voice_path.matching_recording_name;
  }

  found.monitor_enabled = settings.monitor_enabled;
  if (const JsonValue* monitor = body.Find("monitor_enabled");
      monitor != nullptr && monitor->type == JsonValue::Type::Bool) {
    found.monitor_enabled = monitor->bool_value;
  }
  if (found.monitor_enabled) {
    std::optional<int32_t> monitor_index = JsonMemberInt32(body, "monitor_device");
    if (!monitor_index) {
      monitor_index =
          StoredDeviceIndex(devices.outputs, snapshot.monitor_index, settings.monitor_name);
    }
    std::optional<MixerDeviceInfo> monitor =
        FindDevice(devices.outputs, monitor_index, settings.monitor_name);
    found.monitor_ok = monitor && !HasCableInputNamePrefix(monitor->name) &&
                       !HasCableOutputNamePrefix(monitor->name);
    found.monitor_detail = monitor ? monitor->name : settings.monitor_name;
  }
  found.ptt_configured = IsValidKeyBinding(settings.ptt_trigger_key);
  found.voice_chat_configured = IsValidKeyBinding(settings.voice_chat_key);
  found.panic_configured =
      settings.panic_trigger_key && IsValidKeyBinding(*settings.panic_trigger_key);

  std::filesystem::path audio_root = ProfileService::ActiveAudioDirectory(settings);
  SelfTestClipCheck clip = CheckSelectedClipForSelfTest(settings.file_path, audio_root);
  SelfTestClipCheck panic_clip = CheckSelectedClipForSelfTest(settings.panic_file_path, audio_root);
  return MakeJsonResponse(BuildSelfTestJson(found, settings, clip, panic_clip));
}

}  // namespace zennic
