#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <string>

#include "app/app_paths.h"
#include "app/localization.h"
#include "app/single_instance_guard.h"
#include "engine/key_binding_service.h"
#include "model/profile_service.h"
#include "model/runtime_state.h"
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

  // True when start-up completed (or had already); false with an English message otherwise.
  bool Initialize(std::string* error);
  // Runs until the program is asked to end; returns the exit code.
  int Run();
  // Ordered, idempotent teardown; leaves the host as constructed.
  void Shutdown();

  const AppPaths& paths() const { return paths_; }

 private:
  static constexpr uint16_t kDefaultHttpPort = 5000;

  // The route monitor's view of the program, taken fresh on the monitor's thread.
  AudioRouteMonitorContext RouteMonitorContext() const;
  // Offers to restore the defaults that an earlier run left changed.
  void RecoverWindowsAudioAtStartup();
  // The start-up question. Without a dialog the answer is the safe one: restore.
  bool AskToRestoreWindowsAudio(const std::string& output_name, const std::string& input_name);
  // On exit and at shutdown: puts back the defaults of a session still recorded.
  void RestoreWindowsAudio();

  SingleInstanceGuard single_instance_guard_;
  std::unique_ptr<RuntimeState> runtime_state_;
  std::unique_ptr<KeyBindingService> key_binding_service_;
  std::unique_ptr<ProfileService> profile_service_;
  std::unique_ptr<WindowsAudioManager> windows_audio_manager_;
  std::unique_ptr<Localization> localization_;
  AppPaths paths_;
  std::atomic<uint16_t> effective_http_port_{kDefaultHttpPort};
  bool initialized_ = false;
  bool shutting_down_ = false;
};

}  // namespace zennic
