#include <filesystem>
#include <system_error>

#include "api/http_api.h"
#include "engine/mixer_engine.h"
#include "core/paths.h"
#include "model/profile_service.h"
#include "model/runtime_state.h"
#include "core/text.h"
#include "server/json_envelope.h"
#include "sound_files/analyzer_service.h"

namespace zennic {

void HttpApi::RegisterMixerControlRoutes() {
  routes_.emplace("/api/mixer/monitor_enable",
                  [this](const JsonValue& body) { return HandleMonitorEnable(body); });
  routes_.emplace("/api/mixer/set", [this](const JsonValue& body) { return HandleSet(body); });
  routes_.emplace("/api/mixer/ptt/start", [this](const JsonValue&) { return HandlePttStart(); });
  routes_.emplace("/api/mixer/ptt/stop", [this](const JsonValue&) { return HandlePttStop(); });
}

HttpResponse HttpApi::HandleSet(const JsonValue& body) {
  if (std::optional<HttpResponse> refusal = RefuseCableMicrophone(body)) return *refusal;
  if (std::optional<HttpResponse> refusal =
          RefuseMissingClip(body, config_.runtime_state->GetSettings())) {
    return *refusal;
  }
  std::string error;
  // In memory only, as volumes and effects change many times a second; saving is the settings
  // route's business. A chosen clip is the exception: the user expects it after a restart. It
  // is saved soon after, so that the click is answered without waiting for the disk (whose
  // two syncs took seconds on a busy one).
  const JsonValue* clip = body.Find("file_path");
  const auto apply = [this, &body](MixerSettings& settings) {
    ApplySettingsJson(&settings, body, false);
  };
  if (clip != nullptr && clip->type == JsonValue::Type::String) {
    config_.runtime_state->MutateSettingsAndSaveSoon(apply);
  } else if (!config_.runtime_state->MutateSettings(apply, false, &error)) {
    return ApiRefusal(500, "settings_update_failed", error, "The settings could not be saved.");
  }
  std::string file_path = config_.runtime_state->GetSettings().file_path;
  JsonValue reply = JsonValue::MakeObject();
  reply["mixer"] = BuildStatusJson();
  reply["selected_file"]["path"] = file_path;
  reply["selected_file"]["compatibility_state"] = file_path.empty() ? "none" : "unknown";
  return MakeJsonResponse(reply);
}

HttpResponse HttpApi::HandleMonitorEnable(const JsonValue& body) {
  const JsonValue* enabled = body.Find("enabled");
  if (enabled == nullptr || enabled->type != JsonValue::Type::Bool) {
    return ApiRefusal(400, "invalid_monitor_enabled", "enabled must be a boolean");
  }
  bool value = enabled->bool_value;
  std::string error;
  bool changed = config_.mixer_engine != nullptr
                     ? config_.mixer_engine->SetMonitorEnabled(value, &error)
                     : config_.runtime_state->MutateSettings(
                           [value](MixerSettings& settings) { settings.monitor_enabled = value; },
                           false, &error);
  if (!changed) return ApiRefusal(500, "settings_update_failed", error);
  JsonValue reply = JsonValue::MakeObject();
  reply["mixer"] = BuildStatusJson();
  return MakeJsonResponse(reply);
}

HttpResponse HttpApi::HandlePttStart() {
  MixerSettings settings = config_.runtime_state->GetSettings();
  if (settings.file_path.empty()) {
    return ApiRefusal(400, "file_not_selected", "A file must be selected before PTT starts");
  }
  std::filesystem::path clip = AbsoluteNormalPath(Utf8ToPath(settings.file_path));
  std::error_code status_error;
  std::filesystem::file_status status = std::filesystem::status(clip, status_error);
  if (status.type() == std::filesystem::file_type::not_found) {
    return ApiRefusal(404, "file_not_found", "Selected file does not exist");
  }
  if (status_error) throw std::filesystem::filesystem_error("exists", clip, status_error);

  if (config_.analyzer != nullptr) {
    AnalyzerFileMetadata metadata;
    // An analysis that fails decides nothing: the engine's own loading has the last word.
    if (config_.analyzer->AnalyzeFile(ProfileService::ActiveAudioDirectory(settings), clip,
                                      &metadata, nullptr)) {
      if (metadata.compatibility_state == "needs_conversion") {
        JsonValue details = JsonValue::MakeObject();
        details["path"] = metadata.path;
        details["issues"] = BuildStringArrayJson(metadata.issue_messages);
        return MakeJsonErrorResponse(409, "file_requires_conversion",
                                     "Selected file requires conversion", details);
      }
      if (metadata.compatibility_state == "unsupported" ||
          metadata.compatibility_state == "error") {
        return ApiRefusal(409, "file_unsupported",
                       "Selected file is not playable in the current build");
      }
    }
  }

  if (config_.mixer_engine == nullptr) {
    config_.runtime_state->SetVoiceKeyActive(true);
    return MakeJsonResponse(JsonValue::MakeObject());
  }
  std::string error;
  if (!config_.mixer_engine->StartPtt(true, &error)) {
    if (config_.runtime_state->GetSnapshot().mixer_running) {
      return ApiRefusal(409, "ptt_start_failed", error, "PTT could not be started");
    }
    return ApiRefusal(409, "mixer_not_running", error, "Mixer is not running");
  }
  return MakeJsonResponse(JsonValue::MakeObject());
}

HttpResponse HttpApi::HandlePttStop() {
  if (config_.mixer_engine == nullptr) {
    config_.runtime_state->SetVoiceKeyActive(false);
    return MakeJsonResponse(JsonValue::MakeObject());
  }
  std::string error;
  if (!config_.mixer_engine->StopPtt(&error)) return ApiRefusal(500, "ptt_stop_failed", error);
  return MakeJsonResponse(JsonValue::MakeObject());
}

}  // namespace zennic
