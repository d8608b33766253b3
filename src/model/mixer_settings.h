#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "model/key_binding.h"

namespace zennic {

// One clip library.
struct Profile {
  std::string id;
  std::string name;
  std::string audio_dir;  // UTF-8 path of the library's folder

  bool operator==(const Profile&) const = default;
};

// One saved sound web site.
struct SoundLink {
  std::string id;
  std::string name;
  std::string url;

  bool operator==(const SoundLink&) const = default;
};

// The "custom" voice effect's five controls, each 0..1.
struct VoiceEffectCustomValues {
  double tone = 0.5;
  double depth = 0.0;
  double clarity = 0.5;
  double radio = 0.0;
  double output_level = 0.5;

  bool operator==(const VoiceEffectCustomValues&) const = default;
};

struct VoiceEffectCustomPreset {
  std::string id;
  std::string name;
  VoiceEffectCustomValues values;

  bool operator==(const VoiceEffectCustomPreset&) const = default;
};

// The whole persisted configuration. A plain value: copied whole, changed only through the
// runtime state's update operation. The field names are the keys of its JSON form.
struct MixerSettings {
  MixerSettings();

  int32_t version = 3;
  int32_t server_port = 5000;
  std::string ui_language = "en";
  std::string mic_name;
  std::string out_name;
  std::string monitor_name;
  bool monitor_enabled = true;
  bool audio_management_enabled = false;
  bool audio_management_consent_granted = false;
  // The cable the setup check verified; the four are either all set or all empty.
  std::string verified_game_voice_output_id;
  std::string verified_game_voice_output_name;
  std::string verified_game_voice_input_id;
  std::string verified_game_voice_input_name;
  double mic_volume = 1.0;  // linear gain 0..2
  double sfx_volume = 1.0;
  bool hold_voice_key = true;
  bool loop = false;
  bool voice_effects_enabled = false;
  std::string voice_effect_preset = "off";
  std::string voice_effect_strength = "medium";
  std::string voice_effect_custom_preset_id;
  VoiceEffectCustomValues voice_effect_custom_values;
  std::vector<VoiceEffectCustomPreset> voice_effect_custom_presets;  // at most 10
  KeyBinding ptt_trigger_key;
  KeyBinding voice_chat_key;
  std::optional<KeyBinding> panic_trigger_key;
  std::string selected_profile_id = "default";
  std::vector<Profile> profiles;  // never empty once normalised
  std::string file_path;
  std::string panic_file_path;
  bool convert_keep_originals = true;
  bool convert_overwrite_existing = false;
  std::vector<SoundLink> sound_links;  // at most 20
  bool sound_inbox_enabled = false;
  std::string sound_inbox_dir;

  bool operator==(const MixerSettings&) const = default;
};

// The default-constructed settings speaking the user's language.
MixerSettings MakeDefaultMixerSettings();
Profile DefaultProfile();
// The default Sounds folder as UTF-8.
std::string DefaultAudioDirUtf8();

// 0..2; a value that is not finite gives 1.
double ClampVolume(double value);
// Each value into 0..1; one that is not finite takes its default first.
void ClampVoiceEffectCustomValues(VoiceEffectCustomValues* values);
// One of "off", "clean", "warm", "bright", "deep", "radio", "custom"; "off" for anything else.
std::string NormalizeVoiceEffectPreset(const std::string& preset);
// "low", "medium" or "high"; "subtle" and "strong" are older names; "medium" for anything else.
std::string NormalizeVoiceEffectStrength(const std::string& strength);

}  // namespace zennic
