// The cable session: refusing unsafe starting points, writing the backup before any change,
// applying the plan role by role, and rolling everything back when one step fails.

#include "windows_audio/endpoint_rules.h"
#include "windows_audio/windows_audio_manager.h"

namespace zennic {

bool WindowsAudioManager::BeginCableSession(const std::string& monitor_output_name,
                                            const std::string& verified_id,
                                            const std::string& verified_name,
                                            std::vector<std::string>* notices,
                                            std::string* error) {
  std::lock_guard lock(mutex_);
  auto notice = [notices](std::string text) {
    if (notices != nullptr) notices->push_back(std::move(text));
  };

  std::optional<AudioBackup> found;
  std::string set_aside;
  if (BackupPresenceOnDisk() != BackupPresence::kMissing &&
      !ReadUsableBackup(&found, &set_aside, error)) {
    return false;
  }
  if (!set_aside.empty()) notice(set_aside);
  if (found && found->session_active) return Fail(error, kAudioSessionActiveMessage);

  AudioDefaultsSnapshot snapshot;
  snapshot.saved_at = FormatBackupTimestamp();
  if (!backend_) return Fail(error, "");
  if (!backend_->GetDefaultEndpoints(&snapshot.endpoints, error)) return false;
  for (const AudioRoleEndpoint& endpoint : snapshot.endpoints) {
    if (endpoint.flow == AudioFlow::kRender && endpoint.present &&
        IsVirtualCableDeviceName(endpoint.name)) {
      snapshot.invalid_render_output = true;
    }
  }
  if (!IsSafeNormalPcSnapshot(snapshot.endpoints)) {
    return Fail(error, kUnsafeAudioSnapshotMessage);
  }

  AudioEndpointInfo cable;
  bool cable_found =
      verified_id.empty() && verified_name.empty()
          ? FindCableOutputEndpoint(&cable, error)
          : FindVerifiedCableOutputEndpoint(verified_id, verified_name, &cable, error, nullptr);
  if (!cable_found) return false;
  std::vector<AudioRoleEndpoint> plan;
  for (AudioRole role : kAudioRoleOrder) {
    plan.push_back({AudioFlow::kCapture, role, cable.id, cable.name, true});
  }

  AudioEndpointInfo monitor;
  if (!FindMonitorOutputEndpoint(monitor_output_name, &monitor, nullptr)) {
    notice("Windows output was not changed because Monitor Output is not selected or is "
           "unavailable.");
  } else if (HasCableInputNamePrefix(monitor.name)) {
    return Fail(error,
                "Monitor Output is set to VB-Cable. Choose your real headphones or speakers as "
                "Monitor Output before starting.");
  } else {
    for (AudioRole role : kAudioRoleOrder) {
      plan.push_back({AudioFlow::kRender, role, monitor.id, monitor.name, true});
    }
  }

  // The backup is on disk before anything changes, so a crash from here on is recoverable.
  AudioBackup backup;
  backup.session_active = true;
  backup.current_session = snapshot;
  backup.last_known_good = snapshot;
  if (!WriteBackup(backup, error)) return false;

  AudioDefaultsSnapshot applied;
  applied.saved_at = FormatBackupTimestamp();
  for (const AudioRoleEndpoint& planned : plan) {
    if (planned.id.empty()) continue;
    std::string set_error;
    if (!ChangeDefaultEndpoint(planned.id, planned.role, &set_error)) {
      return FailBeginWithRollback(set_error, error);
    }
    applied.endpoints.push_back(planned);
  }
  backup.applied = std::move(applied);
  std::string write_error;
  if (!WriteBackup(backup, &write_error)) return FailBeginWithRollback(write_error, error);

  notice("Windows audio defaults were configured for Ruzerad and will be restored when the mixer "
         "stops.");
  return true;
}

bool WindowsAudioManager::FailBeginWithRollback(const std::string& failure, std::string* error) {
  std::string rollback_error;
  RollbackCableSession(&rollback_error);
  std::string message = failure;
  if (!rollback_error.empty()) message += " Rollback result: " + rollback_error;
  return Fail(error, std::move(message));
}

bool WindowsAudioManager::RollbackCableSession(std::string* error) {
  std::lock_guard lock(mutex_);
  AudioBackup backup;
  if (!ReadBackup(&backup, error)) return false;
  // Every role of the snapshot, not only the applied ones: a role set before the second write
  // of the backup is repaired too.
  for (const AudioRoleEndpoint& endpoint : backup.current_session.endpoints) {
    if (!endpoint.present || endpoint.id.empty()) continue;
    // A playback default that already was a cable is never set back to one.
    if (endpoint.flow == AudioFlow::kRender && backup.current_session.invalid_render_output) {
      continue;
    }
    if (!backend_) return Fail(error, "Windows audio backend is not available");
    if (!ChangeDefaultEndpoint(endpoint.id, endpoint.role, error)) return false;
  }
  return WriteEndedSession(std::move(backup), error);
}

bool WindowsAudioManager::WriteEndedSession(AudioBackup backup, std::string* error) {
  backup.session_active = false;
  backup.applied = AudioDefaultsSnapshot{};
  return WriteBackup(backup, error);
}

}  // namespace zennic
