#include "api/device_lookups.h"
#include "api/http_api.h"
#include "engine/mixer_device_choice.h"
#include "engine/mixer_engine.h"
#include "model/mixer_settings_json.h"
#include "model/runtime_state.h"
#include "model/text.h"
#include "server/json_envelope.h"

namespace zennic {
namespace {

JsonValue IndexJson(std::optional<int32_t> index) {
  return index ? JsonValue(static_cast<double>(*index)) : JsonValue();
}

}  // namespace

void HttpApi::RegisterSettingsRoutes() {
  routes_.emplace("/api/mixer/settings/load",
                  [this](const JsonValue&) { return HandleSettingsLoad(); });
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
  reply["mic_index"] = IndexJson(mic);
  reply["out_index"] = IndexJson(out);
  reply["monitor_index"] = IndexJson(monitor);
  reply["loaded_from_disk"] = loaded_from_disk;
  reply["microphone_invalid_cable_output"] = cable_microphone;
  reply["setup_required"] = cable_microphone;
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
        return ErrorResponse(500, "mixer_stop_failed",
                             error.empty() ? "Mixer could not be stopped before reset" : error);
      }
    }
  } else {
    config_.runtime_state->SetVoiceKeyActive(false);
    config_.runtime_state->SetMixerRunning(false);
  }
  std::string error;
  if (!config_.runtime_state->ResetSettings(&error)) {
    return ErrorResponse(500, "settings_reset_failed",
                         error.empty() ? "Failed to reset settings" : error);
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
