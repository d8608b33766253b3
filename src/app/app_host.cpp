#include "app/app_host.h"

#include <system_error>

#include "app/app_log.h"
#include "model/files.h"
#include "model/paths.h"
#include "platform/executable_path.h"
#include "platform/termination_signals.h"
#include "windows_audio/endpoint_rules.h"

namespace zennic {
namespace {

constexpr char kAppFolderName[] = "Ruzerad";
constexpr char kFallbackFolderName[] = "DurevodIvov";
constexpr char kSingleInstanceName[] = "Local\\RuzeradNativeSingleInstance";
constexpr char kLogTag[] = "AppHost";

}  // namespace

AppHost::~AppHost() { Shutdown(); }

bool AppHost::Initialize(std::string* error) {
  if (initialized_) return true;

  std::filesystem::path executable_folder =
      AbsoluteNormalPath(CurrentExecutablePath().parent_path());
  if (!ResolveAppPaths(kAppFolderName, &paths_, nullptr)) {
    paths_ = FillAppPaths(executable_folder / kFallbackFolderName);
  }
  for (const auto* folder : {&paths_.root, &paths_.logs_folder, &paths_.migration_folder}) {
    if (!CreateDirectories(*folder, error)) return false;
  }
  if (!single_instance_guard_.Acquire(kSingleInstanceName, paths_.root, error)) return false;

  std::error_code no_working_folder;
  std::filesystem::path working_folder = std::filesystem::current_path(no_working_folder);
  runtime_state_ = std::make_unique<RuntimeState>(
      SettingsStore(paths_, LegacySettingsCandidates(executable_folder, working_folder), {}));
  if (!runtime_state_->LoadSettings(error)) {
    Shutdown();
    return false;
  }

  localization_ = std::make_unique<Localization>();
  if (!InitializeLocalization(localization_.get(), error)) {
    Shutdown();
    return false;
  }

  key_binding_service_ = std::make_unique<KeyBindingService>(runtime_state_.get());
  if (!key_binding_service_->Initialize(error)) {
    Shutdown();
    return false;
  }
  // Headless, the program runs on with push-to-talk from the web client only.
  std::string no_hotkeys = key_binding_service_->RawInputInactiveReason();
  if (!no_hotkeys.empty()) WriteLogLine(paths_.logs_folder, "KeyBindingService", no_hotkeys);

  profile_service_ = std::make_unique<ProfileService>(runtime_state_.get());

  windows_audio_manager_ = std::make_unique<WindowsAudioManager>(paths_.audio_backup_file);
  std::string no_route_monitor;
  // The program works on without route warnings.
  if (!windows_audio_manager_->StartRouteMonitoring([this] { return RouteMonitorContext(); },
                                                    &no_route_monitor) &&
      !no_route_monitor.empty()) {
    WriteLogLine(paths_.logs_folder, kLogTag,
                 "Windows audio route monitoring could not start: " + no_route_monitor);
  }

  RecoverWindowsAudioAtStartup();

  WriteLogLine(paths_.logs_folder, kLogTag, "Ruzerad started; data folder " + paths_.root.string());
  initialized_ = true;
  return true;
}

int AppHost::Run() {
  if (!initialized_) return 1;
  WaitForTerminationRequest();
  WriteLogLine(paths_.logs_folder, kLogTag, "Exit requested");
  return 0;
}

AudioRouteMonitorContext AppHost::RouteMonitorContext() const {
  AudioRouteMonitorContext context;
  if (!runtime_state_) return context;
  RuntimeSnapshot snapshot = runtime_state_->GetSnapshot();
  const MixerSettings& settings = snapshot.settings;
  context.mixer_running = snapshot.mixer_running;
  context.cable_verified = settings.audio_management_enabled &&
                           settings.audio_management_consent_granted &&
                           !settings.verified_game_voice_input_id.empty() &&
                           HasCableOutputNamePrefix(settings.verified_game_voice_input_name);
  context.verified_cable_id = settings.verified_game_voice_input_id;
  context.verified_cable_name = settings.verified_game_voice_input_name;
  return context;
}

void AppHost::RecoverWindowsAudioAtStartup() {
  if (!windows_audio_manager_ || !windows_audio_manager_->HasActiveSession()) return;
  WindowsAudioStatus status;
  windows_audio_manager_->GetStatus(&status);
  auto known = [](const std::string& name) { return name.empty() ? std::string("Unknown") : name; };
  // Any answer but yes keeps the backup active: the restore at exit applies it later.
  if (!AskToRestoreWindowsAudio(known(status.current_session_output_name),
                                known(status.current_session_input_name))) {
    return;
  }
  AudioRestoreResult result;
  std::string error;
  if (!windows_audio_manager_->RestoreSession(&result, &error) && !error.empty()) {
    WriteLogLine(paths_.logs_folder, kLogTag, "Startup Windows audio recovery failed: " + error);
  }
}

bool AppHost::AskToRestoreWindowsAudio(const std::string& output_name,
                                       const std::string& input_name) {
  WriteLogLine(paths_.logs_folder, kLogTag,
               "Ruzerad did not restore your audio settings last time; restoring the saved "
               "defaults (Output: " +
                   output_name + ", Input: " + input_name + ")");
  return true;
}

void AppHost::RestoreWindowsAudio() {
  if (!windows_audio_manager_) return;
  AudioRestoreResult result;
  std::string error;
  if (!windows_audio_manager_->RestoreSession(&result, &error) && !error.empty()) {
    WriteLogLine(paths_.logs_folder, kLogTag, "Windows audio restore failed: " + error);
  }
}

void AppHost::Shutdown() {
  if (shutting_down_) return;
  shutting_down_ = true;
  if (initialized_) WriteLogLine(paths_.logs_folder, kLogTag, "Shutting down");
  if (windows_audio_manager_) windows_audio_manager_->StopRouteMonitoring();
  localization_.reset();
  RestoreWindowsAudio();
  windows_audio_manager_.reset();
  profile_service_.reset();
  if (key_binding_service_) key_binding_service_->Stop();
  key_binding_service_.reset();
  runtime_state_.reset();
  single_instance_guard_.Release();
  effective_http_port_ = kDefaultHttpPort;
  initialized_ = false;
  shutting_down_ = false;
}

}  // namespace zennic
