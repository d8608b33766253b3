#pragma once

#include <cstdint>
#include <exception>
#include <filesystem>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "api/last_self_test_outcome.h"
#include "core/json_value.h"
#include "platform/known_folders.h"
#include "server/http_message.h"
#include "server/http_request_handler.h"
#include "windows_audio/setup_verifiers.h"

namespace zennic {

class AnalyzerService;
class ConverterService;
class KeyBindingService;
class MixerEngine;
class ProfileService;
class RuntimeState;
class SoundInboxService;
class UpdateService;
class WindowsAudioManager;
struct AudioRestoreResult;
struct MixerDeviceList;
struct MixerSettings;
struct SelfTestClipCheck;

// A native file or folder dialog: true once it ran to an end, chosen or cancelled.
using PickerFunction =
    std::function<bool(const std::filesystem::path& initial_folder, std::filesystem::path* chosen,
                       bool* cancelled, std::string* error)>;
// Shows a folder (UTF-8) to the user.
using FolderOpenerFunction = std::function<bool(const std::string& folder, std::string* error)>;
using KnownFolderFunction = std::function<std::filesystem::path(KnownFolder folder)>;
using DeviceEnumerationFunction = std::function<bool(MixerDeviceList* devices, std::string* error)>;

// What the API works with; filled by the host and taken over by the API. A service left null
// is answered by its handlers with their "*_unavailable" code; an empty function means the
// real service or system facility.
struct HttpApiConfig {
  RuntimeState* runtime_state = nullptr;
  KeyBindingService* key_binding_service = nullptr;
  ProfileService* profile_service = nullptr;
  std::string session_cookie_name;
  AnalyzerService* analyzer = nullptr;
  ConverterService* converter = nullptr;
  MixerEngine* mixer_engine = nullptr;
  WindowsAudioManager* windows_audio_manager = nullptr;
  // The port the server really listens on; empty or 0 means 5000.
  std::function<uint16_t()> server_port;
  PickerFunction folder_picker;
  FolderOpenerFunction folder_opener;
  PickerFunction audio_file_picker;
  UpdateService* update_service = nullptr;
  SoundInboxService* sound_inbox_service = nullptr;
  KnownFolderFunction known_folder;
  DeviceEnumerationFunction device_enumeration;
  // The setup check's live tests; the API makes and owns the system's own for those not given.
  GameVoicePathVerifier* game_voice_path_verifier = nullptr;
  MicrophoneSignalVerifier* microphone_signal_verifier = nullptr;
};

// An error reply with empty details; `fallback` stands in for a lower layer's empty text.
HttpResponse ApiRefusal(int status, const std::string& code, const std::string& message,
                        const char* fallback = "");
// 409 "audio_setup_required" with "setup_required": true, for the web client's setup prompt;
// "details" names the `reason` as a code, so the prompt can say what is missing.
HttpResponse AudioSetupRequiredResponse(const std::string& message, const std::string& reason);
JsonValue BuildStringArrayJson(const std::vector<std::string>& texts);
// Shows the folder in the desktop's file manager.
bool OpenFolderInExplorer(const std::string& folder, std::string* error);

// Answers every request under "/api/mixer/": the gates in a fixed order (method, runtime
// state, Origin and Referer, session cookie, JSON body), then an exact-path dispatch. Every
// answer is the JSON envelope. Called from many connection threads at once; the router keeps
// no state between requests.
class HttpApi : public HttpRequestHandler {
 public:
  // Every route takes at most 1 MiB of body, but the trim export, whose one long string holds
  // a whole clip in Base64 (four characters for three bytes) beside a few short members.
  static constexpr size_t kMaxBodyBytes = 1 << 20;
  // The largest clip the trim editor loads or saves, as a file or as uploaded WAV bytes: the
  // request, its parsed text and the bytes are all held at once.
  static constexpr size_t kMaxTrimClipBytes = 128 << 20;
  static constexpr size_t kMaxTrimExportBodyBytes = (kMaxTrimClipBytes + 2) / 3 * 4 + kMaxBodyBytes;

