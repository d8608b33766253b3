#include "model/runtime_state.h"

#include <algorithm>
#include <exception>

#include "model/mixer_settings_json.h"

namespace zennic {

RuntimeState::RuntimeState(SettingsStore store) : store_(std::move(store)) {}

RuntimeState::~RuntimeState() {
  {
    std::lock_guard saver(saver_mutex_);
    saver_stopping_ = true;
  }
  saver_wake_.notify_one();
  if (saver_.joinable()) saver_.join();
}

bool RuntimeState::LoadSettings(std::string* error) {
  std::lock_guard change(change_mutex_);
  {
    std::lock_guard lock(mutex_);
    if (settings_loaded_) return true;
  }
  SettingsLoadResult result;
  std::unique_lock disk(disk_mutex_);
  if (!store_.Load(&result, error)) return false;
  disk.unlock();
  std::lock_guard lock(mutex_);
  std::swap(load_result_, result);
  settings_loaded_ = true;
  PublishAudioViewLocked();
  return true;
}

MixerSettings RuntimeState::GetSettings() const {
  std::lock_guard lock(mutex_);
  return load_result_.settings;
}

SettingsLoadResult RuntimeState::GetSettingsLoadResult() const {
  std::lock_guard lock(mutex_);
  return load_result_;
}

RuntimeSnapshot RuntimeState::GetSnapshot() const {
  std::lock_guard lock(mutex_);
  return RuntimeSnapshot{load_result_.settings, mixer_running_,  ptt_active_,
                         mic_index_,            out_index_,      monitor_index_,
                         session_token_,        audio_device_failures_};
}

AudioSettingsView RuntimeState::GetAudioSettingsView() const { return audio_view_.Read(); }

bool RuntimeState::MutateSettings(const std::function<void(MixerSettings&)>& editor,
                                  bool persist, std::string* error) {
  std::lock_guard change(change_mutex_);
  MixerSettings copy = GetSettings();
  editor(copy);
  NormalizeMixerSettings(&copy);
  return Commit(std::move(copy), persist, error);
}

void RuntimeState::MutateSettingsAndSaveSoon(const std::function<void(MixerSettings&)>& editor) {
  {
    std::lock_guard change(change_mutex_);
    MixerSettings copy = GetSettings();
    editor(copy);
    NormalizeMixerSettings(&copy);
    std::lock_guard lock(mutex_);
    std::swap(load_result_.settings, copy);
    ++changes_to_save_;
    PublishAudioViewLocked();
  }
  std::lock_guard saver(saver_mutex_);
  save_asked_ = true;
  if (!saver_.joinable()) saver_ = std::thread([this] { SaveWhenAsked(); });
  saver_wake_.notify_one();
}

void RuntimeState::SaveWhenAsked() {
  std::unique_lock saver(saver_mutex_);
  for (;;) {
    saver_wake_.wait(saver, [this] { return save_asked_ || saver_stopping_; });
    if (!save_asked_) return;
    save_asked_ = false;
    saver.unlock();
    try {
      SaveChangesInForce();
    } catch (const std::exception& failure) {
      store_.Log(std::string("The settings could not be saved: ") + failure.what());
    }
    saver.lock();
  }
}

void RuntimeState::SaveChangesInForce() {
  std::lock_guard disk(disk_mutex_);
  MixerSettings settings;
  uint64_t changes = 0;
  {
    std::lock_guard lock(mutex_);
    if (changes_saved_ == changes_to_save_) return;
    settings = load_result_.settings;
    changes = changes_to_save_;
  }
  std::string error;
  if (!store_.Save(settings, &error)) {
    store_.Log("The settings could not be saved: " + error);
    return;
  }
  std::lock_guard lock(mutex_);
  changes_saved_ = std::max(changes_saved_, changes);
  load_result_.loaded_from_disk = true;
}

bool RuntimeState::ReplaceSettings(const MixerSettings& settings, bool persist,
                                   std::string* error) {
  MixerSettings copy = settings;
  NormalizeMixerSettings(&copy);
  std::lock_guard change(change_mutex_);
  return Commit(std::move(copy), persist, error);
}

bool RuntimeState::Commit(MixerSettings settings, bool persist, std::string* error) {
  std::unique_lock disk(disk_mutex_, std::defer_lock);
  if (persist) {
    // Held until the saved settings are in force, so that no save soon writes older ones after.
    disk.lock();
    if (!store_.Save(settings, error)) return false;
  }
  {
    std::lock_guard lock(mutex_);
    std::swap(load_result_.settings, settings);
    load_result_.loaded_from_disk = load_result_.loaded_from_disk || persist;
    // What was to be saved soon is in this save: its copy was taken after those changes.
    if (persist) changes_saved_ = changes_to_save_;
    PublishAudioViewLocked();
  }
  return true;  // the settings put out of force are freed here, outside the mutexes
}

bool RuntimeState::ResetSettings(std::string* error) {
  std::lock_guard change(change_mutex_);
  std::lock_guard disk(disk_mutex_);
  if (!store_.Reset(error)) return false;
  SettingsLoadResult defaults{MakeDefaultMixerSettings(), false, false, {}, {}};
  std::lock_guard lock(mutex_);
  std::swap(load_result_, defaults);
  // The changes not saved yet went with the file.
  changes_saved_ = changes_to_save_;
  mic_index_.reset();
  out_index_.reset();
  monitor_index_.reset();
  mixer_running_ = false;
  ptt_active_ = false;
  audio_device_failures_.clear();
  PublishAudioViewLocked();
  return true;
}

void RuntimeState::SetDeviceIndices(std::optional<int32_t> mic, std::optional<int32_t> out,
                                    std::optional<int32_t> monitor) {
  std::lock_guard lock(mutex_);
  mic_index_ = mic;
  out_index_ = out;
  monitor_index_ = monitor;
}

void RuntimeState::SetMixerRunning(bool running) {
  std::lock_guard lock(mutex_);
  mixer_running_ = running;
  PublishAudioViewLocked();
}

void RuntimeState::AddAudioDeviceFailure(const std::string& message) {
  std::lock_guard lock(mutex_);
  audio_device_failures_.push_back(message);
}

void RuntimeState::RemoveAudioDeviceFailures(const std::string& device_label) {
  std::lock_guard lock(mutex_);
  std::erase_if(audio_device_failures_, [&device_label](const std::string& failure) {
    return failure.compare(0, device_label.size(), device_label) == 0;
  });
}

void RuntimeState::ClearAudioDeviceFailures() {
  std::lock_guard lock(mutex_);
  audio_device_failures_.clear();
}

void RuntimeState::PublishAudioViewLocked() {
  audio_view_.Publish(MakeAudioSettingsView(load_result_.settings, mixer_running_));
}

void RuntimeState::SetVoiceKeyActive(bool active) {
  std::lock_guard lock(mutex_);
  ptt_active_ = active;
}

std::string RuntimeState::GetSessionToken() const {
  std::lock_guard lock(mutex_);
  return session_token_;
}

void RuntimeState::SetSessionToken(const std::string& token) {
  std::lock_guard lock(mutex_);
  session_token_ = token;
}

std::string RuntimeState::GetOrCreateSessionToken(const std::function<std::string()>& generate) {
  std::lock_guard lock(mutex_);
  if (session_token_.empty()) session_token_ = generate();
  return session_token_;
}

}  // namespace zennic
