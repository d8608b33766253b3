#include "model/mixer_settings_json.h"

#include <gtest/gtest.h>

#include "model/key_catalog.h"
#include "core/text.h"
#include "support/isolated_user.h"

namespace zennic {
namespace {

class SettingsJson : public ::testing::Test {
 protected:
  // Reads a settings document given as JSON text.
  MixerSettings Read(const std::string& text) {
    JsonValue document;
    std::string error;
    EXPECT_TRUE(JsonValue::Parse(text, &document, &error)) << text << ": " << error;
    MixerSettings settings;
    EXPECT_TRUE(MixerSettingsFromJson(document, &settings, &error)) << error;
    return settings;
  }

  // Reads a document with `member` and nothing else.
  MixerSettings ReadMember(const std::string& key, const std::string& json) {
    return Read("{\"" + key + "\":" + json + "}");
  }

  static std::string Presets(const std::vector<std::string>& objects) {
    std::string text = "[";
    for (size_t i = 0; i < objects.size(); ++i) text += (i ? "," : "") + objects[i];
    return text + "]";
  }

  testing::IsolatedUser user_{"fr_FR.UTF-8"};
};

TEST_F(SettingsJson, AnEmptyObjectReadsAsTheDefaultsInTheUsersLanguage) {
  MixerSettings settings = Read("{}");
  EXPECT_EQ(settings, MakeDefaultMixerSettings());
  EXPECT_EQ(settings.ui_language, "fr");
}

TEST_F(SettingsJson, ReadersRefuseANullOutputAndANonObject) {
  std::string error;
  EXPECT_FALSE(MixerSettingsFromJson(JsonValue::MakeObject(), nullptr, &error));
  EXPECT_EQ(error, "MixerSettings output pointer is null");
  MixerSettings settings;
  EXPECT_FALSE(MixerSettingsFromJson(JsonValue::MakeArray(), &settings, &error));
  EXPECT_EQ(error, "MixerSettings JSON value is not an object");
  KeyBinding binding;
  EXPECT_FALSE(KeyBindingFromJson(JsonValue("x"), &binding, &error));
  EXPECT_EQ(error, "KeyBinding JSON value is not an object");
  EXPECT_FALSE(ProfileFromJson(JsonValue(1.0), nullptr, &error));
  EXPECT_EQ(error, "Profile output pointer is null");
  SoundLink link;
  EXPECT_FALSE(SoundLinkFromJson(JsonValue(), &link, &error));
  EXPECT_EQ(error, "SoundLink JSON value is not an object");
  VoiceEffectCustomPreset preset;
  EXPECT_FALSE(VoiceEffectCustomPresetFromJson(JsonValue(true), &preset, &error));
  EXPECT_EQ(error, "VoiceEffectCustomPreset JSON value is not an object");
  EXPECT_FALSE(VoiceEffectCustomValuesFromJson(JsonValue::MakeObject(), nullptr, &error));
  EXPECT_EQ(error, "VoiceEffectCustomValues output pointer is null");
}

TEST_F(SettingsJson, PortsOutsideTheUnprivilegedRangeFallBackTo5000) {
  EXPECT_EQ(ReadMember("server_port", "80").server_port, 5000);
  EXPECT_EQ(ReadMember("server_port", "70000").server_port, 5000);
  EXPECT_EQ(ReadMember("server_port", "\"no digits\"").server_port, 5000);
  EXPECT_EQ(ReadMember("server_port", "\"8080\"").server_port, 8080);
  EXPECT_EQ(ReadMember("server_port", "\" 8080 and more\"").server_port, 8080);
  EXPECT_EQ(ReadMember("server_port", "1024").server_port, 1024);
  EXPECT_EQ(ReadMember("server_port", "65535").server_port, 65535);
  EXPECT_EQ(ReadMember("server_port", "5001.9").server_port, 5001);
  // Out of the integer range: never wraps into a valid port.
  EXPECT_EQ(ReadMember("server_port", "4294972296").server_port, 5000);  // 2^32 + 5000
  EXPECT_EQ(ReadMember("server_port", "-4294962296").server_port, 5000);
  EXPECT_EQ(ReadMember("server_port", "1e300").server_port, 5000);
  EXPECT_EQ(ReadMember("server_port", "\"nan\"").server_port, 5000);
  EXPECT_EQ(ReadMember("server_port", "\"1e999\"").server_port, 5000);
  EXPECT_EQ(ReadMember("server_port", "true").server_port, 5000);
}

TEST_F(SettingsJson, FlagsAreReadFromBoolsNumbersAndWords) {
  EXPECT_TRUE(ReadMember("loop", "\"Yes\"").loop);
  EXPECT_TRUE(ReadMember("loop", "\"TRUE\"").loop);
  EXPECT_TRUE(ReadMember("loop", "\"1\"").loop);
  EXPECT_FALSE(ReadMember("loop", "\"no\"").loop);
  EXPECT_FALSE(ReadMember("loop", "\"on\"").loop);
  EXPECT_FALSE(ReadMember("loop", "null").loop);
  EXPECT_TRUE(ReadMember("loop", "-0.5").loop);
  EXPECT_TRUE(ReadMember("monitor_enabled", "null").monitor_enabled);
  EXPECT_TRUE(ReadMember("monitor_enabled", "[]").monitor_enabled);
  EXPECT_FALSE(ReadMember("monitor_enabled", "0").monitor_enabled);
}

TEST_F(SettingsJson, TheOlderHoldFlagIsTheDefaultOfTheNewOne) {
  EXPECT_FALSE(Read(R"({"hold_k": false})").hold_voice_key);
  EXPECT_TRUE(Read(R"({"hold_k": false, "hold_voice_key": true})").hold_voice_key);
  EXPECT_TRUE(Read("{}").hold_voice_key);
}

TEST_F(SettingsJson, VolumesAreClampedAndNumbersInTextAreRead) {
  EXPECT_EQ(ReadMember("mic_volume", "5").mic_volume, 2.0);
  EXPECT_EQ(ReadMember("mic_volume", "-3").mic_volume, 0.0);
  EXPECT_EQ(ReadMember("mic_volume", "\"0.25dB\"").mic_volume, 0.25);
  EXPECT_EQ(ReadMember("sfx_volume", "\"1e999\"").sfx_volume, 1.0);
  EXPECT_EQ(ReadMember("sfx_volume", "\"nan\"").sfx_volume, 1.0);
  EXPECT_EQ(ReadMember("sfx_volume", "{}").sfx_volume, 1.0);
}

TEST_F(SettingsJson, AtMostTenPresetsAreKept) {
  std::vector<std::string> twelve;
  for (int i = 1; i <= 12; ++i) twelve.push_back(R"({"name":"P)" + std::to_string(i) + "\"}");
  MixerSettings settings = ReadMember("voice_effect_custom_presets", Presets(twelve));
  ASSERT_EQ(settings.voice_effect_custom_presets.size(), 10u);
  EXPECT_EQ(settings.voice_effect_custom_presets.front().name, "P1");
  EXPECT_EQ(settings.voice_effect_custom_presets.back().name, "P10");
}

TEST_F(SettingsJson, PresetNamesAndIdsAreMadeUnique) {
  MixerSettings settings = ReadMember(
      "voice_effect_custom_presets",
      Presets({R"({"name":"Warm"})", R"({"name":"warm"})", R"({"name":""})", R"({"name":"  "})",
               R"({"name":"A","id":"My Preset"})", R"({"name":"B","id":"My Preset"})",
               R"({"name":"Смех"})", "17"}));
  const auto& presets = settings.voice_effect_custom_presets;
  ASSERT_EQ(presets.size(), 7u);  // the number is no preset
  auto pair = [](const VoiceEffectCustomPreset& p) { return p.name + "|" + p.id; };
  EXPECT_EQ(pair(presets[0]), "Warm|warm");
  EXPECT_EQ(pair(presets[1]), "warm 2|warm-2");
  EXPECT_EQ(pair(presets[2]), "Custom 3|custom-3");
  EXPECT_EQ(pair(presets[3]), "Custom 4|custom-4");
  EXPECT_EQ(pair(presets[4]), "A|my-preset");
  EXPECT_EQ(pair(presets[5]), "B|my-preset-2");
  EXPECT_EQ(pair(presets[6]), "Смех|default");  // no Latin letters to make an id of
}

TEST_F(SettingsJson, EmptyPresetNamesCountFromOne) {
  MixerSettings settings =
      ReadMember("voice_effect_custom_presets", Presets({R"({"name":""})", R"({"id":""})"}));
  const auto& presets = settings.voice_effect_custom_presets;
  ASSERT_EQ(presets.size(), 2u);
  EXPECT_EQ(presets[0].name + "|" + presets[0].id, "Custom 1|custom-1");
  EXPECT_EQ(presets[1].name + "|" + presets[1].id, "Custom 2|custom-2");
}

TEST_F(SettingsJson, LongPresetNamesAreCutTo40BytesAndMadeRoomForTheSuffix) {
  std::string forty(40, 'x');
  forty[37] = ' ';
  MixerSettings settings = ReadMember(
      "voice_effect_custom_presets",
      Presets({"{\"name\":\"" + forty + "yyy\"}", "{\"name\":\"" + forty + "\"}"}));
  const auto& presets = settings.voice_effect_custom_presets;
  ASSERT_EQ(presets.size(), 2u);
  EXPECT_EQ(presets[0].name, forty);
  // The first 38 bytes end in a blank, which the trim removes before the suffix.
  EXPECT_EQ(presets[1].name, std::string(37, 'x') + " 2");
}

TEST_F(SettingsJson, PresetNamesAreNeverCutInsideACharacter) {
  // 39 ASCII bytes and a two-byte letter: 41 bytes, so the letter must go whole.
  std::string name = std::string(39, 'a') + "\xC3\xA9";
  // Three-byte characters: a collision suffix must not split one either.
  std::string wide;
  for (int i = 0; i < 14; ++i) wide += "\xE2\x82\xAC";  // 42 bytes of euro signs
  MixerSettings settings = ReadMember(
      "voice_effect_custom_presets",
      Presets({"{\"name\":\"" + name + "\"}", "{\"name\":\"" + wide + "\"}",
               "{\"name\":\"" + wide + "\"}"}));
  const auto& presets = settings.voice_effect_custom_presets;
  ASSERT_EQ(presets.size(), 3u);
  EXPECT_EQ(presets[0].name, std::string(39, 'a'));
  EXPECT_EQ(presets[1].name.size(), 39u);  // 13 whole euro signs
  EXPECT_EQ(presets[2].name.size(), 38u);  // 12 euro signs, " 2"
  for (const auto& preset : presets) {
    EXPECT_TRUE(IsValidUtf8(preset.name)) << preset.name;
    EXPECT_LE(preset.name.size(), 40u);
  }
}

TEST_F(SettingsJson, TheChosenCustomPresetMustExistAndBeInUse) {
  std::string presets = R"("voice_effect_custom_presets":[{"name":"Deep Voice"}])";
  EXPECT_EQ(Read("{" + presets +
                 R"(,"voice_effect_preset":"custom","voice_effect_custom_preset_id":" deep-voice "})")
                .voice_effect_custom_preset_id,
            "deep-voice");
  EXPECT_EQ(Read("{" + presets +
                 R"(,"voice_effect_preset":"warm","voice_effect_custom_preset_id":"deep-voice"})")
                .voice_effect_custom_preset_id,
            "");
  EXPECT_EQ(Read("{" + presets +
                 R"(,"voice_effect_preset":"custom","voice_effect_custom_preset_id":"gone"})")
                .voice_effect_custom_preset_id,
            "");
}

TEST_F(SettingsJson, AHalfRememberedCableIsForgottenWhole) {
  MixerSettings partial = Read(R"({"verified_game_voice_output_id":"out",
      "verified_game_voice_output_name":"CABLE Input", "verified_game_voice_input_id":"in",
      "verified_game_voice_input_name":"   "})");
  EXPECT_EQ(partial.verified_game_voice_output_id, "");
  EXPECT_EQ(partial.verified_game_voice_output_name, "");
  EXPECT_EQ(partial.verified_game_voice_input_id, "");

