#pragma once

#include <atomic>
#include <filesystem>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "platform/audio_system.h"
#include "windows_audio/audio_backup.h"
#include "windows_audio/audio_policy_backend.h"
#include "windows_audio/audio_restore_result.h"
#include "windows_audio/audio_route_monitor.h"
#include "windows_audio/windows_audio_status.h"

namespace zennic {

// Why a cable session cannot begin; the mixer start tells them apart by these texts.
inline constexpr char kAudioSessionActiveMessage[] =
    "Previous audio session is still active. Use Restore My Sound before starting again.";
inline constexpr char kUnsafeAudioSnapshotMessage[] =
    "Windows audio is still using a Ruzerad or VB-CABLE route. Use Restore My Sound before "
    "starting again.";

// Switches the system's default endpoints to the virtual cable for a mixer run and puts them
// back, keeps audio_backup.json, watches endpoint changes and reports its state. Every
// operation on the defaults or the backup file holds one recursive mutex, so operations may
// call each other (begin rolls back, a restore clears the session); the route warning has its
// own mutex so status readers never wait on the route check's system calls.
//
// While the route monitor listens, every change of the defaults reaches it, and it keeps a
// reading of them: the status and the route check read that instead of asking the audio
// service on every call, so many pollers cost the service nothing and a stuck service holds
// none of them up. After the manager itself changes a default, the next reader reads them
// again and keeps that reading.
//
// Operations return false with an English sentence in `error` (when given) on failure.
class WindowsAudioManager {
 public:
  // Touches neither the file nor the audio system.
  explicit WindowsAudioManager(std::filesystem::path backup_path);
  // The same on another audio system; an empty factory leaves the manager without a backend.
  // What happens to a damaged backup is logged in `logs_folder` (when given).
  WindowsAudioManager(std::filesystem::path backup_path, AudioSystemFactory audio_systems,
                      std::filesystem::path logs_folder = {});
  // Stops route monitoring first.
  ~WindowsAudioManager();
  WindowsAudioManager(const WindowsAudioManager&) = delete;
  WindowsAudioManager& operator=(const WindowsAudioManager&) = delete;

  const std::filesystem::path& backup_path() const { return backup_path_; }

  // The backend's own answers, for the rest of the program; no lock.
  bool EnumerateEndpoints(AudioFlow flow, std::vector<AudioEndpointInfo>* endpoints,
                          std::string* error);
  bool GetDefaultEndpoints(std::vector<AudioRoleEndpoint>* endpoints, std::string* error);

  // Endpoint lookups shared by the cable session and the HTTP API.
  bool FindCableOutputEndpoint(AudioEndpointInfo* endpoint, std::string* error);
  bool FindMonitorOutputEndpoint(const std::string& monitor_name, AudioEndpointInfo* endpoint,
                                 std::string* error);
  // The recording endpoint with exactly the verified id, still named as a CABLE Output;
  // `unavailable` (when given) is set when it has gone or been renamed.
  bool FindVerifiedCableOutputEndpoint(const std::string& verified_id,
                                       const std::string& verified_name,
                                       AudioEndpointInfo* endpoint, std::string* error,
                                       bool* unavailable);
  bool ResolveVerifiedCableOutput(const std::string& verified_id, const std::string& verified_name,
                                  std::string* current_name, std::string* error, bool* unavailable);

  // The backup records a session whose changed defaults were not restored.
  bool HasActiveSession();
  // False only for a null output: a missing or broken backup is reported in the record.
  bool GetStatus(WindowsAudioStatus* status);

  bool ReadBackup(AudioBackup* backup, std::string* error);
  bool WriteBackup(const AudioBackup& backup, std::string* error);

  // Makes the cable's recording endpoint the default input (and the monitor device, when one is
  // chosen and present, the default output), after writing the backup of the current defaults.
  // A failure half way sets everything back.
  bool BeginCableSession(const std::string& monitor_output_name, const std::string& verified_id,
                         const std::string& verified_name, std::vector<std::string>* notices,
                         std::string* error);
  // Sets every default of the session's snapshot back and ends the session.
  bool RollbackCableSession(std::string* error);

