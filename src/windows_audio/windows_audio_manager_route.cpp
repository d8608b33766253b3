// Route monitoring and the route check: one warning, raised when the defaults no longer carry
// the cable as the session set it, or when the cable is left as the microphone without one.

#include "windows_audio/endpoint_rules.h"
#include "windows_audio/windows_audio_manager.h"

namespace zennic {

bool WindowsAudioManager::StartRouteMonitoring(std::function<AudioRouteMonitorContext()> provider,
                                               std::string* error) {
  StopRouteMonitoring();
  if (!provider) return Fail(error, "Windows audio monitor context provider is unavailable");
  auto monitor = std::make_unique<WindowsAudioRouteMonitor>(
      audio_systems_,
      [this, provider = std::move(provider)] {
        RefreshKnownDefaults(false);
        std::string ignored;
        CheckAudioRoute(provider(), &ignored);
      },
      [this](bool listening) {
        monitoring_active_ = listening;
        // Lost, the service answers no reading: the status says so at once.
        if (!listening) RefreshKnownDefaults(false);
      });
  if (!monitor->Start(error)) return false;
  std::lock_guard lock(monitor_mutex_);
  route_monitor_ = std::move(monitor);
  monitoring_active_ = true;
  return true;
}

void WindowsAudioManager::StopRouteMonitoring() {
  monitoring_active_ = false;
  std::unique_ptr<WindowsAudioRouteMonitor> monitor;
  {
    std::lock_guard lock(monitor_mutex_);
    monitor = std::move(route_monitor_);
  }
  if (!monitor) return;
  monitor->Stop();
  // The monitor may have reconnected while it was being stopped.
  monitoring_active_ = false;
  ForgetKnownDefaults();
}

bool WindowsAudioManager::CheckAudioRoute(const AudioRouteMonitorContext& context,
                                          std::string* error) {
  std::lock_guard lock(mutex_);
  AudioBackup backup;
  switch (BackupPresenceOnDisk()) {
    case BackupPresence::kUnknown:
      return Fail(error, "Windows audio backup state could not be checked");
    case BackupPresence::kPresent:
      if (!ReadKnownBackup(&backup, error)) return false;
      break;
    case BackupPresence::kMissing:
      break;
  }
  std::vector<AudioRoleEndpoint> current;
  if (!ReadKnownDefaults(&current, error)) return false;

  if (!context.mixer_running) {
    bool cable_is_microphone = false;
    for (const AudioRoleEndpoint& endpoint : current) {
      if (endpoint.flow == AudioFlow::kCapture && endpoint.present &&
          HasCableOutputNamePrefix(endpoint.name)) {
        cable_is_microphone = true;
      }
    }
    if (!backup.session_active && cable_is_microphone) {
      SetRouteWarning(true, "orphaned_cable_input",
                      "Windows is still using Ruzerad virtual microphone. Click Restore My Sound "
                      "to return to your normal microphone.");
    } else {
      SetRouteWarning(false, {}, {});
    }
  } else {
    bool route_broken = false;
    const std::string& cable_id = context.verified_cable_id;
    if (backup.session_active && context.cable_verified && !cable_id.empty() &&
        HasCableOutputNamePrefix(context.verified_cable_name)) {
      auto holds_cable = [&cable_id](const AudioRoleEndpoint* endpoint) {
        return endpoint != nullptr && endpoint->present && endpoint->id == cable_id;
      };
      for (AudioRole role : kAudioRoleOrder) {
        if (!holds_cable(FindRoleEndpoint(current, AudioFlow::kCapture, role)) ||
            !holds_cable(FindRoleEndpoint(backup.applied.endpoints, AudioFlow::kCapture, role))) {
          route_broken = true;
          break;
        }
      }
    }
    if (route_broken) {
      SetRouteWarning(true, "windows_input_changed",
                      "Windows microphone changed while Ruzerad was running. Other players may "
                      "not hear clips.");
    } else {
      SetRouteWarning(false, {}, {});
    }
  }
  if (error != nullptr) error->clear();
  return true;
}

void WindowsAudioManager::SetRouteWarning(bool raised, std::string code, std::string message) {
  std::lock_guard lock(warning_mutex_);
  route_warning_ = raised;
  route_warning_code_ = std::move(code);
  route_warning_message_ = std::move(message);
}

}  // namespace zennic