  MixerSettings whole = Read(R"({"verified_game_voice_output_id":" out ",
      "verified_game_voice_output_name":"CABLE Input", "verified_game_voice_input_id":"in",
      "verified_game_voice_input_name":"CABLE Output"})");
  EXPECT_EQ(whole.verified_game_voice_output_id, "out");
  EXPECT_EQ(whole.verified_game_voice_input_name, "CABLE Output");
}

TEST_F(SettingsJson, UnusableKeysAreReplacedAndAnUnusablePanicKeyDropped) {
  MixerSettings settings = Read(R"({
      "ptt_trigger_key": {"id":"mouse_left","label":"Left","vk":1,"scan_code":1},
      "voice_chat_key": {"id":"key_k","label":"K","vk":75},
      "panic_trigger_key": {}})");
  EXPECT_EQ(settings.ptt_trigger_key, DefaultPttTriggerKey());
  EXPECT_EQ(settings.voice_chat_key, DefaultVoiceChatKey());
  EXPECT_FALSE(settings.panic_trigger_key);

  MixerSettings with_panic = Read(R"({"panic_trigger_key": {"id":"f9","label":"F9",
      "browser_key":"F9","browser_code":"F9","vk":120,"scan_code":"67","extended":0}})");
  ASSERT_TRUE(with_panic.panic_trigger_key);
  EXPECT_EQ(with_panic.panic_trigger_key->scan_code, 67);
  EXPECT_EQ(with_panic.panic_trigger_key->source, "default");
}

