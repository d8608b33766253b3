#pragma once

#include <condition_variable>
#include <cstdint>
#include <functional>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
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
// under a mutex of their own, and the file under another: readers never wait for the disk, and
// the audio threads read their view without any lock.
class RuntimeState {
 public:
  explicit RuntimeState(SettingsStore store);
  // Saves what is still to be saved first.
  ~RuntimeState();
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
  // The same, put in force at once and saved soon after on a thread of its own: for a choice
  // made with one click, which must not wait for the disk. A failed save is logged; the next
  // save writes the change again.
  void MutateSettingsAndSaveSoon(const std::function<void(MixerSettings&)>& editor);
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
  // The saving thread's body, and one save of the changes still to be saved.
  void SaveWhenAsked();
  void SaveChangesInForce();

  // Serialises every change of the settings; taken before disk_mutex_.
  std::mutex change_mutex_;
  // Held while settings.json is read, written or deleted; taken before mutex_.
  std::mutex disk_mutex_;
  SettingsStore store_;  // used under disk_mutex_ only
  // The saving thread, started by the first change saved soon; it ends once asked to stop and
  // nothing is left to save.
  std::mutex saver_mutex_;
  std::condition_variable saver_wake_;
  bool save_asked_ = false;   // under saver_mutex_
  bool saver_stopping_ = false;  // under saver_mutex_
  std::thread saver_;
  mutable std::mutex mutex_;
  // Changes put in force to be saved soon, counted, and how many of them are on the disk.
  uint64_t changes_to_save_ = 0;
  uint64_t changes_saved_ = 0;
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
