#pragma once

// An engine on the fake audio system: a microphone whose frames a test chooses, and the cable
// and headphone outputs recording what the engine plays. Clips are real WAV files in the
// active profile's folder, loaded by the real loader and analyzer.

#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "core/app_paths.h"
#include "engine/key_binding_service.h"
#include "engine/mixer_engine.h"
#include "model/profile_service.h"
#include "model/runtime_state.h"
#include "sound_files/analyzer_service.h"
#include "sound_files/wav_file.h"
#include "support/eventually.h"
#include "support/fake_audio_system.h"
#include "support/isolated_user.h"
#include "support/temp_folder.h"

namespace zennic::testing {

inline const std::string kFakeMicrophone = "Microphone (Fake)";
inline const std::string kFakeCable = "CABLE Input (VB-Audio Virtual Cable)";
inline const std::string kFakeHeadphones = "Headphones (Fake)";

// What a float stereo render endpoint was given, in order.
class RenderRecording {
 public:
  std::function<void(const uint8_t*, uint32_t)> Sink() {
    return [this](const uint8_t* data, uint32_t frames) {
      std::vector<float> samples(2 * size_t{frames});
      std::memcpy(samples.data(), data, samples.size() * sizeof(float));
      std::function<void(const std::vector<float>&)> observer;
      {
        std::lock_guard lock(mutex_);
        samples_.insert(samples_.end(), samples.begin(), samples.end());
        observer = observer_;
      }
      if (observer) observer(samples);
    };
  }
  // Called on the render thread with every buffer, after it has been recorded.
  void Observe(std::function<void(const std::vector<float>&)> observer) {
    std::lock_guard lock(mutex_);
    observer_ = std::move(observer);
  }
  std::vector<float> Samples() const {
    std::lock_guard lock(mutex_);
    return samples_;
  }
  size_t Frames() const {
    std::lock_guard lock(mutex_);
    return samples_.size() / 2;
  }
  void Clear() {
    std::lock_guard lock(mutex_);
    samples_.clear();
  }
  // Frames whose left sample equals `value`.
  size_t CountLeft(float value) const {
    std::lock_guard lock(mutex_);
    size_t count = 0;
    for (size_t i = 0; i < samples_.size(); i += 2) count += samples_[i] == value ? 1 : 0;
    return count;
  }

 private:
  mutable std::mutex mutex_;
  std::vector<float> samples_;
  std::function<void(const std::vector<float>&)> observer_;
};

class MixerEngineFixture : public ::testing::Test {
 protected:
  MixerEngineFixture()
      : paths_(FillAppPaths(data_.path())),
        state_(SettingsStore(paths_, {}, {})),
        key_bindings_(&state_),
        analyzer_(AnalyzerServiceOptions()),
        profiles_(&state_) {
    microphone_id_ = world_.AddEndpoint(AudioFlow::kCapture, kFakeMicrophone);
    cable_id_ = world_.AddEndpoint(AudioFlow::kRender, kFakeCable);
    headphones_id_ = world_.AddEndpoint(AudioFlow::kRender, kFakeHeadphones);
    SetMicrophoneValue(0.125f);
    FakeStreamSettings cable;
    cable.render_sink = cable_.Sink();
    world_.SetStreamSettings(cable_id_, cable);
    FakeStreamSettings headphones;
    headphones.render_sink = headphones_.Sink();
    world_.SetStreamSettings(headphones_id_, headphones);
  }

  void SetUp() override {
    ASSERT_TRUE(state_.LoadSettings(nullptr));
    std::filesystem::create_directories(sounds_folder());
    Edit([this](MixerSettings& settings) {
      settings.profiles.front().audio_dir = sounds_folder().string();
      settings.hold_voice_key = false;
    });
    engine_ = std::make_unique<MixerEngine>(&state_, &key_bindings_, &analyzer_, &profiles_,
                                            world_.Factory(), paths_.logs_folder);
  }

  void TearDown() override {
    engine_.reset();
    key_bindings_.ReleaseGameVoiceKey(nullptr);
  }

  std::filesystem::path sounds_folder() const { return data_.path() / "sounds"; }

  void Edit(const std::function<void(MixerSettings&)>& editor) {
    std::string error;
    ASSERT_TRUE(state_.MutateSettings(editor, true, &error)) << error;
  }

  // A constant stereo microphone in the fake's float format, that hands over nothing while
  // `held` says so.
  void SetMicrophoneValue(float value, std::function<bool()> held = nullptr) {
    FakeStreamSettings microphone;
    microphone.capture_held = std::move(held);
    microphone.capture_source = [value](uint64_t, uint32_t frames, uint8_t* data) {
      std::vector<float> samples(2 * size_t{frames}, value);
      std::memcpy(data, samples.data(), samples.size() * sizeof(float));
    };
    world_.SetStreamSettings(microphone_id_, microphone);
  }

  // A 48,000 Hz stereo 16-bit clip of `frames` frames at one level, made the selected clip.
  std::string MakeClip(const std::string& name, uint32_t frames, int16_t level,
                       bool select = true) {
    std::filesystem::path path = sounds_folder() / name;
    std::string error;
    EXPECT_TRUE(WriteWavFile(path, 48000, 2, std::vector<int16_t>(2 * size_t{frames}, level),
                             &error))
        << error;
    if (select) Edit([&path](MixerSettings& settings) { settings.file_path = path.string(); });
    return path.string();
  }

  bool Start(std::vector<std::string>* notes = nullptr, MixerDeviceSelection selection = {}) {
    std::string error;
    bool started = engine_->Start(selection, notes, &error);
    EXPECT_TRUE(started) << error;
    return started;
  }

  bool ClipPlaying() const { return state_.GetSnapshot().ptt_active; }

  TempFolder data_;
  IsolatedUser user_;
  AppPaths paths_;
  RuntimeState state_;
  KeyBindingService key_bindings_;
  AnalyzerService analyzer_;
  ProfileService profiles_;
  FakeAudioWorld world_;
  std::string microphone_id_;
  std::string cable_id_;
  std::string headphones_id_;
  RenderRecording cable_;
  RenderRecording headphones_;
  std::unique_ptr<MixerEngine> engine_;
};

}  // namespace zennic::testing