TEST_F(SettingsJson, ProfilesAreNeverEmptyAndTheSelectionIsRepaired) {
  MixerSettings none = ReadMember("profiles", "[]");
  ASSERT_EQ(none.profiles.size(), 1u);
  EXPECT_EQ(none.profiles[0], DefaultProfile());

  MixerSettings twins = Read(R"({"profiles":[{"id":"a","name":"One","audio_dir":"/x"},
      {"id":"a","name":"Two","audio_dir":"/y"}], "selected_profile_id":"a"})");
  ASSERT_EQ(twins.profiles.size(), 2u);
  EXPECT_EQ(twins.selected_profile_id, "a");

  MixerSettings stray = Read(R"({"profiles":[{"id":"b","name":"B","audio_dir":"/b"},
      {"id":"c","name":"C","audio_dir":"/c"}], "selected_profile_id":"gone"})");
  EXPECT_EQ(stray.selected_profile_id, "b");

  MixerSettings blank = Read(R"({"profiles":[{"id":"","name":"","audio_dir":""}, 5]})");
  ASSERT_EQ(blank.profiles.size(), 1u);
  EXPECT_EQ(blank.profiles[0], DefaultProfile());
  EXPECT_EQ(blank.selected_profile_id, "default");
}

TEST_F(SettingsJson, SoundLinksAreTrimmedDeduplicatedAndCappedAtTwenty) {
  MixerSettings settings = Read(R"({"sound_links":[
      {"id":" a ","name":"  ","url":" https://a.example "},
      {"id":"a","name":"Again","url":"https://b.example"},
      {"id":"  ","name":"Blank","url":"https://c.example"},
      {"id":"d","name":"No url","url":""}, "text"]})");
  ASSERT_EQ(settings.sound_links.size(), 1u);
  EXPECT_EQ(settings.sound_links[0], (SoundLink{"a", "https://a.example", "https://a.example"}));

  std::string links = "[";
  for (int i = 0; i < 3; ++i) links += R"({"id":"","url":"x"},)";  // dropped, not counted
  for (int i = 0; i < 25; ++i) {
    links += (i ? "," : "") + std::string(R"({"id":"l)") + std::to_string(i) + R"(","url":"u"})";
  }
  MixerSettings many = ReadMember("sound_links", links + "]");
  ASSERT_EQ(many.sound_links.size(), 20u);
  EXPECT_EQ(many.sound_links.front().id, "l0");
  EXPECT_EQ(many.sound_links.back().id, "l19");
}

