#include <chrono>
#include <cmath>
#include <exception>

#include "api/device_lookups.h"
#include "api/http_api.h"
#include "engine/mixer_engine.h"
#include "model/mixer_settings_json.h"
#include "model/profile_service.h"
#include "model/runtime_state.h"
#include "core/text.h"
#include "server/json_envelope.h"
#include "sound_files/analyzer_service.h"
#include "sound_files/sound_inbox_service.h"
#include "windows_audio/windows_audio_manager.h"

namespace zennic {
namespace {

// The settings the status carries under their own names.
constexpr const char* kSettingsKeys[] = {
    "file_path",
    "hold_voice_key",
    "loop",
    "mic_volume",
    "monitor_enabled",
    "panic_file_path",
    "panic_trigger_key",
    "ptt_trigger_key",
    "selected_profile_id",
    "sfx_volume",
    "sound_links",
    "ui_language",
    "voice_chat_key",
    "voice_effect_custom_preset_id",
    "voice_effect_custom_presets",
    "voice_effect_custom_values",
    "voice_effect_preset",
    "voice_effect_strength",
    "voice_effects_enabled",
};

double Milliseconds(std::chrono::microseconds duration) {
  return std::round(static_cast<double>(duration.count()) / 100.0) / 10.0;
}

JsonValue DeviceHealthJson(const DeviceHealth& health) {
  JsonValue device = JsonValue::MakeObject();
  device["breaks"] = static_cast<double>(health.breaks);
  device["break_ms"] = Milliseconds(health.break_time);
  device["margin_ms"] = Milliseconds(health.margin);
  device["queue_ms"] = Milliseconds(health.queue);
  device["jitter_median_ms"] = Milliseconds(health.jitter_median);
  device["jitter_peak_ms"] = Milliseconds(health.jitter_peak);
  return device;
}

// The breaks of the run as a listener hears them, per device, and what the engine measured of
// their timing: the page shows the counts, a bug report the rest.
void AddAudioRoadHealth(const MixerEngine::AudioRoadHealth& health, JsonValue* status) {
  JsonValue dropouts = JsonValue::MakeObject();
  dropouts["microphone"] = static_cast<double>(health.microphone.breaks);
  dropouts["output"] = static_cast<double>(health.mix_output.breaks);
  dropouts["monitor"] = static_cast<double>(health.monitor.breaks);
  dropouts["total"] = static_cast<double>(health.microphone.breaks + health.mix_output.breaks +
                                          health.monitor.breaks);
  (*status)["dropouts"] = std::move(dropouts);
  JsonValue road = JsonValue::MakeObject();
  road["microphone"] = DeviceHealthJson(health.microphone);
  road["output"] = DeviceHealthJson(health.mix_output);
  road["monitor"] = DeviceHealthJson(health.monitor);
  (*status)["audio_road"] = std::move(road);
}

}  // namespace

JsonValue HttpApi::DeviceIndexJson(std::optional<int32_t> index) {
  return index ? JsonValue(static_cast<double>(*index)) : JsonValue();
}

void HttpApi::RegisterStatusRoute() {
  routes_.emplace("/api/mixer/status", [this](const JsonValue&) { return HandleStatus(); });
}

HttpResponse HttpApi::HandleStatus() {
  JsonValue reply = JsonValue::MakeObject();
  reply["mixer"] = BuildStatusJson();
  return MakeJsonResponse(reply);
}

JsonValue HttpApi::BuildAlertsJson() const {
  JsonValue alerts = JsonValue::MakeArray();
  if (config_.analyzer != nullptr && !config_.analyzer->media_foundation_available()) {
    std::string notice = Trim(config_.analyzer->media_foundation_message());
    if (!notice.empty()) alerts.PushBack(notice);
  }
  return alerts;
}

std::string HttpApi::SelectedClipState(const MixerSettings& settings) const {
  if (settings.file_path.empty()) return "none";
  if (!IsExistingClipFile(settings.file_path)) return "missing";
  if (config_.analyzer == nullptr) return "unknown";
  // The web client polls this: a clip that cannot even be named reads as unknown, not as a
  // failed status.
  try {
    AnalyzerFileMetadata metadata;
    // A clip the analyser cannot read is one the engine refuses to load as well.
    if (!config_.analyzer->AnalyzeFile(ProfileService::ActiveAudioDirectory(settings),
                                       Utf8ToPath(settings.file_path), &metadata, nullptr)) {
      return "error";
    }
    return metadata.compatibility_state;
  } catch (const std::exception&) {
  }
  return "unknown";
}

JsonValue HttpApi::BuildStatusJson() {
  RuntimeSnapshot snapshot = config_.runtime_state->GetSnapshot();
  const MixerSettings& settings = snapshot.settings;
  JsonValue settings_json = MixerSettingsToJson(settings);
  JsonValue status = JsonValue::MakeObject();
  for (const char* key : kSettingsKeys) status[key] = settings_json[key];

  const Profile* profile = ProfileService::ActiveProfile(settings);
  status["alerts"] = BuildAlertsJson();
  // A run whose devices stopped goes on, and plays again once they are back; until then the
  // page says so, and the alerts say which and why.
  for (const std::string& failure : snapshot.audio_device_failures) {
    status["alerts"].PushBack(failure);
  }
  status["devices_stopped"] = snapshot.mixer_running && !snapshot.audio_device_failures.empty();
  status["audio_dir"] = profile != nullptr ? profile->audio_dir : DefaultAudioDirUtf8();
  status["available"] = true;
  status["engine_channels"] = 2.0;
  status["engine_sample_rate"] = 48000.0;
  const std::string clip_state = SelectedClipState(settings);
  status["file_compatible_state"] = clip_state;
  status["has_file"] = clip_state != "none" && clip_state != "missing";
  status["mic_device"] = DeviceIndexJson(snapshot.mic_index);
  status["monitor_device"] = DeviceIndexJson(snapshot.monitor_index);
  status["out_device"] = DeviceIndexJson(snapshot.out_index);
  status["ptt_active"] = snapshot.ptt_active;
  status["running"] = snapshot.mixer_running;
  if (config_.mixer_engine != nullptr) {
    AddAudioRoadHealth(config_.mixer_engine->GetAudioRoadHealth(), &status);
  }
  status["server_port"] = static_cast<double>(ServerPort());

  SoundInboxStatus inbox;
  if (config_.sound_inbox_service != nullptr) {
    inbox = config_.sound_inbox_service->GetStatus();
  } else {
    inbox.enabled = settings.sound_inbox_enabled;
    inbox.folder_path = settings.sound_inbox_dir;
    inbox.phase = inbox.enabled ? "watching" : "disabled";
    inbox.message = inbox.enabled ? "Watching folder" : "Sound Inbox is disabled";
  }
  status["sound_inbox"] = BuildSoundInboxStatusJson(inbox);

  if (config_.windows_audio_manager != nullptr) {
    // Every read refreshes the route warning, so a poll sees a route that broke quietly.
    config_.windows_audio_manager->CheckAudioRoute(VoicePathStateOf(snapshot), nullptr);
    WindowsAudioStatus audio;
    config_.windows_audio_manager->GetStatus(&audio);
    status["audio_management"] = WindowsAudioStatusToJson(audio);
  }
  return status;
}

}  // namespace zennic
