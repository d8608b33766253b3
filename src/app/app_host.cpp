#include "app/app_host.h"

#include <cstdio>
#include <system_error>

#include "core/app_log.h"
#include "core/files.h"
#include "core/paths.h"
#include "platform/desktop_display.h"
#include "platform/executable_path.h"
#include "server/embedded_asset_table.h"
#include "windows_audio/endpoint_rules.h"

namespace zennic {
namespace {

constexpr char kAppFolderName[] = "Ruzerad";
constexpr char kFallbackFolderName[] = "DurevodIvov";
constexpr char kSingleInstanceName[] = "Local\\RuzeradNativeSingleInstance";
constexpr char kSessionCookieName[] = "zennic_session";
constexpr char kBindAddress[] = "127.0.0.1";

}  // namespace

AppHost::~AppHost() { Shutdown(); }

bool AppHost::Initialize(std::string* error) {
  if (initialized_) return true;
  std::string message;
  bool started = false;
  try {
    started = StartServices(&message);
  } catch (const std::exception& failure) {
    message = std::string("Ruzerad failed to initialize: ") + failure.what();
  } catch (...) {
    message.clear();
  }
  if (!started) {
    if (message.empty()) message = "Ruzerad failed to initialize.";
    try {
      Shutdown();
      if (!paths_.logs_folder.empty()) WriteLogLine(paths_.logs_folder, kLogTag, "Start-up failed: " + message);
    } catch (...) {
      // The message still reaches the user.
    }
  }
  if (error) *error = message;
  return started;
}

bool AppHost::StartServices(std::string* error) {

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
  // What an interrupted run left half-written goes before anything new is written.
  SweepAbandonedWorkFiles(paths_.root, /*recursive=*/true);
  SweepAbandonedWorkFiles(ProfileService::ActiveAudioDirectory(runtime_state_->GetSettings()),
                          /*recursive=*/true);
  HttpApi::SweepAbandonedTrimExports();

  localization_ = std::make_unique<Localization>(EmbeddedCatalogue);
  if (!InitializeLocalization(localization_.get(), error)) {
    Shutdown();
    return false;
  }
  // Before any thread starts: the desktop toolkit takes the process locale and X handlers.
  ChooseShell();

  key_binding_service_ = std::make_unique<KeyBindingService>(runtime_state_.get());
  if (!key_binding_service_->Initialize(error)) {
    Shutdown();
    return false;
  }
  // Headless, the program runs on with push-to-talk from the web client only.
  std::string no_hotkeys = key_binding_service_->RawInputInactiveReason();
  if (!no_hotkeys.empty()) WriteLogLine(paths_.logs_folder, "KeyBindingService", no_hotkeys);

  profile_service_ = std::make_unique<ProfileService>(runtime_state_.get());
  analyzer_ = std::make_unique<AnalyzerService>(AnalyzerServiceOptions());
  converter_ = std::make_unique<ConverterService>(analyzer_.get());
  // Started last, once everything it prepares into is in place.
  sound_inbox_service_ = std::make_unique<SoundInboxService>(
      runtime_state_.get(), profile_service_.get(), converter_.get(),
      paths_.sound_inbox_state_file, paths_.logs_folder);

  // From here on every raw key event reaches the engine; it plays nothing until started.
  mixer_engine_ = std::make_unique<MixerEngine>(runtime_state_.get(), key_binding_service_.get(),
                                                analyzer_.get(), profile_service_.get(),
                                                paths_.logs_folder);
  if (!mixer_engine_->Initialize(error)) {
    Shutdown();
    return false;
  }

  windows_audio_manager_ = std::make_unique<WindowsAudioManager>(
      paths_.audio_backup_file, ConnectAudioSystem, paths_.logs_folder);
  std::string no_route_monitor;
  // The program works on without route warnings.
  if (!windows_audio_manager_->StartRouteMonitoring([this] { return RouteMonitorContext(); },
                                                    &no_route_monitor) &&
      !no_route_monitor.empty()) {
    WriteLogLine(paths_.logs_folder, kLogTag,
                 "Windows audio route monitoring could not start: " + no_route_monitor);
  }

  // No fetch function: the service fetches over HTTPS itself, only when the web client asks.
  update_service_ = std::make_unique<UpdateService>(
      UpdateServiceOptions{kProgramVersion, kUpdateManifestUrl, nullptr, paths_.logs_folder});

  if (!StartWebServer(error)) {
    Shutdown();
    return false;
  }

  if (!CreateTray(error)) {
    Shutdown();
    return false;
  }
  sound_inbox_service_->Start();
  // Read before the start is logged: the question below is about the run before this one, not
  // about a session the web client may begin from here on.
  std::optional<WindowsAudioStatus> left_changed = SessionLeftChanged();
  // The program works from here on; the notices below may wait for the user for minutes.
  WriteLogLine(paths_.logs_folder, kLogTag, "Ruzerad started; data folder " + paths_.root.string());

  ShowStartupNotification();
  if (http_server_->used_fallback_port()) {
    ShowPortWarning(static_cast<uint16_t>(runtime_state_->GetSettings().server_port),
                    effective_http_port_);
  }
  if (left_changed) RecoverWindowsAudioAtStartup(*left_changed);
  ShowFirstRunWelcome();
  initialized_ = true;
  return true;
}

bool AppHost::StartWebServer(std::string* error) {
  help_module_ = std::make_unique<HelpModule>();
  if (!help_module_->Initialize(error)) return false;
  web_assets_ = std::make_unique<EmbeddedWebAssets>(kSessionCookieName, runtime_state_.get());
  if (!web_assets_->Load(error)) return false;

  HttpApiConfig api_config;
  api_config.runtime_state = runtime_state_.get();
  api_config.key_binding_service = key_binding_service_.get();
  api_config.profile_service = profile_service_.get();
  api_config.session_cookie_name = kSessionCookieName;
  api_config.analyzer = analyzer_.get();
  api_config.converter = converter_.get();
  api_config.mixer_engine = mixer_engine_.get();
  api_config.windows_audio_manager = windows_audio_manager_.get();
  api_config.sound_inbox_service = sound_inbox_service_.get();
  api_config.server_port = [this] { return effective_http_port_.load(); };
  api_config.update_service = update_service_.get();
  http_api_ = std::make_unique<HttpApi>(std::move(api_config));

  // The settings keep the port within 1024 to 65535.
  uint16_t requested = static_cast<uint16_t>(runtime_state_->GetSettings().server_port);
  LocalHttpServerOptions options;
  options.bind_address = kBindAddress;
  options.port = requested;
  options.log_folder = paths_.logs_folder;
  http_server_ = std::make_unique<LocalHttpServer>(std::move(options), web_assets_.get(),
                                                   http_api_.get());
  if (!http_server_->Start(error)) return false;
  effective_http_port_ = http_server_->effective_port();
  WriteLogLine(paths_.logs_folder, kLogTag, "Web client listening at " + BuildLocalUrl());
  // A second start names it: the user may have launched again to find the web client.
  single_instance_guard_.AnnounceAddress(BuildLocalUrl());
  return true;
}

int AppHost::Run() {
  if (!initialized_ || !tray_) return 1;
  int exit_code = tray_->RunMessageLoop();
  WriteLogLine(paths_.logs_folder, kLogTag, "Exit requested");
  return exit_code;
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

void AppHost::Shutdown() {
  if (shutting_down_) return;
  shutting_down_ = true;
  if (initialized_) WriteLogLine(paths_.logs_folder, kLogTag, "Shutting down");
  if (windows_audio_manager_) windows_audio_manager_->StopRouteMonitoring();
  if (tray_) tray_->Destroy();
  tray_.reset();
  // Answers the pickers still open, so the server's connection threads can end.
  CloseDesktopDisplay();
  if (http_server_) http_server_->Stop();
  http_server_.reset();
  http_api_.reset();
  if (sound_inbox_service_) sound_inbox_service_->Stop();
  sound_inbox_service_.reset();
  web_assets_.reset();
  help_module_.reset();
  localization_.reset();
  update_service_.reset();
  // The engine lets go of the cable before the defaults it was using are put back.
  if (mixer_engine_) mixer_engine_->Shutdown();
  mixer_engine_.reset();
  RestoreWindowsAudio();
  windows_audio_manager_.reset();
  converter_.reset();
  analyzer_.reset();
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