TEST_F(SettingsJson, TheInboxNeedsAFolder) {
  MixerSettings blank = Read(R"({"sound_inbox_enabled":true,"sound_inbox_dir":"   "})");
  EXPECT_FALSE(blank.sound_inbox_enabled);
  EXPECT_EQ(blank.sound_inbox_dir, "");
  MixerSettings set = Read(R"({"sound_inbox_enabled":"yes","sound_inbox_dir":" /in "})");
  EXPECT_TRUE(set.sound_inbox_enabled);
  EXPECT_EQ(set.sound_inbox_dir, "/in");
}

TEST_F(SettingsJson, LanguageVersionAndEffectNamesAreNormalised) {
  MixerSettings settings = Read(R"({"version":1,"ui_language":"pt_BR",
      "voice_effect_preset":" Radio ","voice_effect_strength":"strong"})");
  EXPECT_EQ(settings.version, 3);
  EXPECT_EQ(settings.ui_language, "pt-BR");
  EXPECT_EQ(settings.voice_effect_preset, "radio");
  EXPECT_EQ(settings.voice_effect_strength, "high");
}

TEST_F(SettingsJson, TheWriterWritesEveryKeyAndTheReaderGivesBackTheSameSettings) {
  MixerSettings settings = MakeDefaultMixerSettings();
  settings.server_port = 6123;
  settings.mic_name = "Microphone (Virtual)";
  settings.mic_volume = 0.75;
  settings.loop = true;
  settings.voice_effect_preset = "custom";
  settings.voice_effect_custom_values = {0.1, 0.2, 0.3, 0.4, 0.6};
  settings.voice_effect_custom_presets = {{"deep", "Deep", {0.9, 0.8, 0.7, 0.6, 0.5}}};
  settings.voice_effect_custom_preset_id = "deep";
  settings.panic_trigger_key = *FindKeyCatalogEntry("mouse_x2", kKeySourceCapturedBackend);
  settings.profiles.push_back({"games", "Games", "/srv/sounds"});
  settings.selected_profile_id = "games";
  settings.file_path = "/srv/sounds/a.wav";
  settings.sound_links = {{"s", "Sounds", "https://sounds.example"}};
  settings.sound_inbox_enabled = true;
  settings.sound_inbox_dir = "/home/u/Downloads";

  JsonValue json = MixerSettingsToJson(settings);
  EXPECT_EQ(json.object_value.size(), 35u);
  JsonValue reparsed;
  ASSERT_TRUE(JsonValue::Parse(json.Serialize(2), &reparsed, nullptr));
  MixerSettings back;
  ASSERT_TRUE(MixerSettingsFromJson(reparsed, &back, nullptr));
  EXPECT_EQ(back, settings);
}

