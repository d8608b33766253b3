// The host's native notices: the start-up audio recovery and the restores, the welcome window,
// the About box and the port warning.

#include <optional>
#include <system_error>

#include "app/app_host.h"
#include "core/app_log.h"

namespace zennic {
namespace {

constexpr char kWelcomeFlagFile[] = "first_run_welcome_suppressed.flag";

}  // namespace

std::optional<WindowsAudioStatus> AppHost::SessionLeftChanged() const {
  if (!windows_audio_manager_ || !windows_audio_manager_->HasActiveSession()) return std::nullopt;
  WindowsAudioStatus status;
  windows_audio_manager_->GetStatus(&status);
  return status;
}

void AppHost::RecoverWindowsAudioAtStartup(const WindowsAudioStatus& status) {
  auto known = [](const std::string& name) { return name.empty() ? std::string("Unknown") : name; };
  std::string caption = Localize("native.audio_recovery.title", "Restore Windows Audio Settings");
  std::string question = Localize(
      "native.audio_recovery.message",
      "Ruzerad did not restore your audio settings last time.\n\nRestore these saved defaults "
      "now?\n\nOutput: {{output}}\nInput: {{input}}",
      {{"output", known(status.current_session_output_name)},
       {"input", known(status.current_session_input_name)}});
  // Any answer but yes keeps the backup active: the restore at exit applies it later. Nobody
  // to ask means restoring, which can only help.
  if (!tray_->AskYesNo(caption, question, true)) return;
  AudioRestoreResult result;
  std::string error;
  if (windows_audio_manager_->RestoreSession(&result, &error)) return;
  tray_->ShowMessageBox(
      MessageBoxIcon::Warning, caption,
      Localize("native.audio_recovery.failed",
               "Ruzerad could not restore the saved Windows audio settings.\n\nOpen Windows "
               "Sound settings and choose your headphones/speakers for output and CABLE Output "
               "for input if needed."));
  if (!error.empty()) {
    WriteLogLine(paths_.logs_folder, kLogTag, "Startup Windows audio recovery failed: " + error);
  }
}

void AppHost::RestoreWindowsAudio() {
  if (!windows_audio_manager_) return;
  // The engine lets go of the cable before the defaults it was using are put back.
  if (mixer_engine_) mixer_engine_->Stop(nullptr);
  AudioRestoreResult result;
  std::string error;
  if (!windows_audio_manager_->RestoreSession(&result, &error) && !error.empty()) {
    WriteLogLine(paths_.logs_folder, kLogTag, "Windows audio restore failed: " + error);
  }
}

void AppHost::ShowFirstRunWelcome() {
  std::filesystem::path flag_file = paths_.root / kWelcomeFlagFile;
  std::error_code unreadable;  // counts as absent
  if (std::filesystem::exists(paths_.settings_file, unreadable) ||
      std::filesystem::exists(flag_file, unreadable)) {
    return;
  }
  WelcomeOptions options;
  options.address = BuildLocalUrl();
  options.flag_file = flag_file;
  options.title = Localize("native.welcome.title", "");
  options.copy_button = Localize("native.welcome.copy_button", "");
  options.ok_button = Localize("native.welcome.ok_button", "");
  options.checkbox = Localize("native.welcome.checkbox", "");
  bool icon = tray_->ShowsIcon();
  if (icon) {
    options.intro = Localize("native.welcome.body_intro", "");
    options.outro = Localize("native.welcome.body_outro", "");
  } else {
    // Nothing to right-click: a second start names the address instead.
    options.intro = Localize("native.welcome.body_intro_no_tray",
                             "Ruzerad is running. To open the UI, paste this URL into your "
                             "browser or Steam overlay browser:");
    options.outro = Localize("native.welcome.body_outro_no_tray",
                             "You can find this URL anytime by starting Ruzerad again.");
  }
  if (tray_->RunWelcome(options)) return;
  std::string text =
      icon ? Localize("native.welcome.fallback_prefix",
                      "Ruzerad is running in your system tray.\n\nTo open the UI, paste this URL "
                      "into your browser or Steam overlay browser:\n\n") +
                 options.address +
                 Localize("native.welcome.fallback_suffix",
                          "\n\nYou can find this URL anytime by right-clicking the Ruzerad icon "
                          "in the system tray.")
           : options.intro + "\n\n" + options.address + "\n\n" + options.outro;
  tray_->ShowMessageBox(MessageBoxIcon::Information,
                        Localize("native.welcome.title", "Ruzerad is running"), text);
}

void AppHost::ShowAbout() {
  tray_->ShowMessageBox(MessageBoxIcon::Information, Localize("native.about.title", "About Ruzerad"),
                        Localize("native.about.body", "Ruzerad\nVersion {{version}}",
                                 {{"version", kProgramVersion}}));
}

void AppHost::ShowPortWarning(uint16_t requested, uint16_t effective) {
  std::string url = BuildLocalUrl();
  Localization::Parameters ports = {{"requested_port", std::to_string(requested)},
                                    {"effective_port", std::to_string(effective)}};
  std::string title = Localize("native.port_warning.title", "Ruzerad Port Warning");
  tray_->ShowNotification(
      title, Localize("native.port_warning.balloon_message",
                      "Configured port {{requested_port}} was unavailable. Running on "
                      "127.0.0.1:{{effective_port}}.",
                      ports));
  ports["url"] = url;
  // The program keeps running on the effective port; the configured one stays in the settings.
  tray_->ShowMessageBox(
      MessageBoxIcon::Warning, title,
      tray_->ShowsIcon()
          ? Localize("native.port_warning.message",
                     "The configured localhost port {{requested_port}} is already in use.\n\n"
                     "Ruzerad started on a different available port instead:\n\n{{url}}\n\nUse "
                     "the system tray icon to open or copy the current URL.",
                     ports)
          : Localize("native.port_warning.message_no_tray",
                     "The configured localhost port {{requested_port}} is already in use.\n\n"
                     "Ruzerad started on a different available port instead:\n\n{{url}}",
                     ports));
}

}  // namespace zennic