  explicit HttpApi(HttpApiConfig config);
  // Its routes hold on to it.
  HttpApi(const HttpApi&) = delete;
  HttpApi& operator=(const HttpApi&) = delete;

  // False when the path is not under "/api/mixer/" (the response is untouched); otherwise the
  // answer is in `response`. The gates and the dispatch in one step.
  bool HandleRequest(const HttpRequest& request, HttpResponse* response);

  // The gates that the head alone decides, so a refused request never has its body read.
  HttpHeadVerdict DecideOnHead(const HttpRequest& head) const override;
  // The body's gate and the dispatch, for a request whose head was told to read its body.
  HttpResponse HandleWholeRequest(const HttpRequest& request) override;
  // Decided by the path alone, before the body is read.
  static size_t MaxBodyBytes(std::string_view path);

  static std::vector<std::string> AllowedOrigins(uint16_t port);
  // Passes a request that names no origin at all, and one whose Origin and Referer both name
  // the local web client on `port`.
  static bool IsAllowedOrigin(const HttpRequest& request, uint16_t port);

  // 500 "handler_exception".
  static HttpResponse HandlerExceptionResponse(const std::string& message);
  // 409 "path_unavailable".
  static HttpResponse PathUnavailableResponse(const std::string& detail);
  // Any refusal: the envelope with the status, the code, the message and empty details.
  static HttpResponse ErrorResponse(int status, const std::string& code,
                                    const std::string& message);
  // 200 with the bytes as they are, never cached.
  static HttpResponse BinaryResponse(const std::string& content_type, std::string bytes);
  // Proves by the file system's own resolution (links followed) that an existing path lies
  // inside an existing root; `reason` says which of the two failed.
  static bool ResolvePathInsideActiveRoot(const std::filesystem::path& path,
                                          const std::filesystem::path& root, std::string* reason);
  // Removes what interrupted trim exports left in the system's temporary folder: uploads, and
  // the work files of their conversions, that no running process is writing. Run at start.
  static void SweepAbandonedTrimExports();
  // The answer for what a handler threw: a vanished file or folder is 409, anything else 500.
  static HttpResponse ExceptionResponse(std::exception_ptr thrown);

 private:
  using RouteHandler = std::function<HttpResponse(const JsonValue& body)>;

  std::optional<HttpResponse> RefusalOfHead(const HttpRequest& request) const;
  uint16_t ServerPort() const;
  HttpResponse Dispatch(const std::string& path, const JsonValue& body);

  // Each family of routes enters its paths into the table.
  void RegisterAudioManagementRoutes();
  void RegisterDeviceListRoute();
  void RegisterKeyCaptureRoutes();
  void RegisterMixerControlRoutes();
  void RegisterMixerStartStopRoutes();
  void RegisterStatusRoute();
  void RegisterVoiceTestRoutes();

  HttpResponse HandleStatus();
  HttpResponse HandleDevices();
  HttpResponse HandleStart(const JsonValue& body);
  HttpResponse HandleStop();
  HttpResponse HandleMonitorEnable(const JsonValue& body);
  HttpResponse HandleAudioStatus();
  HttpResponse HandleAudioRestoreSession();
  HttpResponse HandleAudioRestoreLastKnownGood();
  HttpResponse HandleAudioRestoreMySound();
  HttpResponse HandleAudioOpenBackupFolder();
  HttpResponse HandleSet(const JsonValue& body);
  HttpResponse HandlePttStart();
  HttpResponse HandlePttStop();
  HttpResponse HandleVoiceTestRecord(const JsonValue& body);
  HttpResponse HandleVoiceTestLatest();
  HttpResponse HandleVoiceTestClear();
  HttpResponse HandleKeyCaptureStart(const JsonValue& body);
  HttpResponse HandleKeyCaptureStatus(const JsonValue& body);

