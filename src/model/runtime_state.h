#pragma once

#include <cstdint>
#include <functional>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "model/audio_settings_view.h"
#include "model/mixer_settings.h"
#include "model/settings_store.h"

namespace zennic {

// The shared state taken at one instant.
struct RuntimeSnapshot {
  MixerSettings settings;
  bool mixer_running = false;
  bool ptt_active = false;
  std::optional<int32_t> mic_index;
  std::optional<int32_t> out_index;
  std::optional<int32_t> monitor_index;
  std::string session_token;
  // Devices of this run that stopped while it went on, each as a sentence.
  std::vector<std::string> audio_device_failures;
};

// The one shared state object: the settings in force with their load status, the mixer's
// flags and device indices, and the web client's session token, all behind one mutex. Readers
// get copies; every change of the settings is copied, edited, normalised, saved when asked and
// only then put in force, so a failed save leaves the old settings in force. Changes take turns
// under a mutex of their own, which alone is held while the file is written: readers never
// wait for the disk, and the audio threads read their view without any lock.
class RuntimeState {
 public:
  explicit RuntimeState(SettingsStore store);
  RuntimeState(const RuntimeState&) = delete;
  RuntimeState& operator=(const RuntimeState&) = delete;

  // Loads once (migrating or recovering as needed); later calls return true at once.
  bool LoadSettings(std::string* error);

  MixerSettings GetSettings() const;
  SettingsLoadResult GetSettingsLoadResult() const;
  RuntimeSnapshot GetSnapshot() const;
  // Lock-free and copies nothing that allocates: for the audio threads, on every pass.
  AudioSettingsView GetAudioSettingsView() const;

  // Runs `editor` on a copy while changes take turns: it must change nothing of this object.
  // An editor that throws changes nothing and its exception reaches the caller.
  bool MutateSettings(const std::function<void(MixerSettings&)>& editor, bool persist,
                      std::string* error);
  bool ReplaceSettings(const MixerSettings& settings, bool persist, std::string* error);
  // Deletes settings.json and puts the defaults in force; the next persisted change writes it.
  bool ResetSettings(std::string* error);

  void SetDeviceIndices(std::optional<int32_t> mic, std::optional<int32_t> out,
                        std::optional<int32_t> monitor);
  void SetMixerRunning(bool running);
  void SetVoiceKeyActive(bool active);
  // A failure is a sentence that begins with its device's label.
  void AddAudioDeviceFailure(const std::string& message);
  // The failures of the device with that label, once it plays again.
  void RemoveAudioDeviceFailures(const std::string& device_label);
  void ClearAudioDeviceFailures();
  std::string GetSessionToken() const;
  void SetSessionToken(const std::string& token);
  // The token, made by `generate` when there is none yet: read, made and kept in one step, so
  // two first requests of a run cannot each make one and leave a page with a dead cookie. An
  // empty result of `generate` is not kept.
  std::string GetOrCreateSessionToken(const std::function<std::string()>& generate);

 private:
  // Saves when asked, then puts `settings` in force; the caller holds change_mutex_.
  bool Commit(MixerSettings settings, bool persist, std::string* error);
  // The caller holds mutex_.
  void PublishAudioViewLocked();

  // Serialises every change of the settings, with its disk work; taken before mutex_.
  std::mutex change_mutex_;
  SettingsStore store_;  // used under change_mutex_ only
  mutable std::mutex mutex_;
  SettingsLoadResult load_result_;
  bool settings_loaded_ = false;
  bool mixer_running_ = false;
  bool ptt_active_ = false;
  std::optional<int32_t> mic_index_;
  std::optional<int32_t> out_index_;
  std::optional<int32_t> monitor_index_;
  std::string session_token_;
  std::vector<std::string> audio_device_failures_;
  PublishedAudioSettingsView audio_view_;  // written under mutex_
};

}  // namespace zennic
