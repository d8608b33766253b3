// The manager itself: construction, the backend's forwards, endpoint lookups, the backup file
// and the status record.

#include "windows_audio/windows_audio_manager.h"

#include <system_error>

#include "core/app_log.h"
#include "core/files.h"
#include "core/text.h"
#include "windows_audio/audio_system_policy_backend.h"
#include "windows_audio/endpoint_rules.h"

namespace zennic {
namespace {

constexpr char kLogTag[] = "WindowsAudioManager";
constexpr char kNoBackend[] = "Windows audio backend is not available";
constexpr char kNotAnObject[] = "audio_backup.json is not a valid JSON object";

// The backup that `text` holds; false with the reason when it holds none.
bool ParseBackupText(const std::string& text, AudioBackup* backup, std::string* error) {
  JsonValue root;
  std::string parse_error;
  if (!JsonValue::Parse(text, &root, &parse_error)) {
    if (error != nullptr) *error = parse_error.empty() ? kNotAnObject : parse_error;
    return false;
  }
  if (root.type != JsonValue::Type::Object) {
    if (error != nullptr) *error = kNotAnObject;
    return false;
  }
  if (!ParseAudioBackup(root, backup)) {
    if (error != nullptr) *error = "audio_backup.json has an invalid schema";
    return false;
  }
  return true;
}

}  // namespace

WindowsAudioManager::WindowsAudioManager(std::filesystem::path backup_path)
    : WindowsAudioManager(std::move(backup_path), ConnectAudioSystem) {}

WindowsAudioManager::WindowsAudioManager(std::filesystem::path backup_path,
                                         AudioSystemFactory audio_systems,
                                         std::filesystem::path logs_folder)
    : backup_path_(std::move(backup_path)),
      logs_folder_(std::move(logs_folder)),
      audio_systems_(std::move(audio_systems)) {
  if (audio_systems_) backend_ = std::make_unique<AudioSystemPolicyBackend>(audio_systems_);
}

WindowsAudioManager::~WindowsAudioManager() { StopRouteMonitoring(); }

bool WindowsAudioManager::Fail(std::string* error, std::string text) {
  if (error != nullptr) *error = std::move(text);
  return false;
}

bool WindowsAudioManager::EnumerateEndpoints(AudioFlow flow,
                                             std::vector<AudioEndpointInfo>* endpoints,
                                             std::string* error) {
  if (!backend_) return Fail(error, kNoBackend);
  return backend_->EnumerateEndpoints(flow, endpoints, error);
}

bool WindowsAudioManager::GetDefaultEndpoints(std::vector<AudioRoleEndpoint>* endpoints,
                                              std::string* error) {
  if (!backend_) return Fail(error, kNoBackend);
  return backend_->GetDefaultEndpoints(endpoints, error);
}

bool WindowsAudioManager::FindCableOutputEndpoint(AudioEndpointInfo* endpoint,
                                                  std::string* error) {
  if (!backend_) return Fail(error, "");
  std::vector<AudioEndpointInfo> endpoints;
  if (!backend_->EnumerateEndpoints(AudioFlow::kCapture, &endpoints, error)) return false;
  for (const AudioEndpointInfo& candidate : endpoints) {
    if (HasCableOutputNamePrefix(candidate.name)) {
      if (endpoint != nullptr) *endpoint = candidate;
      return true;
    }
  }
  return Fail(error, "CABLE Output / CABLE Out 16 Ch was not found in Windows recording devices");
}

bool WindowsAudioManager::FindMonitorOutputEndpoint(const std::string& monitor_name,
                                                    AudioEndpointInfo* endpoint,
                                                    std::string* error) {
  std::string wanted = NormalizeChoiceKey(monitor_name);
  if (wanted.empty()) return Fail(error, "Monitor output is not selected");
  if (!backend_) return Fail(error, "");
  std::vector<AudioEndpointInfo> endpoints;
  if (!backend_->EnumerateEndpoints(AudioFlow::kRender, &endpoints, error)) return false;
  for (const AudioEndpointInfo& candidate : endpoints) {
    if (NormalizeChoiceKey(candidate.name) == wanted) {
      if (endpoint != nullptr) *endpoint = candidate;
      return true;
    }
  }
  return Fail(error,
              "Selected monitor output is not currently available in Windows playback devices");
}

bool WindowsAudioManager::FindVerifiedCableOutputEndpoint(const std::string& verified_id,
                                                          const std::string& verified_name,
                                                          AudioEndpointInfo* endpoint,
                                                          std::string* error, bool* unavailable) {
  if (unavailable != nullptr) *unavailable = false;
  if (verified_id.empty() || Trim(verified_name).empty()) {
    return Fail(error, "Run Full Setup Check before starting the mixer.");
  }
  if (!backend_) return Fail(error, "");
  std::vector<AudioEndpointInfo> endpoints;
  if (!backend_->EnumerateEndpoints(AudioFlow::kCapture, &endpoints, error)) return false;
  for (const AudioEndpointInfo& candidate : endpoints) {
    if (candidate.id == verified_id && HasCableOutputNamePrefix(candidate.name)) {
      if (endpoint != nullptr) *endpoint = candidate;
      return true;
    }
  }
  if (unavailable != nullptr) *unavailable = true;
  return Fail(error, "The verified CABLE Output is no longer available. Run Full Setup Check again.");
}

bool WindowsAudioManager::ResolveVerifiedCableOutput(const std::string& verified_id,
                                                     const std::string& verified_name,
                                                     std::string* current_name, std::string* error,
                                                     bool* unavailable) {
  std::lock_guard lock(mutex_);
  if (current_name != nullptr) current_name->clear();
  AudioEndpointInfo endpoint;
  if (!FindVerifiedCableOutputEndpoint(verified_id, verified_name, &endpoint, error,
                                       unavailable)) {
    return false;
  }
  if (current_name != nullptr) *current_name = endpoint.name;
  return true;
}

bool WindowsAudioManager::HasActiveSession() {
  std::lock_guard lock(mutex_);
  if (BackupPresenceOnDisk() == BackupPresence::kMissing) return false;
  AudioBackup backup;
  return ReadBackup(&backup, nullptr) && backup.session_active;
}

bool WindowsAudioManager::GetStatus(WindowsAudioStatus* status) {
  if (status == nullptr) return false;
  std::lock_guard lock(mutex_);
  WindowsAudioStatus record;
  record.backup_path = backup_path_.string();
  record.backup_exists = BackupPresenceOnDisk() != BackupPresence::kMissing;

  std::vector<AudioRoleEndpoint> defaults;
  std::string defaults_error;
  if (ReadKnownDefaults(&defaults, &defaults_error)) {
    record.current_defaults_available = true;
    record.current_default_output_name = DefaultsOutputName(defaults);
    record.current_default_input_name = DefaultsInputName(defaults);
    record.current_default_output_is_cable = HasCableDefault(defaults, AudioFlow::kRender);
    record.current_default_input_is_cable = HasCableDefault(defaults, AudioFlow::kCapture);
  } else {
    record.error = defaults_error;
  }

  AudioBackup backup;
  std::string read_error;
  if (!record.backup_exists) {
    // Nothing to read: no backup is not an error.
  } else if (!ReadKnownBackup(&backup, &read_error)) {
    record.error = read_error;
  } else {
    const AudioDefaultsSnapshot& session = backup.current_session;
    record.backup_valid = true;
    record.session_active = backup.session_active;
    record.current_session_invalid_output = session.invalid_render_output;
    record.current_session_saved_at = session.saved_at;
    record.current_session_output_name = DefaultsOutputName(session.endpoints);
    record.current_session_input_name = DefaultsInputName(session.endpoints);
    record.restore_session_available = backup.session_active && !session.endpoints.empty();
    record.current_session_safe_normal_pc = IsSafeNormalPcSnapshot(session.endpoints);
    if (backup.last_known_good) {
      const AudioDefaultsSnapshot& good = *backup.last_known_good;
      record.last_known_good_saved_at = good.saved_at;
      record.last_known_good_output_name = DefaultsOutputName(good.endpoints);
      record.last_known_good_input_name = DefaultsInputName(good.endpoints);
      record.restore_last_known_good_available = !good.endpoints.empty();
      record.last_known_good_safe_normal_pc = IsSafeNormalPcSnapshot(good.endpoints);
    }
  }

  record.audio_route_monitoring_active = monitoring_active_.load();
  {
    std::lock_guard warning_lock(warning_mutex_);
    record.audio_route_warning = route_warning_;
    record.audio_route_warning_code = route_warning_code_;
    record.audio_route_warning_message = route_warning_message_;
  }
  *status = std::move(record);
  return true;
}

bool WindowsAudioManager::ReadBackup(AudioBackup* backup, std::string* error) {
  if (backup == nullptr) return Fail(error, "Audio backup output pointer is null");
  std::lock_guard lock(mutex_);
  std::string text;
  return ReadTextFile(backup_path_, &text, error) && ParseBackupText(text, backup, error);
}

bool WindowsAudioManager::ReadUsableBackup(std::optional<AudioBackup>* backup,
                                           std::string* set_aside, std::string* error) {
  backup->reset();
  set_aside->clear();
  std::string text;
  if (!ReadTextFile(backup_path_, &text, error)) return false;
  AudioBackup read;
  std::string damage;
  if (ParseBackupText(text, &read, &damage)) {
    *backup = std::move(read);
    return true;
  }
  std::filesystem::path kept_as;
  std::string move_error;
  if (!MoveDamagedFileAside(backup_path_, &kept_as, &move_error)) {
    WriteLogLine(logs_folder_, kLogTag,
                 "The audio backup " + backup_path_.string() + " cannot be read (" + damage +
                     ") nor set aside: " + move_error);
    return Fail(error, damage + " (audio_backup.json could not be set aside: " + move_error + ")");
  }
  WriteLogLine(logs_folder_, kLogTag,
               "Set aside the unreadable audio backup " + backup_path_.string() + " as " +
                   kept_as.string() + ": " + damage);
  *set_aside = "audio_backup.json could not be read (" + damage + ") and was set aside as " +
               kept_as.filename().string() + ", so that a fresh backup can be kept.";
  return true;
}

bool WindowsAudioManager::ReadKnownBackup(AudioBackup* backup, std::string* error) {
  std::error_code size_error;
  std::error_code time_error;
  uintmax_t size = std::filesystem::file_size(backup_path_, size_error);
  std::filesystem::file_time_type written = std::filesystem::last_write_time(backup_path_, time_error);
  if (!size_error && !time_error && known_backup_ && known_backup_->size == size &&
      known_backup_->written == written) {
    *backup = known_backup_->backup;
    return true;
  }
  known_backup_.reset();
  if (!ReadBackup(backup, error)) return false;
  if (!size_error && !time_error) known_backup_ = KnownBackup{size, written, *backup};
  return true;
}

bool WindowsAudioManager::WriteBackup(const AudioBackup& backup, std::string* error) {
  std::lock_guard lock(mutex_);
  // A write within the file time's granularity may keep the size: never trust it to show.
  known_backup_.reset();
  return WriteTextFileAtomic(backup_path_, AudioBackupToJson(backup).Serialize(2), error);
}

WindowsAudioManager::BackupPresence WindowsAudioManager::BackupPresenceOnDisk() const {
  std::error_code status_error;
  std::filesystem::file_status status = std::filesystem::symlink_status(backup_path_, status_error);
  if (status.type() == std::filesystem::file_type::not_found) return BackupPresence::kMissing;
  if (status_error) return BackupPresence::kUnknown;
  return BackupPresence::kPresent;
}

bool WindowsAudioManager::ReadCurrentDefaults(std::vector<AudioRoleEndpoint>* endpoints,
                                              std::string* error) {
  if (!backend_) return Fail(error, kNoBackend);
  return backend_->GetDefaultEndpoints(endpoints, error);
}

bool WindowsAudioManager::ReadKnownDefaults(std::vector<AudioRoleEndpoint>* endpoints,
                                            std::string* error) {
  bool missing = false;
  {
    std::lock_guard lock(defaults_mutex_);
    missing = !known_defaults_;
  }
  // After a change of the manager's own, the first reader reads the defaults again and, while
  // the monitor listens for the next change, keeps them for the readers after it.
  if (missing && monitoring_active_) RefreshKnownDefaults(true);
  {
    std::lock_guard lock(defaults_mutex_);
    if (known_defaults_) {
      *endpoints = known_defaults_->endpoints;
      return known_defaults_->available || Fail(error, known_defaults_->error);
    }
  }
  return ReadCurrentDefaults(endpoints, error);
}

void WindowsAudioManager::RefreshKnownDefaults(bool only_while_monitored) {
  uint64_t changes = 0;
  {
    std::lock_guard lock(defaults_mutex_);
    changes = defaults_changes_;
  }
  DefaultsReading reading;
  reading.available = ReadCurrentDefaults(&reading.endpoints, &reading.error);
  std::lock_guard lock(defaults_mutex_);
  // Monitoring stops before the reading is forgotten: a reading kept after that would never
  // be replaced.
  if (changes == defaults_changes_ && (!only_while_monitored || monitoring_active_)) {
    known_defaults_ = std::move(reading);
  }
}

void WindowsAudioManager::ForgetKnownDefaults() {
  std::lock_guard lock(defaults_mutex_);
  ++defaults_changes_;
  known_defaults_.reset();
}

bool WindowsAudioManager::ChangeDefaultEndpoint(const std::string& id, AudioRole role,
                                                std::string* error) {
  bool changed = backend_->SetDefaultEndpoint(id, role, error);
  // After the change: a reading taken before it can no longer be kept.
  ForgetKnownDefaults();
  return changed;
}

}  // namespace zennic