  // The web client's one view of the mixer; refreshes the route warning on the way.
  JsonValue BuildStatusJson();
  JsonValue BuildAlertsJson() const;
  // "none", "missing", the analyser's verdict on the selected clip ("error" when it cannot
  // analyse it), or "unknown" when there is no analyser.
  std::string SelectedClipState(const MixerSettings& settings) const;
  static JsonValue DeviceIndexJson(std::optional<int32_t> index);

  // The start's refusals that the Windows audio manager decides; the caller holds audio_mutex_.
  std::optional<HttpResponse> RefuseUnsafeStart(const MixerSettings& settings);
  using BackupRestore = bool (WindowsAudioManager::*)(AudioRestoreResult*, std::string*);
  // Restore-session and restore-last-known-good: one restore of the manager's backup, with the
  // route's sentence for a failure without a text.
  HttpResponse RunBackupRestore(BackupRestore restore, const char* failure);
  // Stops a running engine before a restore. When `stopped` is given (Restore My Sound), the
  // flags are cleared also without an engine, and it tells whether the mixer counted as running.
  std::optional<HttpResponse> StopMixerForRestore(bool* stopped);

  // Applies a partial settings object: keys of the wrong type are ignored, invalid key bindings
  // dropped; the result is normalised. False only for a null target or a body that is no
  // object. "audio_dir" counts only when `allow_audio_dir` is set.
  bool ApplySettingsJson(MixerSettings* settings, const JsonValue& body,
                         bool allow_audio_dir) const;
  void ApplyAudioDir(MixerSettings* settings, const std::string& audio_dir) const;
  // 400 when the body names a side of the cable as the microphone: the game would hear itself.
  static std::optional<HttpResponse> RefuseCableMicrophone(const JsonValue& body);
  // A clip or panic sound chosen anew must be a file that exists: a stale list may offer one
  // deleted since. The paths in force are let through as they are.
  static std::optional<HttpResponse> RefuseMissingClip(const JsonValue& body,
                                                       const MixerSettings& current);
  static bool IsExistingClipFile(const std::string& path);

  // With the configured enumeration function, else the engine's; `enumerated` is false when
  // neither exists (the lists are then empty).
  bool EnumerateDevices(MixerDeviceList* devices, bool* enumerated, std::string* error);

  // The sound library: the audio folder of a request and the routes on its files.
  void RegisterSoundLibraryRoutes();
  // "dir", else the profile "profile_id", else the active profile's folder; empty, with a 404
  // "invalid_profile" in `refusal`, for an unknown profile.
  std::filesystem::path ResolveRequestAudioDir(const MixerSettings& settings,
                                               const JsonValue& body,
                                               std::optional<HttpResponse>* refusal) const;
  JsonValue BuildFileListJson(const std::filesystem::path& root,
                              const std::string& selected_path) const;
  HttpResponse HandleFiles(const JsonValue& body);
  HttpResponse HandleFolders(const JsonValue& body);
  HttpResponse HandleFoldersCreate(const JsonValue& body);
  HttpResponse HandleFilesDelete(const JsonValue& body);
  HttpResponse HandleFilesMove(const JsonValue& body);
  HttpResponse HandleFilesRename(const JsonValue& body);
  HttpResponse HandleFilesNormalize(const JsonValue& body);
  HttpResponse HandleFilesMerge(const JsonValue& body);
  HttpResponse HandleFilesVolumeHealth(const JsonValue& body);
  HttpResponse HandleTrimSource(const JsonValue& body);
  HttpResponse HandleTrimExport(const JsonValue& body);
  HttpResponse HandleAnalyze(const JsonValue& body);
  HttpResponse HandleConvert(const JsonValue& body);
  // One input of a merge, checked in a fixed order; on a refusal `reply` holds the answer, whose
  // message begins with `label`.
  static bool ValidateMergeInputs(const JsonValue& body, const std::filesystem::path& root,
                                  HttpResponse* reply, const std::string& key,
                                  const std::string& label, std::filesystem::path* path,
                                  uint64_t* size);

