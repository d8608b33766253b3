#include "model/audio_settings_view.h"

#include <cstring>
#include <type_traits>

namespace zennic {

static_assert(std::is_trivially_copyable_v<AudioSettingsView>);

uint32_t VoiceEffectPresetIndex(const MixerSettings& settings) {
  if (!settings.voice_effects_enabled) return 0;
  std::string preset = NormalizeVoiceEffectPreset(settings.voice_effect_preset);
  const char* const names[] = {"off", "clean", "warm", "bright", "deep", "radio", "custom"};
  for (uint32_t index = 1; index < std::size(names); ++index) {
    if (preset == names[index]) return index;
  }
  return 0;
}

uint32_t VoiceEffectStrengthIndex(const std::string& strength) {
  std::string name = NormalizeVoiceEffectStrength(strength);
  if (name == "low") return 0;
  if (name == "high") return 2;
  return 1;
}

AudioSettingsView MakeAudioSettingsView(const MixerSettings& settings, bool mixer_running) {
  AudioSettingsView view;
  view.mixer_running = mixer_running;
  view.monitor_enabled = settings.monitor_enabled;
  view.mic_volume = settings.mic_volume;
  view.sfx_volume = settings.sfx_volume;
  view.voice_effect_preset = VoiceEffectPresetIndex(settings);
  view.voice_effect_strength = VoiceEffectStrengthIndex(settings.voice_effect_strength);
  view.voice_effect_custom_values = settings.voice_effect_custom_values;
  return view;
}

PublishedAudioSettingsView::PublishedAudioSettingsView() { Publish(AudioSettingsView()); }

void PublishedAudioSettingsView::Publish(const AudioSettingsView& view) {
  std::array<uint64_t, kWords> words{};
  std::memcpy(words.data(), &view, sizeof view);
  const uint32_t next = 1 - current_.load(std::memory_order_relaxed);
  Slot& slot = slots_[next];
  const uint32_t sequence = slot.sequence.load(std::memory_order_relaxed);
  slot.sequence.store(sequence + 1, std::memory_order_relaxed);
  std::atomic_thread_fence(std::memory_order_release);
  for (size_t i = 0; i < kWords; ++i) slot.words[i].store(words[i], std::memory_order_relaxed);
  slot.sequence.store(sequence + 2, std::memory_order_release);
  current_.store(next, std::memory_order_release);
}

AudioSettingsView PublishedAudioSettingsView::Read() const {
  std::array<uint64_t, kWords> words{};
  for (;;) {
    const Slot& slot = slots_[current_.load(std::memory_order_acquire)];
    const uint32_t before = slot.sequence.load(std::memory_order_acquire);
    if ((before & 1) != 0) continue;  // overtaken: the current slot is another by now
    for (size_t i = 0; i < kWords; ++i) words[i] = slot.words[i].load(std::memory_order_relaxed);
    std::atomic_thread_fence(std::memory_order_acquire);
    if (slot.sequence.load(std::memory_order_relaxed) == before) break;
  }
  AudioSettingsView view;
  std::memcpy(static_cast<void*>(&view), words.data(), sizeof view);
  return view;
}

}  // namespace zennic
