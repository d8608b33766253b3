#include "engine/voice_test_recorder.h"

#include <algorithm>
#include <cmath>
#include <new>

namespace zennic {
namespace {

constexpr char kBadDuration[] = "Voice test duration must be 5 seconds";

void SetError(std::string* error, const char* message) {
  if (error != nullptr) *error = message;
}

void PutU32(std::vector<uint8_t>* bytes, uint32_t value) {
  for (int shift = 0; shift < 32; shift += 8) bytes->push_back(static_cast<uint8_t>(value >> shift));
}

void PutU16(std::vector<uint8_t>* bytes, uint16_t value) {
  bytes->push_back(static_cast<uint8_t>(value & 0xFF));
  bytes->push_back(static_cast<uint8_t>(value >> 8));
}

void PutTag(std::vector<uint8_t>* bytes, const char (&tag)[5]) {
  bytes->insert(bytes->end(), tag, tag + 4);
}

}  // namespace

std::vector<uint8_t> BuildWavBytes(const std::vector<float>& samples, uint64_t frame_count) {
  const auto data_bytes = static_cast<uint32_t>(frame_count * 4);
  std::vector<uint8_t> bytes;
  bytes.reserve(44 + size_t{data_bytes});
  PutTag(&bytes, "RIFF");
  PutU32(&bytes, data_bytes + 36);
  PutTag(&bytes, "WAVE");
  PutTag(&bytes, "fmt ");
  PutU32(&bytes, 16);
  PutU16(&bytes, 1);  // PCM
  PutU16(&bytes, 2);
  PutU32(&bytes, 48000);
  PutU32(&bytes, 192000);
  PutU16(&bytes, 4);
  PutU16(&bytes, 16);
  PutTag(&bytes, "data");
  PutU32(&bytes, data_bytes);
  for (uint64_t i = 0; i < 2 * frame_count; ++i) {
    float value = i < samples.size() ? samples[i] : 0.0f;
    if (!std::isfinite(value)) value = 0.0f;
    // Rounded half away from zero: 0.5 gives 16384.
    auto sample = static_cast<int16_t>(std::round(std::clamp(value, -1.0f, 1.0f) * 32767.0));
    PutU16(&bytes, static_cast<uint16_t>(sample));
  }
  return bytes;
}

bool VoiceTestRecorder::Record(uint64_t frames, const MixerSettings& settings,
                               std::chrono::nanoseconds timeout, VoiceTestResult* out,
                               std::string* error) {
  if (!Begin(frames, settings, error)) return false;
  {
    std::unique_lock lock(mutex_);
    auto deadline = std::chrono::steady_clock::now() + timeout;
    if (!recording_ended_.wait_until(lock, deadline, [this] { return !recording_; })) {
      DropRecordingLocked();
      SetError(error, "Voice test recording timed out");
      return false;
    }
  }
  return Finish(out, error);
}

bool VoiceTestRecorder::Begin(uint64_t frames, const MixerSettings& settings,
                              std::string* error) {
  if (frames < 1 || frames > kMaxFrames) {
    SetError(error, kBadDuration);
    return false;
  }
  // Reserved whole now, so the mixer thread never allocates while appending; and before the
  // mutex, which the tap takes every tick.
  std::vector<float> storage;
  try {
    storage.reserve(frames * 2);
  } catch (const std::bad_alloc&) {
    SetError(error, "Not enough memory to record a voice test");
    return false;
  }
  std::lock_guard lock(mutex_);
  if (recording_) {
    SetError(error, "A voice test is already recording");
    return false;
  }
  samples_.swap(storage);  // the earlier store goes once the mutex is released
  target_frames_ = frames;
  settings_in_force_ = settings;
  recording_ = true;
  if (error != nullptr) error->clear();
  return true;
}

void VoiceTestRecorder::Append(const float* block, uint64_t frame_count) {
  if (block == nullptr || frame_count == 0) return;
  std::lock_guard lock(mutex_);
  if (!recording_) return;
  uint64_t have = samples_.size() / 2;
  if (have < target_frames_) {
    uint64_t take = std::min(target_frames_ - have, frame_count);
    samples_.insert(samples_.end(), block, block + 2 * take);
    have += take;
  }
  if (have >= target_frames_) {
    recording_ = false;
    recording_ended_.notify_all();
  }
}

bool VoiceTestRecorder::Finish(VoiceTestResult* out, std::string* error) {
  std::vector<float> samples;
  MixerSettings settings;
  uint64_t frames = 0;
  {
    std::lock_guard lock(mutex_);
    frames = samples_.size() / 2;
    if (frames < target_frames_ || samples_.size() < 2) {
      SetError(error, "Voice test did not capture enough microphone audio");
      return false;
    }
    samples.swap(samples_);
    settings = settings_in_force_;
    target_frames_ = 0;
  }
  auto result = std::make_shared<VoiceTestResult>();
  result->frames = frames;
  result->voice_effects_enabled = settings.voice_effects_enabled;
  result->voice_effect_preset = settings.voice_effect_preset;
  result->voice_effect_strength = settings.voice_effect_strength;
  result->voice_effect_custom_preset_id = settings.voice_effect_custom_preset_id;
  result->voice_effect_custom_values = settings.voice_effect_custom_values;
  result->wav_bytes = BuildWavBytes(samples, frames);
  if (out != nullptr) *out = *result;
  std::shared_ptr<const VoiceTestResult> replaced = std::move(result);
  {
    std::lock_guard lock(mutex_);
    latest_.swap(replaced);
  }
  if (error != nullptr) error->clear();
  return true;
}

void VoiceTestRecorder::Abort() {
  std::lock_guard lock(mutex_);
  DropRecordingLocked();
}

void VoiceTestRecorder::DropRecordingLocked() {
  recording_ = false;
  samples_.clear();
  target_frames_ = 0;
  recording_ended_.notify_all();
}

bool VoiceTestRecorder::GetLatest(VoiceTestResult* out, std::string* error) const {
  std::shared_ptr<const VoiceTestResult> latest;
  {
    std::lock_guard lock(mutex_);
    latest = latest_;
  }
  if (latest == nullptr) {
    SetError(error, "No voice test has been recorded yet");
    return false;
  }
  if (out != nullptr) *out = *latest;
  if (error != nullptr) error->clear();
  return true;
}

void VoiceTestRecorder::ClearLatest() {
  std::shared_ptr<const VoiceTestResult> dropped;
  std::lock_guard lock(mutex_);
  dropped.swap(latest_);
}

}  // namespace zennic
