#include "model/mixer_settings.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>

#include "support/isolated_user.h"

namespace zennic {
namespace {

TEST(MixerSettingsDefaults, OneDefaultProfileInTheSoundsFolderAndTheDefaultKeys) {
  testing::IsolatedUser user;
  MixerSettings settings;
  ASSERT_EQ(settings.profiles.size(), 1u);
  EXPECT_EQ(settings.profiles[0], (Profile{"default", "Default", user.SoundsFolder().string()}));
  EXPECT_EQ(settings.selected_profile_id, "default");
  EXPECT_EQ(settings.ptt_trigger_key.id, "numpad_add");
  EXPECT_EQ(settings.voice_chat_key.id, "key_k");
  EXPECT_FALSE(settings.panic_trigger_key);
  EXPECT_TRUE(settings.voice_effect_custom_presets.empty());
  EXPECT_TRUE(settings.sound_links.empty());
  EXPECT_EQ(settings.server_port, 5000);
  EXPECT_EQ(settings.ui_language, "en");
}

TEST(MixerSettingsDefaults, MadeDefaultsDifferOnlyInTheUsersLanguage) {
  testing::IsolatedUser user("de_AT.UTF-8");
  MixerSettings made = MakeDefaultMixerSettings();
  EXPECT_EQ(made.ui_language, "de");
  made.ui_language = "en";
  EXPECT_EQ(made, MixerSettings());
}

TEST(MixerSettingsValues, VolumesClampToZeroToTwoAndNonFiniteGivesUnity) {
  EXPECT_EQ(ClampVolume(2.5), 2.0);
  EXPECT_EQ(ClampVolume(-0.1), 0.0);
  EXPECT_EQ(ClampVolume(1.7), 1.7);
  EXPECT_EQ(ClampVolume(std::nan("")), 1.0);
  EXPECT_EQ(ClampVolume(std::numeric_limits<double>::infinity()), 1.0);
  EXPECT_EQ(ClampVolume(-std::numeric_limits<double>::infinity()), 1.0);
}

TEST(MixerSettingsValues, CustomValuesTakeTheirDefaultWhenNotFiniteThenClamp) {
  VoiceEffectCustomValues values{std::nan(""), std::nan(""), 0.3, -1.0, 3.0};
  ClampVoiceEffectCustomValues(&values);
  EXPECT_EQ(values, (VoiceEffectCustomValues{0.5, 0.0, 0.3, 0.0, 1.0}));
  ClampVoiceEffectCustomValues(nullptr);
}

TEST(MixerSettingsValues, EffectNamesAreTrimmedLowerCasedAndFallBack) {
  EXPECT_EQ(NormalizeVoiceEffectPreset(" Warm "), "warm");
  EXPECT_EQ(NormalizeVoiceEffectPreset("Custom"), "custom");
  EXPECT_EQ(NormalizeVoiceEffectPreset("WARMER"), "off");
  EXPECT_EQ(NormalizeVoiceEffectPreset(""), "off");
  EXPECT_EQ(NormalizeVoiceEffectStrength("Subtle"), "low");
  EXPECT_EQ(NormalizeVoiceEffectStrength("STRONG"), "high");
  EXPECT_EQ(NormalizeVoiceEffectStrength("high"), "high");
  EXPECT_EQ(NormalizeVoiceEffectStrength(""), "medium");
}

}  // namespace
}  // namespace zennic
