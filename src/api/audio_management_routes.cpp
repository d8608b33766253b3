#include "api/device_lookups.h"
#include "api/http_api.h"
#include "engine/mixer_engine.h"
#include "model/mixer_settings_json.h"
#include "model/runtime_state.h"
#include "server/json_envelope.h"
#include "windows_audio/windows_audio_manager.h"

namespace zennic {
namespace {

HttpResponse ManagerMissing() {
  return ApiRefusal(500, "audio_manager_unavailable", "Windows audio management is not configured");
}

JsonValue RestoreReply(WindowsAudioManager* manager, const AudioRestoreResult& result) {
  WindowsAudioStatus status;
  manager->GetStatus(&status);
  return BuildAudioRestoreResultJson(result, status);
}

// How turning automatic management off went.
struct ManagementOff {
  bool changed = false;    // it was on
  bool disabled = true;    // off, at least for this run
  bool persisted = true;   // off in settings.json
  std::string error;
};

}  // namespace

void HttpApi::RegisterAudioManagementRoutes() {
  routes_.emplace("/api/mixer/audio/status", [this](const JsonValue&) { return HandleAudioStatus(); });
  routes_.emplace("/api/mixer/audio/restore-session",
                  [this](const JsonValue&) { return HandleAudioRestoreSession(); });
  routes_.emplace("/api/mixer/audio/restore-last-known-good",
                  [this](const JsonValue&) { return HandleAudioRestoreLastKnownGood(); });
  routes_.emplace("/api/mixer/audio/restore-my-sound",
                  [this](const JsonValue&) { return HandleAudioRestoreMySound(); });
  routes_.emplace("/api/mixer/audio/open-backup-folder",
                  [this](const JsonValue&) { return HandleAudioOpenBackupFolder(); });
}

HttpResponse HttpApi::HandleAudioStatus() {
  WindowsAudioManager* manager = config_.windows_audio_manager;
  if (manager == nullptr) return ManagerMissing();
  manager->CheckAudioRoute(VoicePathStateOf(config_.runtime_state->GetSnapshot()), nullptr);
  WindowsAudioStatus status;
  manager->GetStatus(&status);
  JsonValue reply = JsonValue::MakeObject();
  reply["audio_management"] = WindowsAudioStatusToJson(status);
  return MakeJsonResponse(reply);
}

HttpResponse HttpApi::HandleAudioRestoreSession() {
  return RunBackupRestore(&WindowsAudioManager::RestoreSession,
                          "Windows audio settings could not be restored from the session backup");
}

HttpResponse HttpApi::HandleAudioRestoreLastKnownGood() {
  return RunBackupRestore(
      &WindowsAudioManager::RestoreLastKnownGood,
      "Windows audio settings could not be restored from the last known good backup");
}

HttpResponse HttpApi::RunBackupRestore(BackupRestore restore, const char* failure) {
  WindowsAudioManager* manager = config_.windows_audio_manager;
  if (manager == nullptr) return ManagerMissing();
  std::lock_guard audio(audio_mutex_);
  if (std::optional<HttpResponse> refusal = StopMixerForRestore(nullptr)) return *refusal;
  AudioRestoreResult result;
  std::string error;
  if (!(manager->*restore)(&result, &error)) {
    return ApiRefusal(500, "audio_restore_failed", error, failure);
  }
  return MakeJsonResponse(RestoreReply(manager, result));
}

std::optional<HttpResponse> HttpApi::StopMixerForRestore(bool* stopped) {
  if (stopped != nullptr) *stopped = false;
  if (!config_.runtime_state->GetSnapshot().mixer_running) return std::nullopt;
  if (config_.mixer_engine != nullptr) {
    std::string error;
    if (!config_.mixer_engine->Stop(&error)) return ApiRefusal(500, "mixer_stop_failed", error);
    if (stopped != nullptr) *stopped = true;
  } else if (stopped != nullptr) {
    // Without an engine only the flags say it ran.
    config_.runtime_state->SetVoiceKeyActive(false);
    config_.runtime_state->SetMixerRunning(false);
    *stopped = true;
  }
  return std::nullopt;
}

HttpResponse HttpApi::HandleAudioRestoreMySound() {
  WindowsAudioManager* manager = config_.windows_audio_manager;
  if (manager == nullptr) return ManagerMissing();
  std::lock_guard audio(audio_mutex_);
  bool mixer_stopped = false;
  if (std::optional<HttpResponse> refusal = StopMixerForRestore(&mixer_stopped)) return *refusal;

  // Off for safety before anything else: a program that switches the defaults again at the
  // next start would undo the rescue.
  ManagementOff off;
  if (config_.runtime_state->GetSettings().audio_management_enabled) {
    auto turn_off = [](MixerSettings& settings) { settings.audio_management_enabled = false; };
    off.changed = true;
    if (!config_.runtime_state->MutateSettings(turn_off, true, &off.error)) {
      off.persisted = false;
      std::string this_run_error;
      off.disabled = config_.runtime_state->MutateSettings(turn_off, false, &this_run_error);
      if (!this_run_error.empty()) {
        off.error += (off.error.empty() ? "" : " ") + this_run_error;
      }
    }
  }

  AudioRestoreResult result;
  std::string error;
  if (!manager->RestoreMySound(&result, &error)) {
    return ApiRefusal(500, "audio_restore_failed", error, "Windows sound could not be restored");
  }
  if (mixer_stopped) result.messages.push_back("Mixer stopped. Start Mixer again when you are ready.");
  if (off.changed && off.persisted) {
    result.messages.push_back("Automatic Windows audio management was turned off for safety.");
  } else if (off.changed && off.disabled) {
    result.messages.push_back(
        "Automatic Windows audio management was turned off for this run, but the setting could "
        "not be saved and may turn on again after restart: " +
        off.error);
  } else if (off.changed) {
    result.messages.push_back("Automatic Windows audio management could not be turned off: " +
                              off.error);
  }

  JsonValue reply = RestoreReply(manager, result);
  reply["mixer_stopped"] = mixer_stopped;
  reply["audio_management_disabled"] = off.disabled;
  reply["audio_management_disable_persisted"] = off.persisted;
  reply["restore_fully_saved"] = result.restored && off.disabled && off.persisted;
  reply["running"] = false;
  reply["mixer"] = BuildStatusJson();
  reply["settings"] = MixerSettingsToJson(config_.runtime_state->GetSettings());
  return MakeJsonResponse(reply);
}

HttpResponse HttpApi::HandleAudioOpenBackupFolder() {
  WindowsAudioManager* manager = config_.windows_audio_manager;
  if (manager == nullptr) return ManagerMissing();
  std::string folder = manager->backup_path().parent_path().string();
  if (folder.empty()) return ApiRefusal(400, "path_invalid", "Audio backup folder is not configured");
  std::string error;
  bool opened = config_.folder_opener ? config_.folder_opener(folder, &error)
                                      : OpenFolderInExplorer(folder, &error);
  if (!opened) {
    return ApiRefusal(500, "open_folder_failed", error,
                      "Windows Explorer could not open the backup folder");
  }
  JsonValue reply = JsonValue::MakeObject();
  reply["opened_path"] = folder;
  return MakeJsonResponse(reply);
}

}  // namespace zennic
