#pragma once

#include <array>
#include <atomic>
#include <cstdint>
#include <string>

#include "model/mixer_settings.h"

namespace zennic {

// What the audio threads read of the shared state on every pass, as plain values: the names
// of the voice effect are already turned into indices, so nothing is compared or copied there.
struct AudioSettingsView {
  bool mixer_running = false;
  bool monitor_enabled = true;
  double mic_volume = 1.0;
  double sfx_volume = 1.0;
  uint32_t voice_effect_preset = 0;  // VoiceEffectPresetIndex
  uint32_t voice_effect_strength = 1;
  VoiceEffectCustomValues voice_effect_custom_values;
};

// 0 when the effect is off; else 1 clean, 2 warm, 3 bright, 4 deep, 5 radio, 6 custom, and 0
// for a name it does not know.
uint32_t VoiceEffectPresetIndex(const MixerSettings& settings);
// 0 low ("subtle"), 2 high ("strong"), 1 for anything else.
uint32_t VoiceEffectStrengthIndex(const std::string& strength);

AudioSettingsView MakeAudioSettingsView(const MixerSettings& settings, bool mixer_running);

// One view, published by one writer at a time and read by any thread without a lock: the
// writer fills the slot readers are not pointed at and then turns them to it, so a reader
// never waits for a writer, not even one that stalls half-way; it only reads again when two
// publications overtook it.
class PublishedAudioSettingsView {
 public:
  PublishedAudioSettingsView();
  PublishedAudioSettingsView(const PublishedAudioSettingsView&) = delete;
  PublishedAudioSettingsView& operator=(const PublishedAudioSettingsView&) = delete;

  // The caller keeps writers apart.
  void Publish(const AudioSettingsView& view);
  AudioSettingsView Read() const;

 private:
  static constexpr size_t kWords = (sizeof(AudioSettingsView) + 7) / 8;
  struct Slot {
    std::atomic<uint32_t> sequence{0};  // odd while being written
    std::array<std::atomic<uint64_t>, kWords> words{};
  };

  std::array<Slot, 2> slots_;
  std::atomic<uint32_t> current_{0};
};

}  // namespace zennic
