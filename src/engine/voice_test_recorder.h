#pragma once

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "model/mixer_settings.h"
#include "platform/priority_inheriting_mutex.h"

namespace zennic {

// The last voice test: the processed microphone as a 48,000 Hz stereo 16-bit WAV image, with
// the voice-effect settings it was recorded with.
struct VoiceTestResult {
  std::vector<uint8_t> wav_bytes;
  uint32_t sample_rate = 48000;
  uint32_t channels = 2;
  uint64_t frames = 0;
  bool voice_effects_enabled = false;
  std::string voice_effect_preset = "off";
  std::string voice_effect_strength = "medium";
  std::string voice_effect_custom_preset_id;
  VoiceEffectCustomValues voice_effect_custom_values;
};

// A 48,000 Hz stereo 16-bit PCM WAV image of `frame_count` frames; samples past the end of
// `samples` and samples that are not finite become silence.
std::vector<uint8_t> BuildWavBytes(const std::vector<float>& samples, uint64_t frame_count);

// Collects the mixer thread's processed microphone blocks for one voice test at a time and
// keeps the latest result. Its own mutex is never held together with the engine's.
class VoiceTestRecorder {
 public:
  static constexpr uint64_t kMaxFrames = 240000;  // 5 seconds at 48,000 Hz

  VoiceTestRecorder() = default;
  VoiceTestRecorder(const VoiceTestRecorder&) = delete;
  VoiceTestRecorder& operator=(const VoiceTestRecorder&) = delete;

  // Begins a recording of `frames` frames, waits until the mixer thread has delivered them or
  // `timeout` has passed, and keeps the result as the latest.
  bool Record(uint64_t frames, const MixerSettings& settings, std::chrono::nanoseconds timeout,
              VoiceTestResult* out, std::string* error);

  bool Begin(uint64_t frames, const MixerSettings& settings, std::string* error);
  // The mixer thread's tap: takes what the recording still needs of one block.
  void Append(const float* block, uint64_t frame_count);
  // Turns a complete recording into the latest result; `out` may be null.
  bool Finish(VoiceTestResult* out, std::string* error);
  // Ends a recording under way; a waiting Record then fails for want of audio.
  void Abort();

  // `out` may be null.
  bool GetLatest(VoiceTestResult* out, std::string* error) const;
  void ClearLatest();

 private:
  // The caller holds mutex_.
  void DropRecordingLocked();

  // The mixer thread takes it every tick.
  mutable PriorityInheritingMutex mutex_;
  std::condition_variable_any recording_ended_;
  bool recording_ = false;
  uint64_t target_frames_ = 0;
  MixerSettings settings_in_force_;
  std::vector<float> samples_;
  // Shared, never changed once made: readers copy it outside the mutex the tap takes.
  std::shared_ptr<const VoiceTestResult> latest_;
};

}  // namespace zennic
