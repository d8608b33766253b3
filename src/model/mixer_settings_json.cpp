#include "model/mixer_settings_json.h"

#include <cerrno>
#include <cstdlib>

#include "core/localization.h"
#include "model/key_catalog.h"
#include "core/text.h"

namespace zennic {
namespace {

constexpr size_t kMaxCustomPresets = 10;
constexpr size_t kMaxSoundLinks = 20;
constexpr size_t kMaxPresetNameBytes = 40;
constexpr int32_t kDefaultServerPort = 5000;
constexpr int32_t kLowestServerPort = 1024;
constexpr int32_t kHighestServerPort = 65535;

bool CheckReaderArguments(const JsonValue& value, const void* out, const char* type_name,
                          std::string* error) {
  if (out == nullptr) {
    if (error) *error = std::string(type_name) + " output pointer is null";
    return false;
  }
  if (value.type != JsonValue::Type::Object) {
    if (error) *error = std::string(type_name) + " JSON value is not an object";
    return false;
  }
  return true;
}

int32_t JsonToInt32(const JsonValue* member, int32_t fallback) {
  return JsonNumberToInt32(JsonToNumber(member, fallback));
}

JsonValue Int32ToJson(int32_t value) { return JsonValue(static_cast<double>(value)); }

const JsonValue* MemberOfType(const JsonValue& object, const std::string& key,
                              JsonValue::Type type) {
  const JsonValue* member = object.Find(key);
  return member != nullptr && member->type == type ? member : nullptr;
}

template <typename Record, typename Reader>
void ReadArrayOfObjects(const JsonValue& array, const Record& fresh, Reader read,
                        std::vector<Record>* out) {
  out->clear();
  for (const JsonValue& element : array.array_value) {
    Record record = fresh;
    if (read(element, &record, nullptr)) out->push_back(std::move(record));
  }
}

template <typename Record, typename Writer>
JsonValue WriteArray(const std::vector<Record>& records, Writer write) {
  JsonValue array = JsonValue::MakeArray();
  for (const Record& record : records) array.PushBack(write(record));
  return array;
}

void NormalizeCustomPresets(MixerSettings* settings) {
  std::vector<VoiceEffectCustomPreset> kept;
  std::set<std::string> ids;
  std::set<std::string> lower_names;
  for (const VoiceEffectCustomPreset& preset : settings->voice_effect_custom_presets) {
    if (kept.size() >= kMaxCustomPresets) break;
    VoiceEffectCustomPreset copy = preset;
    ClampVoiceEffectCustomValues(&copy.values);
    copy.name = MakeUniqueCustomPresetName(preset.name, lower_names, kept.size());
    copy.id = MakeUniqueCustomPresetId(preset.id.empty() ? copy.name : preset.id, ids);
    ids.insert(copy.id);
    lower_names.insert(ToLower(copy.name));
    kept.push_back(std::move(copy));
  }
  settings->voice_effect_custom_presets = std::move(kept);

  std::string& chosen = settings->voice_effect_custom_preset_id;
  chosen = Trim(chosen);
  if (!chosen.empty() && ids.count(chosen) == 0) chosen.clear();
  if (settings->voice_effect_preset != "custom") chosen.clear();
}

void NormalizeVerifiedCable(MixerSettings* settings) {
  std::string* fields[] = {&settings->verified_game_voice_output_id,
                           &settings->verified_game_voice_output_name,
                           &settings->verified_game_voice_input_id,
                           &settings->verified_game_voice_input_name};
  bool any_empty = false;
  for (std::string* field : fields) {
    *field = Trim(*field);
    any_empty = any_empty || field->empty();
  }
  // A half-remembered cable would pass for a verified one.
  if (any_empty) {
    for (std::string* field : fields) field->clear();
  }
}

void NormalizeKeys(MixerSettings* settings) {
  if (!IsValidKeyBinding(settings->ptt_trigger_key)) {
    settings->ptt_trigger_key = DefaultPttTriggerKey();
  }
  if (!IsValidKeyBinding(settings->voice_chat_key)) {
    settings->voice_chat_key = DefaultVoiceChatKey();
  }
  if (settings->panic_trigger_key && !IsValidKeyBinding(*settings->panic_trigger_key)) {
    settings->panic_trigger_key.reset();
  }
}

void NormalizeProfiles(MixerSettings* settings) {
  if (settings->profiles.empty()) settings->profiles.push_back(DefaultProfile());
  for (Profile& profile : settings->profiles) {
    if (profile.id.empty()) profile.id = "default";
    if (profile.name.empty()) profile.name = "Default";
    if (profile.audio_dir.empty()) profile.audio_dir = DefaultAudioDirUtf8();
  }
}

void NormalizeSoundLinks(MixerSettings* settings) {
  std::vector<SoundLink> kept;
  std::set<std::string> ids;
  for (const SoundLink& link : settings->sound_links) {
    if (kept.size() >= kMaxSoundLinks) break;
    SoundLink copy{Trim(link.id), Trim(link.name), Trim(link.url)};
    if (copy.id.empty() || copy.url.empty()) continue;
    if (copy.name.empty()) copy.name = copy.url;
    if (!ids.insert(copy.id).second) continue;
    kept.push_back(std::move(copy));
  }
  settings->sound_links = std::move(kept);
}

void NormalizeSelectedProfile(MixerSettings* settings) {
  for (const Profile& profile : settings->profiles) {
    if (profile.id == settings->selected_profile_id) return;
  }
  settings->selected_profile_id = settings->profiles.front().id;
}

}  // namespace

double JsonToNumber(const JsonValue* member, double fallback) {
  if (member == nullptr) return fallback;
  if (member->type == JsonValue::Type::Number) return member->number_value;
  if (member->type != JsonValue::Type::String) return fallback;
  const char* text = member->string_value.c_str();
  char* end = nullptr;
  errno = 0;
  double value = std::strtod(text, &end);
  if (end == text || errno == ERANGE) return fallback;
  return value;
}

bool JsonToBool(const JsonValue* member, bool fallback) {
  if (member == nullptr) return fallback;
  switch (member->type) {
    case JsonValue::Type::Bool:
      return member->bool_value;
    case JsonValue::Type::Number:
      return member->number_value != 0.0;
    case JsonValue::Type::String: {
      std::string text = ToLower(member->string_value);
      return text == "1" || text == "true" || text == "yes";
    }
    default:
      return fallback;
  }
}

std::string JsonStringOr(const JsonValue* member, const std::string& fallback) {
  return member != nullptr && member->type == JsonValue::Type::String ? member->string_value
                                                                      : fallback;
}

std::string ReadJsonString(const JsonValue& object, const std::string& key) {
  return object.GetString(key, "");
}

JsonValue KeyBindingToJson(const KeyBinding& binding) {
  JsonValue json = JsonValue::MakeObject();
  json["id"] = binding.id;
  json["label"] = binding.label;
  json["browser_key"] = binding.browser_key;
  json["browser_code"] = binding.browser_code;
  json["location"] = Int32ToJson(binding.location);
  json["vk"] = Int32ToJson(binding.vk);
  json["scan_code"] = Int32ToJson(binding.scan_code);
  json["extended"] = binding.extended;
  json["source"] = binding.source;
  return json;
}

JsonValue ProfileToJson(const Profile& profile) {
  JsonValue json = JsonValue::MakeObject();
  json["id"] = profile.id;
  json["name"] = profile.name;
  json["audio_dir"] = profile.audio_dir;
  return json;
}

JsonValue SoundLinkToJson(const SoundLink& link) {
  JsonValue json = JsonValue::MakeObject();
  json["id"] = link.id;
  json["name"] = link.name;
  json["url"] = link.url;
  return json;
}

JsonValue VoiceEffectCustomValuesToJson(const VoiceEffectCustomValues& values) {
  JsonValue json = JsonValue::MakeObject();
  json["tone"] = values.tone;
  json["depth"] = values.depth;
  json["clarity"] = values.clarity;
  json["radio"] = values.radio;
  json["output_level"] = values.output_level;
  return json;
}

JsonValue VoiceEffectCustomPresetToJson(const VoiceEffectCustomPreset& preset) {
  JsonValue json = JsonValue::MakeObject();
  json["id"] = preset.id;
  json["name"] = preset.name;
  json["values"] = VoiceEffectCustomValuesToJson(preset.values);
  return json;
}

JsonValue MixerSettingsToJson(const MixerSettings& settings) {
  JsonValue json = JsonValue::MakeObject();
  json["version"] = Int32ToJson(3);
  json["server_port"] = Int32ToJson(settings.server_port);
  json["ui_language"] = settings.ui_language;
  json["mic_name"] = settings.mic_name;
  json["out_name"] = settings.out_name;
  json["monitor_name"] = settings.monitor_name;
  json["monitor_enabled"] = settings.monitor_enabled;
  json["audio_management_enabled"] = settings.audio_management_enabled;
  json["audio_management_consent_granted"] = settings.audio_management_consent_granted;
  json["verified_game_voice_output_id"] = settings.verified_game_voice_output_id;
  json["verified_game_voice_output_name"] = settings.verified_game_voice_output_name;
  json["verified_game_voice_input_id"] = settings.verified_game_voice_input_id;
  json["verified_game_voice_input_name"] = settings.verified_game_voice_input_name;
  json["mic_volume"] = settings.mic_volume;
  json["sfx_volume"] = settings.sfx_volume;
  json["hold_voice_key"] = settings.hold_voice_key;
  json["loop"] = settings.loop;
  json["voice_effects_enabled"] = settings.voice_effects_enabled;
  json["voice_effect_preset"] = settings.voice_effect_preset;
  json["voice_effect_strength"] = settings.voice_effect_strength;
  json["voice_effect_custom_preset_id"] = settings.voice_effect_custom_preset_id;
  json["voice_effect_custom_values"] =
      VoiceEffectCustomValuesToJson(settings.voice_effect_custom_values);
  json["voice_effect_custom_presets"] =
      WriteArray(settings.voice_effect_custom_presets, VoiceEffectCustomPresetToJson);
  json["ptt_trigger_key"] = KeyBindingToJson(settings.ptt_trigger_key);
  json["voice_chat_key"] = KeyBindingToJson(settings.voice_chat_key);
  json["panic_trigger_key"] =
      settings.panic_trigger_key ? KeyBindingToJson(*settings.panic_trigger_key) : JsonValue();
  json["selected_profile_id"] = settings.selected_profile_id;
  json["file_path"] = settings.file_path;
  json["panic_file_path"] = settings.panic_file_path;
  json["convert_keep_originals"] = settings.convert_keep_originals;
  json["convert_overwrite_existing"] = settings.convert_overwrite_existing;
  json["sound_inbox_enabled"] = settings.sound_inbox_enabled;
  json["sound_inbox_dir"] = settings.sound_inbox_dir;
  json["sound_links"] = WriteArray(settings.sound_links, SoundLinkToJson);
  json["profiles"] = WriteArray(settings.profiles, ProfileToJson);
  return json;
}

bool KeyBindingFromJson(const JsonValue& value, KeyBinding* out, std::string* error) {
  if (!CheckReaderArguments(value, out, "KeyBinding", error)) return false;
  const KeyBinding defaults;
  out->id = JsonStringOr(value.Find("id"), defaults.id);
  out->label = JsonStringOr(value.Find("label"), defaults.label);
  out->browser_key = JsonStringOr(value.Find("browser_key"), defaults.browser_key);
  out->browser_code = JsonStringOr(value.Find("browser_code"), defaults.browser_code);
  out->location = JsonToInt32(value.Find("location"), defaults.location);
  out->vk = JsonToInt32(value.Find("vk"), defaults.vk);
  out->scan_code = JsonToInt32(value.Find("scan_code"), defaults.scan_code);
  out->extended = JsonToBool(value.Find("extended"), defaults.extended);
  out->source = JsonStringOr(value.Find("source"), defaults.source);
  return true;
}

bool ProfileFromJson(const JsonValue& value, Profile* out, std::string* error) {
  if (!CheckReaderArguments(value, out, "Profile", error)) return false;
  out->id = JsonStringOr(value.Find("id"), "default");
  out->name = JsonStringOr(value.Find("name"), "Default");
  out->audio_dir = JsonStringOr(value.Find("audio_dir"), DefaultAudioDirUtf8());
  return true;
}

bool SoundLinkFromJson(const JsonValue& value, SoundLink* out, std::string* error) {
  if (!CheckReaderArguments(value, out, "SoundLink", error)) return false;
  out->id = JsonStringOr(value.Find("id"), {});
  out->name = JsonStringOr(value.Find("name"), {});
  out->url = JsonStringOr(value.Find("url"), {});
  return true;
}

bool VoiceEffectCustomValuesFromJson(const JsonValue& value, VoiceEffectCustomValues* out,
                                     std::string* error) {
  if (!CheckReaderArguments(value, out, "VoiceEffectCustomValues", error)) return false;
  out->tone = JsonToNumber(value.Find("tone"), out->tone);
  out->depth = JsonToNumber(value.Find("depth"), out->depth);
  out->clarity = JsonToNumber(value.Find("clarity"), out->clarity);
  out->radio = JsonToNumber(value.Find("radio"), out->radio);
  out->output_level = JsonToNumber(value.Find("output_level"), out->output_level);
  return true;
}

bool VoiceEffectCustomPresetFromJson(const JsonValue& value, VoiceEffectCustomPreset* out,
                                     std::string* error) {
  if (!CheckReaderArguments(value, out, "VoiceEffectCustomPreset", error)) return false;
  out->id = JsonStringOr(value.Find("id"), {});
  out->name = JsonStringOr(value.Find("name"), {});
  if (const JsonValue* values = MemberOfType(value, "values", JsonValue::Type::Object)) {
    VoiceEffectCustomValuesFromJson(*values, &out->values, nullptr);
  }
  return true;
}

bool MixerSettingsFromJson(const JsonValue& value, MixerSettings* out, std::string* error) {
  if (!CheckReaderArguments(value, out, "MixerSettings", error)) return false;
  MixerSettings settings = MakeDefaultMixerSettings();
  auto text = [&](const char* key, const std::string& fallback) {
    return JsonStringOr(value.Find(key), fallback);
  };
  auto flag = [&](const char* key, bool fallback) { return JsonToBool(value.Find(key), fallback); };
  auto number = [&](const char* key, double fallback) {
    return JsonToNumber(value.Find(key), fallback);
  };

  settings.version = JsonToInt32(value.Find("version"), settings.version);
  settings.server_port = JsonToInt32(value.Find("server_port"), settings.server_port);
  settings.ui_language = text("ui_language", settings.ui_language);
  settings.mic_name = text("mic_name", settings.mic_name);
  settings.out_name = text("out_name", settings.out_name);
  settings.monitor_name = text("monitor_name", settings.monitor_name);
  settings.monitor_enabled = flag("monitor_enabled", settings.monitor_enabled);
  settings.audio_management_enabled =
      flag("audio_management_enabled", settings.audio_management_enabled);
  settings.audio_management_consent_granted =
      flag("audio_management_consent_granted", settings.audio_management_consent_granted);
  settings.verified_game_voice_output_id =
      text("verified_game_voice_output_id", settings.verified_game_voice_output_id);
  settings.verified_game_voice_output_name =
      text("verified_game_voice_output_name", settings.verified_game_voice_output_name);
  settings.verified_game_voice_input_id =
      text("verified_game_voice_input_id", settings.verified_game_voice_input_id);
  settings.verified_game_voice_input_name =
      text("verified_game_voice_input_name", settings.verified_game_voice_input_name);
  settings.mic_volume = number("mic_volume", settings.mic_volume);
  settings.sfx_volume = number("sfx_volume", settings.sfx_volume);
  // Files of the first format called this flag "hold_k".
  settings.hold_voice_key = flag("hold_voice_key", flag("hold_k", true));
  settings.loop = flag("loop", settings.loop);
  settings.voice_effects_enabled = flag("voice_effects_enabled", settings.voice_effects_enabled);
  settings.voice_effect_preset = text("voice_effect_preset", settings.voice_effect_preset);
  settings.voice_effect_strength = text("voice_effect_strength", settings.voice_effect_strength);
  settings.voice_effect_custom_preset_id =
      text("voice_effect_custom_preset_id", settings.voice_effect_custom_preset_id);
  settings.selected_profile_id = text("selected_profile_id", settings.selected_profile_id);
  settings.file_path = text("file_path", settings.file_path);
  settings.panic_file_path = text("panic_file_path", settings.panic_file_path);
  settings.convert_keep_originals = flag("convert_keep_originals", settings.convert_keep_originals);
  settings.convert_overwrite_existing =
      flag("convert_overwrite_existing", settings.convert_overwrite_existing);
  settings.sound_inbox_enabled = flag("sound_inbox_enabled", settings.sound_inbox_enabled);
  settings.sound_inbox_dir = text("sound_inbox_dir", settings.sound_inbox_dir);

  if (const JsonValue* values =
          MemberOfType(value, "voice_effect_custom_values", JsonValue::Type::Object)) {
    VoiceEffectCustomValuesFromJson(*values, &settings.voice_effect_custom_values, nullptr);
  }
  if (const JsonValue* key = MemberOfType(value, "ptt_trigger_key", JsonValue::Type::Object)) {
    KeyBindingFromJson(*key, &settings.ptt_trigger_key, nullptr);
  }
  if (const JsonValue* key = MemberOfType(value, "voice_chat_key", JsonValue::Type::Object)) {
    KeyBindingFromJson(*key, &settings.voice_chat_key, nullptr);
  }
  if (const JsonValue* key = MemberOfType(value, "panic_trigger_key", JsonValue::Type::Object)) {
    KeyBinding panic;
    if (KeyBindingFromJson(*key, &panic, nullptr) && IsValidKeyBinding(panic)) {
      settings.panic_trigger_key = panic;
    }
  }
  if (const JsonValue* links = MemberOfType(value, "sound_links", JsonValue::Type::Array)) {
    ReadArrayOfObjects(*links, SoundLink{}, SoundLinkFromJson, &settings.sound_links);
  }
  if (const JsonValue* presets =
          MemberOfType(value, "voice_effect_custom_presets", JsonValue::Type::Array)) {
    ReadArrayOfObjects(*presets, VoiceEffectCustomPreset{}, VoiceEffectCustomPresetFromJson,
                       &settings.voice_effect_custom_presets);
  }
  if (const JsonValue* profiles = MemberOfType(value, "profiles", JsonValue::Type::Array)) {
    ReadArrayOfObjects(*profiles, DefaultProfile(), ProfileFromJson, &settings.profiles);
  }

  NormalizeMixerSettings(&settings);
  *out = std::move(settings);
  return true;
}

void NormalizeMixerSettings(MixerSettings* settings) {
  if (settings == nullptr) return;
  settings->version = 3;
  if (settings->server_port < kLowestServerPort || settings->server_port > kHighestServerPort) {
    settings->server_port = kDefaultServerPort;
  }
  settings->ui_language = NormalizeLanguageTag(settings->ui_language);
  settings->mic_volume = ClampVolume(settings->mic_volume);
  settings->sfx_volume = ClampVolume(settings->sfx_volume);
  settings->voice_effect_preset = NormalizeVoiceEffectPreset(settings->voice_effect_preset);
  settings->voice_effect_strength = NormalizeVoiceEffectStrength(settings->voice_effect_strength);
  ClampVoiceEffectCustomValues(&settings->voice_effect_custom_values);
  NormalizeCustomPresets(settings);
  NormalizeVerifiedCable(settings);
  NormalizeKeys(settings);
  NormalizeProfiles(settings);
  NormalizeSoundLinks(settings);
  settings->sound_inbox_dir = Trim(settings->sound_inbox_dir);
  if (settings->sound_inbox_dir.empty()) settings->sound_inbox_enabled = false;
  NormalizeSelectedProfile(settings);
}

std::string TrimPresetCandidate(const std::string& candidate, size_t max_bytes) {
  std::string trimmed = Trim(candidate);
  if (trimmed.size() <= max_bytes) return trimmed;
  return Trim(CutUtf8(trimmed, max_bytes));
}

std::string MakeUniqueCustomPresetName(const std::string& candidate,
                                       const std::set<std::string>& names_in_use, size_t kept) {
  std::string base = TrimPresetCandidate(candidate, kMaxPresetNameBytes);
  if (base.empty()) base = "Custom " + std::to_string(kept + 1);
  std::string name = base;
  for (int n = 2; names_in_use.count(ToLower(name)) != 0; ++n) {
    std::string suffix = " " + std::to_string(n);
    std::string stem = base;
    if (base.size() + suffix.size() > kMaxPresetNameBytes) {
      stem = Trim(CutUtf8(base, kMaxPresetNameBytes - suffix.size()));
    }
    name = stem + suffix;
  }
  return name;
}

std::string MakeUniqueCustomPresetId(const std::string& candidate,
                                     const std::set<std::string>& ids_in_use) {
  std::string base = MakeSlug(candidate);
  std::string id = base;
  for (int n = 2; ids_in_use.count(id) != 0; ++n) id = base + "-" + std::to_string(n);
  return id;
}

}  // namespace zennic