TEST_F(SettingsJson, TheWriterAlwaysWritesVersion3AndNullForNoPanicKey) {
  MixerSettings settings;
  settings.version = 7;
  JsonValue json = MixerSettingsToJson(settings);
  EXPECT_EQ(json.GetNumber("version", 0), 3);
  ASSERT_NE(json.Find("panic_trigger_key"), nullptr);
  EXPECT_EQ(json.Find("panic_trigger_key")->type, JsonValue::Type::Null);
  EXPECT_EQ(json.Find("voice_effect_custom_presets")->type, JsonValue::Type::Array);
}

TEST_F(SettingsJson, MemberReadersKeepWhatTheyDoNotFind) {
  VoiceEffectCustomPreset preset{"", "", {0.1, 0.2, 0.3, 0.4, 0.5}};
  JsonValue only_name;
  ASSERT_TRUE(JsonValue::Parse(R"({"name":"N","values":{"tone":0.9}})", &only_name, nullptr));
  ASSERT_TRUE(VoiceEffectCustomPresetFromJson(only_name, &preset, nullptr));
  EXPECT_EQ(preset.values, (VoiceEffectCustomValues{0.9, 0.2, 0.3, 0.4, 0.5}));

  KeyBinding binding = DefaultVoiceChatKey();
  ASSERT_TRUE(KeyBindingFromJson(JsonValue::MakeObject(), &binding, nullptr));
  EXPECT_EQ(binding, KeyBinding());  // every field overwritten

  JsonValue object = JsonValue::MakeObject();
  object["k"] = 3.0;
  EXPECT_EQ(ReadJsonString(object, "k"), "");
  EXPECT_EQ(JsonStringOr(nullptr, "d"), "d");
}

}  // namespace
}  // namespace zennic