  void RegisterUpdateCheckRoute();
  HttpResponse HandleUpdateCheck();

  // What the user configures and keeps: settings, profiles, the Sound Inbox and sound links.
  // Every change is one update of the runtime state, saved to settings.json.
  void RegisterSettingsRoutes();
  HttpResponse HandleSettingsLoad();
  HttpResponse HandleSettingsSave(const JsonValue& body);
  HttpResponse HandleSettingsReset();
  void RegisterProfileRoutes();
  std::optional<HttpResponse> RefuseWithoutProfileService() const;
  HttpResponse HandleProfilesUpsert(const JsonValue& body);
  HttpResponse HandleProfilesDelete(const JsonValue& body);
  HttpResponse HandleProfilesSelect(const JsonValue& body);
  void RegisterSoundInboxRoutes();
  // The service's record, or without a service one made from the settings.
  JsonValue SoundInboxStatusJson(const MixerSettings& settings) const;
  // Saves the inbox's flag and folder, wakes the worker and puts "settings" and "sound_inbox"
  // into `reply`; the refusal when the save failed.
  std::optional<HttpResponse> StoreSoundInboxSettings(bool enabled, const std::string& folder,
                                                      JsonValue* reply);
  HttpResponse HandleSoundInboxConfigure(const JsonValue& body);
  HttpResponse HandleSoundInboxUseDefault(const JsonValue& body);
  HttpResponse HandleSoundInboxStatus();
  void RegisterSoundLinkRoute();
  HttpResponse HandleSoundLinksSave(const JsonValue& body);

  // The desktop's choosers, on a dialog thread of their own that the request waits for; the
  // configured picker functions stand in for them when set. True once the dialog ran to an end.
  void RegisterNativePickerRoutes();
  bool RunFolderPicker(const std::filesystem::path& initial_folder, std::filesystem::path* chosen,
                       bool* cancelled, std::string* error);
  bool RunAudioFilePicker(const std::filesystem::path& initial_folder,
                          std::filesystem::path* chosen, bool* cancelled, std::string* error);
  HttpResponse HandleBrowseFolder(const JsonValue& body);
  HttpResponse HandleBrowsePanicFile();
  // A chosen panic sound that needs converting becomes a WAV beside it.
  HttpResponse PreparePanicSound(const std::filesystem::path& root,
                                 const std::filesystem::path& file);
  static JsonValue BuildPickerResultJson(const std::filesystem::path& root,
                                         const std::filesystem::path& file, bool prepared);

  void RegisterOpenFolderRoute();
  HttpResponse HandleOpenFolder(const JsonValue& body);
  // With the configured folder opener, else the file manager.
  bool OpenFolder(const std::string& folder, std::string* error);
  // The Full Setup Check and its two fixes; each holds audio_mutex_ for its whole run.
  void RegisterSetupCheckRoute();
  void RegisterSetupFixRoutes();
  HttpResponse HandleAudioSelfTest(const JsonValue& body);
  HttpResponse HandleAudioUseRecommendedCable();
  HttpResponse HandleAudioFixWindowsInput();
  // The clip at `path` as the check sees it: selected, present inside the active folder,
  // playable and not silent.
  SelfTestClipCheck CheckSelectedClipForSelfTest(const std::string& path,
                                                 const std::filesystem::path& audio_root) const;

  HttpApiConfig config_;
  std::unique_ptr<GameVoicePathVerifier> owned_game_voice_path_verifier_;
  std::unique_ptr<MicrophoneSignalVerifier> owned_microphone_signal_verifier_;
  // Exact paths; each family of routes adds its own.
  std::map<std::string, RouteHandler, std::less<>> routes_;
  // Held for the whole run of every route that changes the audio set-up (mixer start and stop,
  // the setup check and its fixes, the restores), so none of them overlap.
  std::mutex audio_mutex_;
  LastSelfTestOutcome last_self_test_;  // guarded by audio_mutex_
};

}  // namespace zennic
