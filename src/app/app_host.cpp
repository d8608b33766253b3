#include "app/app_host.h"

#include <system_error>

#include "app/app_log.h"
#include "model/files.h"
#include "model/paths.h"
#include "platform/executable_path.h"
#include "platform/termination_signals.h"

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

void AppHost::Shutdown() {
  if (shutting_down_) return;
  shutting_down_ = true;
  if (initialized_) WriteLogLine(paths_.logs_folder, kLogTag, "Shutting down");
  localization_.reset();
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
