// Putting the user's defaults back: the careful session restore, the forced last known good
// restore, and Restore My Sound, which always ends on real devices where any exist.

#include <optional>

#include "core/text.h"
#include "windows_audio/endpoint_rules.h"
#include "windows_audio/windows_audio_manager.h"

namespace zennic {
namespace {

constexpr char kNothingToRestore[] = "No active audio session backup needs restore.";

bool IsUsableRecord(const AudioRoleEndpoint& endpoint) {
  return endpoint.present && !endpoint.id.empty() && IsUsableEndpointName(endpoint.name);
}

bool IsUsableEndpoint(const AudioEndpointInfo& endpoint) {
  return !endpoint.id.empty() && IsUsableEndpointName(endpoint.name);
}

// The snapshot's choice for the flow: the first usable role in role order, else the first
// usable record of the flow.
const AudioRoleEndpoint* SnapshotCandidate(const AudioDefaultsSnapshot& snapshot, AudioFlow flow) {
  for (AudioRole role : kAudioRoleOrder) {
    const AudioRoleEndpoint* endpoint = FindRoleEndpoint(snapshot.endpoints, flow, role);
    if (endpoint != nullptr && IsUsableRecord(*endpoint)) return endpoint;
  }
  for (const AudioRoleEndpoint& endpoint : snapshot.endpoints) {
    if (endpoint.flow == flow && IsUsableRecord(endpoint)) return &endpoint;
  }
  return nullptr;
}

}  // namespace

bool WindowsAudioManager::RestoreSession(AudioRestoreResult* result, std::string* error) {
  AudioRestoreResult ignored;
  AudioRestoreResult& out = result != nullptr ? *result : ignored;
  out = AudioRestoreResult{};
  std::lock_guard lock(mutex_);
  auto nothing_to_restore = [&out, error] {
    out.restored = true;
    out.messages.push_back(kNothingToRestore);
    if (error != nullptr) error->clear();
    return true;
  };

  if (BackupPresenceOnDisk() == BackupPresence::kMissing) return nothing_to_restore();
  std::optional<AudioBackup> found;
  std::string set_aside;
  if (!ReadUsableBackup(&found, &set_aside, error)) return false;
  if (!set_aside.empty()) out.messages.push_back(set_aside);
  if (!found || !found->session_active) return nothing_to_restore();
  const AudioBackup& backup = *found;

  std::vector<AudioRoleEndpoint> current;
  if (!ReadCurrentDefaults(&current, error)) return false;
  const AudioDefaultsSnapshot& session = backup.current_session;
  for (const AudioRoleEndpoint& saved : session.endpoints) {
    if (!saved.present || saved.id.empty()) continue;
    if (session.invalid_render_output && saved.flow == AudioFlow::kRender) {
      out.messages.push_back(
          "Skipped restoring a VB-Cable playback default from the backup. Choose your real "
          "headphones or speakers in Windows Sound settings.");
      continue;
    }
    // Only a role the session changed, and that still holds what the session set.
    const AudioRoleEndpoint* applied =
        FindRoleEndpoint(backup.applied.endpoints, saved.flow, saved.role);
    if (applied == nullptr || applied->id.empty()) continue;
    const AudioRoleEndpoint* now = FindRoleEndpoint(current, saved.flow, saved.role);
    if (now == nullptr || !now->present || now->id != applied->id) {
      out.messages.push_back("Skipped " + DescribeFlowRole(saved.flow, saved.role) +
                             " because it was changed outside Ruzerad.");
      continue;
    }
    if (!ChangeDefaultEndpoint(saved.id, saved.role, error)) return false;
  }
  out.restored = true;
  return ClearCableSession(&out, error);
}

bool WindowsAudioManager::ClearCableSession(AudioRestoreResult* result, std::string* error) {
  std::lock_guard lock(mutex_);
  AudioBackup backup;
  if (!ReadBackup(&backup, error)) return false;
  if (!WriteEndedSession(std::move(backup), error)) return false;
  if (result != nullptr) result->restored = true;
  return true;
}

bool WindowsAudioManager::ChooseSafeEndpoint(AudioFlow flow, const AudioDefaultsSnapshot* snapshot,
                                             AudioEndpointInfo* endpoint, bool* used_fallback,
                                             std::string* error) {
  if (used_fallback != nullptr) *used_fallback = false;
  if (endpoint == nullptr) return Fail(error, "Safe audio endpoint output pointer is null");
  *endpoint = AudioEndpointInfo{flow, {}, {}};
  std::lock_guard lock(mutex_);
  if (!backend_) return Fail(error, "");
  std::vector<AudioEndpointInfo> active;
  if (!backend_->EnumerateEndpoints(flow, &active, error)) return false;
  auto choose = [&](const AudioEndpointInfo& chosen, bool fallback) {
    *endpoint = chosen;
    if (used_fallback != nullptr) *used_fallback = fallback;
    return true;
  };

  const AudioRoleEndpoint* candidate =
      snapshot != nullptr ? SnapshotCandidate(*snapshot, flow) : nullptr;
  if (candidate != nullptr) {
    for (const AudioEndpointInfo& option : active) {
      if (IsUsableEndpoint(option) && option.id == candidate->id) return choose(option, false);
    }
    std::string wanted = NormalizeChoiceKey(candidate->name);
    for (const AudioEndpointInfo& option : active) {
      if (!wanted.empty() && IsUsableEndpoint(option) && NormalizeChoiceKey(option.name) == wanted) {
        return choose(option, true);
      }
    }
  }
  const AudioEndpointInfo* best = nullptr;
  for (const AudioEndpointInfo& option : active) {
    if (!IsUsableEndpoint(option)) continue;
    if (best == nullptr ||
        PhysicalDevicePriority(flow, option.name) < PhysicalDevicePriority(flow, best->name)) {
      best = &option;
    }
  }
  if (best != nullptr) return choose(*best, true);
  return true;
}

bool WindowsAudioManager::SetDefaultForRoles(const std::string& id, std::string* error) {
  for (AudioRole role : kAudioRoleOrder) {
    if (!ChangeDefaultEndpoint(id, role, error)) return false;
  }
  return true;
}

bool WindowsAudioManager::RestoreDefaultsWithFallback(const AudioDefaultsSnapshot* snapshot,
                                                      AudioRestoreResult* result,
                                                      std::string* error) {
  AudioRestoreResult ignored;
  AudioRestoreResult& out = result != nullptr ? *result : ignored;
  out = AudioRestoreResult{};
  std::lock_guard lock(mutex_);

  struct Side {
    AudioFlow flow;
    bool* restored;
    bool* used_fallback;
    const char* none_found;
    const char* restored_to;
  };
  const Side sides[] = {
      {AudioFlow::kRender, &out.output_restored, &out.used_fallback_output,
       "No physical headphones or speakers were found. Open Windows Sound settings and choose "
       "your headset or speakers as Output.",
       "Restored Windows output to "},
      {AudioFlow::kCapture, &out.input_restored, &out.used_fallback_input,
       "No physical microphone was found to restore as Windows input.",
       "Restored Windows input to "},
  };
  for (const Side& side : sides) {
    AudioEndpointInfo chosen;
    bool fallback = false;
    if (!ChooseSafeEndpoint(side.flow, snapshot, &chosen, &fallback, error)) return false;
    if (chosen.id.empty()) {
      out.messages.push_back(side.none_found);
      continue;
    }
    if (!SetDefaultForRoles(chosen.id, error)) return false;
    *side.restored = true;
    *side.used_fallback = fallback;
    out.messages.push_back(side.restored_to + chosen.name +
                           (fallback ? " using a physical fallback." : "."));
  }
  out.restored = out.output_restored && out.input_restored;
  return true;
}

bool WindowsAudioManager::RestoreLastKnownGood(AudioRestoreResult* result, std::string* error) {
  std::lock_guard lock(mutex_);
  std::optional<AudioBackup> backup;
  std::string set_aside;
  if (!ReadUsableBackup(&backup, &set_aside, error)) return false;
  if (!backup || !backup->last_known_good) {
    return Fail(error, (set_aside.empty() ? "" : set_aside + " ") +
                           "No last known good Windows audio backup is available");
  }
  if (!RestoreDefaultsWithFallback(&*backup->last_known_good, result, error)) return false;
  if (!backup->session_active) return true;
  return WriteEndedSession(std::move(*backup), error);
}

bool WindowsAudioManager::RestoreMySound(AudioRestoreResult* result, std::string* error) {
  AudioRestoreResult ignored;
  AudioRestoreResult& out = result != nullptr ? *result : ignored;
  out = AudioRestoreResult{};
  std::lock_guard lock(mutex_);

  std::vector<std::string> notes;
  std::optional<AudioBackup> backup;
  if (BackupPresenceOnDisk() == BackupPresence::kMissing) {
    notes.push_back("No audio backup is available. Trying active physical device fallback.");
  } else {
    std::string set_aside;
    std::string read_error;
    ReadUsableBackup(&backup, &set_aside, &read_error);
    if (!backup && (!read_error.empty() || !set_aside.empty())) {
      notes.push_back("Audio backup could not be read. Trying active physical device fallback.");
    }
    if (!set_aside.empty()) notes.push_back(set_aside);
  }
  const AudioDefaultsSnapshot* snapshot = nullptr;
  if (backup && backup->last_known_good) {
    snapshot = &*backup->last_known_good;
  } else if (backup && !backup->current_session.endpoints.empty()) {
    snapshot = &backup->current_session;
  }

  // The fallback starts a fresh result; the notes about the backup stay in front of its own.
  bool restored = RestoreDefaultsWithFallback(snapshot, &out, error);
  out.messages.insert(out.messages.begin(), notes.begin(), notes.end());
  if (!restored) return false;

  if (backup) {
    std::string write_error;
    if (!WriteEndedSession(std::move(*backup), &write_error)) {
      out.messages.push_back(
          "Windows sound restore ran, but the audio backup marker could not be updated: " +
          write_error);
    }
  }
  return true;
}

}  // namespace zennic
