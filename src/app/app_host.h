#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>

#include "api/http_api.h"
#include "app/tray_host.h"
#include "core/app_paths.h"
#include "core/localization.h"
#include "core/single_instance_guard.h"
#include "engine/key_binding_service.h"
#include "engine/mixer_engine.h"
#include "model/profile_service.h"
#include "model/runtime_state.h"
#include "server/embedded_web_assets.h"
#include "server/help_module.h"
#include "server/local_http_server.h"
#include "sound_files/analyzer_service.h"
#include "sound_files/converter_service.h"
#include "sound_files/sound_inbox_service.h"
#include "update/update_service.h"
#include "windows_audio/windows_audio_manager.h"

namespace zennic {

// Owns every service of the program: builds and starts them in one fixed order, wires them
// with plain pointers, and stops and frees them in the reverse order.
class AppHost {
 public:
  AppHost() = default;
  ~AppHost();
  AppHost(const AppHost&) = delete;
  AppHost& operator=(const AppHost&) = delete;

  static constexpr char kProgramVersion[] = "1.0.4";

  // True when start-up completed (or had already); false with an English message otherwise,
  // which is logged too. Never throws: what a step throws ends start-up with its message.
  bool Initialize(std::string* error);
  // Runs until the program is asked to end; returns the exit code.
  int Run();
  // Ordered, idempotent teardown; leaves the host as constructed.
  void Shutdown();

  const AppPaths& paths() const { return paths_; }
  // The web client's address on the port the server really listens on; no trailing slash.
  std::string BuildLocalUrl() const;

  // A native text in the language in force, else English, else `fallback`, with its
  // placeholders filled. The language is looked up at every call, so a change applies at once.
  std::string Localize(const std::string& key, const std::string& fallback,
                       const Localization::Parameters& parameters = {}) const;

 private:
  static constexpr uint16_t kDefaultHttpPort = 5000;
  static constexpr char kLogTag[] = "AppHost";

  // The desktop shell when a display can be opened, else the console shell.
  void ChooseShell();
  // The icon and its menu, wired to the tray commands.
  bool CreateTray(std::string* error);
  void OpenInBrowser(const std::string& address);
  void CopyUrlAndNotify();
  void OpenSetupGuide();
  void ShowAbout();
  void ShowStartupNotification();
  // The configured port was taken: a notification and a box name the address really used.
  void ShowPortWarning(uint16_t requested, uint16_t effective);
  // Until the user ticks its box or saves a setting, the welcome window names the address.
  void ShowFirstRunWelcome();

  // The start-up steps in their order; tears down what it built when one fails.
  bool StartServices(std::string* error);
  // The route monitor's view of the program, taken fresh on the monitor's thread.
  AudioRouteMonitorContext RouteMonitorContext() const;
  // The defaults that an earlier run left changed, when it did.
  std::optional<WindowsAudioStatus> SessionLeftChanged() const;
  // Offers to restore them.
  void RecoverWindowsAudioAtStartup(const WindowsAudioStatus& left_changed);
  // On Exit, at the session's end and at shutdown: stops the engine and puts back the defaults
  // of a session still recorded.
  void RestoreWindowsAudio();

  bool StartWebServer(std::string* error);

  SingleInstanceGuard single_instance_guard_;
  std::unique_ptr<RuntimeState> runtime_state_;
  std::unique_ptr<KeyBindingService> key_binding_service_;
  std::unique_ptr<ProfileService> profile_service_;
  std::unique_ptr<AnalyzerService> analyzer_;
  std::unique_ptr<ConverterService> converter_;
  std::unique_ptr<MixerEngine> mixer_engine_;
  std::unique_ptr<WindowsAudioManager> windows_audio_manager_;
  std::unique_ptr<Localization> localization_;
  std::unique_ptr<UpdateService> update_service_;
  std::unique_ptr<SoundInboxService> sound_inbox_service_;
  std::unique_ptr<HelpModule> help_module_;
  std::unique_ptr<EmbeddedWebAssets> web_assets_;
  std::unique_ptr<HttpApi> http_api_;
  std::unique_ptr<LocalHttpServer> http_server_;
  std::unique_ptr<TrayHost> tray_;
  AppPaths paths_;
  std::atomic<uint16_t> effective_http_port_{kDefaultHttpPort};
  bool initialized_ = false;
  bool shutting_down_ = false;
};

}  // namespace zennic
