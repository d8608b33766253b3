#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "core/json_value.h"
#include "windows_audio/audio_policy_backend.h"

namespace zennic {

// The defaults at one moment, or the endpoints the program made default.
struct AudioDefaultsSnapshot {
  std::string saved_at;  // local "%Y-%m-%d %H:%M:%S"; empty for a cleared list
  std::vector<AudioRoleEndpoint> endpoints;
  // Some present render default already had a cable name when the snapshot was taken.
  bool invalid_render_output = false;

  bool operator==(const AudioDefaultsSnapshot&) const = default;
};

// audio_backup.json: what lets the program put the user's sound back after a cable session,
// on exit, after a crash and on Restore My Sound.
struct AudioBackup {
  int32_t version = 1;
  // From the moment a session is planned until it is restored or rolled back.
  bool session_active = false;
  AudioDefaultsSnapshot current_session;
  std::optional<AudioDefaultsSnapshot> last_known_good;
  AudioDefaultsSnapshot applied;

  bool operator==(const AudioBackup&) const = default;
};

// Lenient readers: a member that is missing or of the wrong type takes its default. Each is
// false only when the value is not an object.
bool ParseAudioBackup(const JsonValue& value, AudioBackup* backup);
bool ParseAudioDefaultsSnapshot(const JsonValue& value, AudioDefaultsSnapshot* snapshot);
bool ParseAudioRoleEndpoint(const JsonValue& value, AudioRoleEndpoint* endpoint);

// Writers; the version is always written as 1.
JsonValue AudioBackupToJson(const AudioBackup& backup);
JsonValue AudioDefaultsSnapshotToJson(const AudioDefaultsSnapshot& snapshot);
JsonValue AudioRoleEndpointToJson(const AudioRoleEndpoint& endpoint);

// "console", "multimedia", "communications"; any other role is "console".
std::string AudioRoleName(AudioRole role);
// "render" for render, "capture" otherwise.
std::string AudioFlowName(AudioFlow flow);
// "capture:communications": how messages name one default.
std::string DescribeFlowRole(AudioFlow flow, AudioRole role);
// The local time now as "%Y-%m-%d %H:%M:%S".
std::string FormatBackupTimestamp();

}  // namespace zennic