  // The result may be null. True may still mean a partial restore.
  // Sets back only what the session changed and nobody has changed since.
  bool RestoreSession(AudioRestoreResult* result, std::string* error);
  // Forces the last known good defaults back, with a physical device where one has gone.
  bool RestoreLastKnownGood(AudioRestoreResult* result, std::string* error);
  // The emergency exit: the best snapshot there is, or none, ending on real devices.
  bool RestoreMySound(AudioRestoreResult* result, std::string* error);
  // Ends the session in the backup without touching the defaults.
  bool ClearCableSession(AudioRestoreResult* result, std::string* error);
  // Makes a safe playback and a safe recording device the defaults; `snapshot` may be null.
  bool RestoreDefaultsWithFallback(const AudioDefaultsSnapshot* snapshot,
                                   AudioRestoreResult* result, std::string* error);
  // The endpoint the snapshot names, else one of the same name, else the best physical one.
  // Succeeds with an empty id when the flow has no usable endpoint.
  bool ChooseSafeEndpoint(AudioFlow flow, const AudioDefaultsSnapshot* snapshot,
                          AudioEndpointInfo* endpoint, bool* used_fallback, std::string* error);

  // Starts (or restarts) the route monitor, which calls `provider` and checks the route after
  // endpoint changes.
  bool StartRouteMonitoring(std::function<AudioRouteMonitorContext()> provider,
                            std::string* error);
  // Harmless when monitoring is off. Never from the route check itself.
  void StopRouteMonitoring();
  // Compares the current defaults with the backup and the verified cable, and raises or clears
  // the route warning.
  bool CheckAudioRoute(const AudioRouteMonitorContext& context, std::string* error);

 private:
  // The current defaults as one reading found them, or why it could not.
  struct DefaultsReading {
    bool available = false;
    std::vector<AudioRoleEndpoint> endpoints;
    std::string error;
  };

  // Writes `text` into `error` when given; false.
  static bool Fail(std::string* error, std::string text);

  enum class BackupPresence { kMissing, kPresent, kUnknown };
  BackupPresence BackupPresenceOnDisk() const;
  // Locked. Reads the backup like ReadBackup, except that one whose text no longer parses would
  // block every start and restore: it is renamed aside (never deleted) and logged, `backup` is
  // left empty and `set_aside` gets a sentence for the user saying so.
  bool ReadUsableBackup(std::optional<AudioBackup>* backup, std::string* set_aside,
                        std::string* error);
  // Locked. The backup as ReadBackup gives it, read again only once the file changed: the
  // status readers ask for it many times a second.
  bool ReadKnownBackup(AudioBackup* backup, std::string* error);
  // The current defaults through the backend.
  bool ReadCurrentDefaults(std::vector<AudioRoleEndpoint>* endpoints, std::string* error);
  // The kept reading when there is one, else the backend's answer.
  bool ReadKnownDefaults(std::vector<AudioRoleEndpoint>* endpoints, std::string* error);
  // Reads the defaults and keeps the reading, unless the manager changed a default meanwhile
  // (the change's own notification brings another reading), or, when asked, monitoring ended.
  void RefreshKnownDefaults(bool only_while_monitored);
  void ForgetKnownDefaults();
  // Every change of a default goes through here, so that no older reading outlives it.
  bool ChangeDefaultEndpoint(const std::string& id, AudioRole role, std::string* error);
  // Locked. Makes the endpoint the default for the three roles; the first failure ends it.
  bool SetDefaultForRoles(const std::string& id, std::string* error);
  // Locked. Writes the backup with its session ended: nothing active, nothing applied.
  bool WriteEndedSession(AudioBackup backup, std::string* error);
  // Locked. A begin that failed at `failure`: rolls back and words both outcomes.
  bool FailBeginWithRollback(const std::string& failure, std::string* error);
  void SetRouteWarning(bool raised, std::string code, std::string message);

  std::filesystem::path backup_path_;
  std::filesystem::path logs_folder_;
  AudioSystemFactory audio_systems_;
  std::unique_ptr<AudioPolicyBackend> backend_;
  std::recursive_mutex mutex_;
  // The backup last read for a status reader, and the size and time of the file it came from;
  // guarded by mutex_.
  struct KnownBackup {
    uintmax_t size = 0;
    std::filesystem::file_time_type written;
    AudioBackup backup;
  };
  std::optional<KnownBackup> known_backup_;
  std::mutex warning_mutex_;
  bool route_warning_ = false;
  std::string route_warning_code_;
  std::string route_warning_message_;
  std::atomic<bool> monitoring_active_{false};
  std::mutex monitor_mutex_;  // guards the monitor's pointer, not its work
  std::unique_ptr<WindowsAudioRouteMonitor> route_monitor_;
  std::mutex defaults_mutex_;  // guards the two below, never held across a call
  std::optional<DefaultsReading> known_defaults_;
  uint64_t defaults_changes_ = 0;
};

}  // namespace zennic
