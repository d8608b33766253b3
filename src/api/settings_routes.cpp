#include "api/device_lookups.h"
#include "api/http_api.h"
#include "engine/mixer_engine.h"
#include "model/mixer_settings_json.h"
#include "model/profile_service.h"
#include "model/runtime_state.h"
#include "server/json_envelope.h"

namespace zennic {

void HttpApi::RegisterSettingsRoutes() {
  routes_.emplace("/api/mixer/settings/load",
                  [this](const JsonValue&) { return HandleSettingsLoad(); });
  routes_.emplace("/api/mixer/settings/save",
                  [this](const JsonValue& body) { return HandleSettingsSave(body); });
  routes_.emplace("/api/mixer/settings/reset",
                  [this](const JsonValue&) { return HandleSettingsReset(); });
}

HttpResponse HttpApi::HandleSettingsLoad() {
  RuntimeSnapshot snapshot = config_.runtime_state->GetSnapshot();
  bool loaded_from_disk = config_.runtime_state->GetSettingsLoadResult().loaded_from_disk;
  const MixerSettings& settings = snapshot.settings;
  // The cable's recording side is the game's voice; as the microphone it would loop back.
  bool cable_microphone = IsCableDeviceName(settings.mic_name);

  std::optional<int32_t> mic = snapshot.mic_index;
  std::optional<int32_t> out = snapshot.out_index;
  std::optional<int32_t> monitor = snapshot.monitor_index;
  MixerDeviceList devices;
  bool enumerated = false;
  std::string listing_error;
  // Without a listing the stored indices are the best there is; the page still loads.
  if (EnumerateDevices(&devices, &enumerated, &listing_error) && enumerated) {
    mic =
        cable_microphone ? std::nullopt : StoredDeviceIndex(devices.inputs, mic, settings.mic_name);
    out = StoredDeviceIndex(devices.outputs, out, settings.out_name);
    monitor = StoredDeviceIndex(devices.outputs, monitor, settings.monitor_name);
    config_.runtime_state->SetDeviceIndices(mic, out, monitor);
  }

  JsonValue reply = JsonValue::MakeObject();
  reply["settings"] = MixerSettingsToJson(settings);
  reply["mic_index"] = DeviceIndexJson(mic);
  reply["out_index"] = DeviceIndexJson(out);
  reply["monitor_index"] = DeviceIndexJson(monitor);
  reply["loaded_from_disk"] = loaded_from_disk;
  reply["microphone_invalid_cable_output"] = cable_microphone;
  reply["setup_required"] = cable_microphone;
  reply["effective_server_port"] = static_cast<double>(ServerPort());
  return MakeJsonResponse(reply);
}

HttpResponse HttpApi::HandleSettingsSave(const JsonValue& body) {
  if (std::optional<HttpResponse> refusal = RefuseCableMicrophone(body)) return *refusal;
  if (std::optional<HttpResponse> refusal =
          RefuseMissingClip(body, config_.runtime_state->GetSettings())) {
    return *refusal;
  }
  // Applied inside the one update, so a change that lands between reading the settings and
  // saving them (a profile, the inbox, the monitor switch) is not undone.
  std::string error;
  if (!config_.runtime_state->MutateSettings(
          [&](MixerSettings& settings) {
            ApplySettingsJson(&settings, body, true);
            if (config_.profile_service != nullptr) {
              ProfileService::ClearSelectionsOutsideActiveRoot(&settings, nullptr);
            }
          },
          true, &error)) {
    return ApiRefusal(500, "settings_save_failed", error, "Failed to save settings");
  }
  JsonValue reply = JsonValue::MakeObject();
  reply["settings"] = MixerSettingsToJson(config_.runtime_state->GetSettings());
  reply["effective_server_port"] = static_cast<double>(ServerPort());
  return MakeJsonResponse(reply);
}

HttpResponse HttpApi::HandleSettingsReset() {
  // A mixer start running beside the reset would leave the engine on the old settings.
  std::lock_guard audio_lock(audio_mutex_);
  if (config_.mixer_engine != nullptr) {
    if (config_.runtime_state->GetSnapshot().mixer_running) {
      std::string error;
      if (!config_.mixer_engine->Stop(&error)) {
        return ApiRefusal(500, "mixer_stop_failed", error,
                          "Mixer could not be stopped before reset");
      }
    }
  } else {
    config_.runtime_state->SetVoiceKeyActive(false);
    config_.runtime_state->SetMixerRunning(false);
  }
  std::string error;
  if (!config_.runtime_state->ResetSettings(&error)) {
    return ApiRefusal(500, "settings_reset_failed", error, "Failed to reset settings");
  }

  MixerSettings defaults = config_.runtime_state->GetSettings();
  bool restart_required = ServerPort() != defaults.server_port;
  JsonValue reply = JsonValue::MakeObject();
  reply["settings"] = MixerSettingsToJson(defaults);
  reply["loaded_from_disk"] = false;
  reply["effective_server_port"] = static_cast<double>(ServerPort());
  reply["restart_required"] = restart_required;
  reply["message"] = restart_required
                         ? "Defaults restored. The default server port applies after restart."
                         : "Defaults restored.";
  return MakeJsonResponse(reply);
}

}  // namespace zennic
