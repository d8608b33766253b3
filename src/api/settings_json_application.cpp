#include <filesystem>
#include <system_error>

#include "api/device_lookups.h"
#include "api/http_api.h"
#include "model/key_catalog.h"
#include "model/mixer_settings_json.h"
#include "core/paths.h"
#include "model/profile_service.h"
#include "core/text.h"

namespace zennic {
namespace {

const JsonValue* Member(const JsonValue& body, const char* key, JsonValue::Type type) {
  const JsonValue* member = body.Find(key);
  return member != nullptr && member->type == type ? member : nullptr;
}

void ApplyString(const JsonValue& body, const char* key, std::string* target) {
  if (const JsonValue* member = Member(body, key, JsonValue::Type::String)) {
    *target = member->string_value;
  }
}

void ApplyBool(const JsonValue& body, const char* key, bool* target) {
  if (const JsonValue* member = Member(body, key, JsonValue::Type::Bool)) {
    *target = member->bool_value;
  }
}

void ApplyNumber(const JsonValue& body, const char* key, double* target) {
  if (const JsonValue* member = Member(body, key, JsonValue::Type::Number)) {
    *target = member->number_value;
  }
}

// A binding object replaces the key only when it names a usable key.
std::optional<KeyBinding> ValidBinding(const JsonValue& value) {
  KeyBinding binding;
  if (!KeyBindingFromJson(value, &binding, nullptr) || !IsValidKeyBinding(binding)) {
    return std::nullopt;
  }
  return binding;
}

void ApplyBinding(const JsonValue& body, const char* key, KeyBinding* target) {
  if (const JsonValue* member = Member(body, key, JsonValue::Type::Object)) {
    if (std::optional<KeyBinding> binding = ValidBinding(*member)) *target = *binding;
  }
}

// The push-to-talk key as older clients send it: a name and a label.
void ApplyLegacyPushToTalkKey(const JsonValue& body, KeyBinding* target) {
  std::string hotkey = body.GetString("hotkey", "");
  std::string label = body.GetString("hotkey_label", hotkey);
  std::string key_name = body.GetString("hotkey_key", "");
  if (label.empty() && key_name.empty()) return;
  *target = KeyBindingFromLegacyName(label, key_name);
}

}  // namespace

bool HttpApi::ApplySettingsJson(MixerSettings* settings, const JsonValue& body,
                                bool allow_audio_dir) const {
  if (settings == nullptr || body.type != JsonValue::Type::Object) return false;

  ApplyString(body, "mic_name", &settings->mic_name);
  if (const JsonValue* out_name = Member(body, "out_name", JsonValue::Type::String)) {
    // Another output is no longer the cable the setup check verified; the same cable written
    // differently still is.
    if (!settings->verified_game_voice_output_name.empty() &&
        NormalizeChoiceKey(out_name->string_value) !=
            NormalizeChoiceKey(settings->verified_game_voice_output_name)) {
      settings->verified_game_voice_output_id.clear();
      settings->verified_game_voice_output_name.clear();
      settings->verified_game_voice_input_id.clear();
      settings->verified_game_voice_input_name.clear();
    }
    settings->out_name = out_name->string_value;
  }
  ApplyString(body, "monitor_name", &settings->monitor_name);
  ApplyBool(body, "monitor_enabled", &settings->monitor_enabled);
  ApplyBool(body, "audio_management_enabled", &settings->audio_management_enabled);
  ApplyBool(body, "audio_management_consent_granted",
            &settings->audio_management_consent_granted);
  ApplyNumber(body, "mic_volume", &settings->mic_volume);
  ApplyNumber(body, "sfx_volume", &settings->sfx_volume);
  ApplyBool(body, "voice_effects_enabled", &settings->voice_effects_enabled);
  ApplyString(body, "voice_effect_preset", &settings->voice_effect_preset);
  ApplyString(body, "voice_effect_strength", &settings->voice_effect_strength);
  ApplyString(body, "voice_effect_custom_preset_id", &settings->voice_effect_custom_preset_id);
  if (const JsonValue* values = Member(body, "voice_effect_custom_values", JsonValue::Type::Object)) {
    VoiceEffectCustomValues read;
    if (VoiceEffectCustomValuesFromJson(*values, &read, nullptr)) {
      settings->voice_effect_custom_values = read;
    }
  }
  if (const JsonValue* presets = Member(body, "voice_effect_custom_presets", JsonValue::Type::Array)) {
    settings->voice_effect_custom_presets.clear();
    for (const JsonValue& element : presets->array_value) {
      VoiceEffectCustomPreset preset;
      if (VoiceEffectCustomPresetFromJson(element, &preset, nullptr)) {
        settings->voice_effect_custom_presets.push_back(preset);
      }
    }
  }
  if (Member(body, "hold_voice_key", JsonValue::Type::Bool) != nullptr) {
    ApplyBool(body, "hold_voice_key", &settings->hold_voice_key);
  } else {
    ApplyBool(body, "hold_k", &settings->hold_voice_key);
  }
  ApplyBool(body, "loop", &settings->loop);
  ApplyString(body, "file_path", &settings->file_path);
  ApplyString(body, "panic_file_path", &settings->panic_file_path);
  if (Member(body, "ptt_trigger_key", JsonValue::Type::Object) != nullptr) {
    ApplyBinding(body, "ptt_trigger_key", &settings->ptt_trigger_key);
  } else {
    ApplyLegacyPushToTalkKey(body, &settings->ptt_trigger_key);
  }
  ApplyBinding(body, "voice_chat_key", &settings->voice_chat_key);
  if (const JsonValue* panic = body.Find("panic_trigger_key")) {
    if (panic->type == JsonValue::Type::Null) {
      settings->panic_trigger_key.reset();
    } else if (panic->type == JsonValue::Type::Object) {
      if (std::optional<KeyBinding> binding = ValidBinding(*panic)) {
        settings->panic_trigger_key = binding;
      }
    }
  }
  ApplyBool(body, "convert_keep_originals", &settings->convert_keep_originals);
  ApplyBool(body, "convert_overwrite_existing", &settings->convert_overwrite_existing);
  ApplyString(body, "ui_language", &settings->ui_language);
  // Saturated rather than cast: 1e999 or 1e10 must not become an arbitrary port; the
  // normalisation below then turns anything out of range into 5000.
  if (std::optional<int32_t> port = JsonMemberInt32(body, "server_port")) {
    settings->server_port = *port;
  }
  if (allow_audio_dir) ApplyAudioDir(settings, body.GetString("audio_dir", ""));

  NormalizeMixerSettings(settings);
  return true;
}

void HttpApi::ApplyAudioDir(MixerSettings* settings, const std::string& audio_dir) const {
  if (audio_dir.empty()) return;
  if (config_.profile_service != nullptr) {
    ProfileService::SetActiveAudioDirectory(settings, audio_dir, nullptr);
    return;
  }
  Profile* active = ProfileService::FindProfile(*settings, settings->selected_profile_id);
  if (active == nullptr && !settings->profiles.empty()) active = &settings->profiles.front();
  if (active != nullptr) active->audio_dir = WideToUtf8(AbsoluteNormalPath(Utf8ToPath(audio_dir)));
}

std::optional<HttpResponse> HttpApi::RefuseCableMicrophone(const JsonValue& body) {
  const JsonValue* mic_name = body.Find("mic_name");
  if (mic_name == nullptr || mic_name->type != JsonValue::Type::String ||
      !IsCableDeviceName(mic_name->string_value)) {
    return std::nullopt;
  }
  return ApiRefusal(400, "microphone_invalid_cable_output",
                    "CABLE Output / CABLE Out cannot be saved as Your microphone. Select a "
                    "physical microphone.");
}

bool HttpApi::IsExistingClipFile(const std::string& path) {
  std::error_code error;
  return !path.empty() && std::filesystem::is_regular_file(Utf8ToPath(path), error);
}

std::optional<HttpResponse> HttpApi::RefuseMissingClip(const JsonValue& body,
                                                       const MixerSettings& current) {
  auto chosen_anew = [&body](const char* key, const std::string& in_force) {
    const JsonValue* member = Member(body, key, JsonValue::Type::String);
    return member != nullptr && !member->string_value.empty() &&
           member->string_value != in_force && !IsExistingClipFile(member->string_value);
  };
  if (chosen_anew("file_path", current.file_path)) {
    return ApiRefusal(404, "file_not_found", "Selected file does not exist");
  }
  if (chosen_anew("panic_file_path", current.panic_file_path)) {
    return ApiRefusal(409, "path_unavailable", "The selected Panic sound is no longer available.");
  }
  return std::nullopt;
}

}  // namespace zennic
