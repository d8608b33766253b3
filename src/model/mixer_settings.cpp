#include "model/mixer_settings.h"

#include <cmath>

#include "core/localization.h"
#include "model/key_catalog.h"
#include "core/paths.h"
#include "core/text.h"

namespace zennic {
namespace {

double FiniteOr(double value, double fallback) { return std::isfinite(value) ? value : fallback; }

double ClampUnit(double value) { return value < 0.0 ? 0.0 : (value > 1.0 ? 1.0 : value); }

}  // namespace

MixerSettings::MixerSettings()
    : ptt_trigger_key(DefaultPttTriggerKey()),
      voice_chat_key(DefaultVoiceChatKey()),
      profiles{DefaultProfile()} {}

MixerSettings MakeDefaultMixerSettings() {
  MixerSettings settings;
  settings.ui_language = DetectUserLanguage();
  return settings;
}

Profile DefaultProfile() { return Profile{"default", "Default", DefaultAudioDirUtf8()}; }

std::string DefaultAudioDirUtf8() { return WideToUtf8(DefaultSoundsDirectory()); }

double ClampVolume(double value) {
  if (!std::isfinite(value)) return 1.0;
  if (value < 0.0) return 0.0;
  if (value > 2.0) return 2.0;
  return value;
}

void ClampVoiceEffectCustomValues(VoiceEffectCustomValues* values) {
  if (values == nullptr) return;
  const VoiceEffectCustomValues defaults;
  values->tone = ClampUnit(FiniteOr(values->tone, defaults.tone));
  values->depth = ClampUnit(FiniteOr(values->depth, defaults.depth));
  values->clarity = ClampUnit(FiniteOr(values->clarity, defaults.clarity));
  values->radio = ClampUnit(FiniteOr(values->radio, defaults.radio));
  values->output_level = ClampUnit(FiniteOr(values->output_level, defaults.output_level));
}

std::string NormalizeVoiceEffectPreset(const std::string& preset) {
  std::string name = ToLower(Trim(preset));
  for (const char* known : {"clean", "warm", "bright", "deep", "radio", "custom"}) {
    if (name == known) return name;
  }
  return "off";
}

std::string NormalizeVoiceEffectStrength(const std::string& strength) {
  std::string name = ToLower(Trim(strength));
  if (name == "low" || name == "subtle") return "low";
  if (name == "high" || name == "strong") return "high";
  return "medium";
}

}  // namespace zennic
