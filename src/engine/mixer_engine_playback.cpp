// The mixer thread and clip playback: every 10 ms one block of microphone audio, through the
// voice effect, plus the playing clip, into the mix output and (the clip alone) the monitor.

#include <algorithm>
#include <chrono>
#include <thread>

#include "engine/key_binding_service.h"
#include "engine/mixer_engine.h"
#include "engine/paced_fifo_reader.h"
#include "model/profile_service.h"
#include "model/runtime_state.h"
#include "platform/audio_thread_priority.h"
#include "platform/thread_name.h"

namespace zennic {
namespace {

using Clock = std::chrono::steady_clock;

constexpr uint64_t kTickFrames = 480;  // 10 ms at 48,000 Hz
constexpr auto kTickPeriod = std::chrono::milliseconds(10);
// A mixer further behind than this starts afresh instead of catching up with a burst of ticks.
constexpr auto kMaxLag = std::chrono::milliseconds(25);
// How often the mixer thread looks whether the cable still makes the ticks, should no word come.
constexpr auto kCableWatchPause = std::chrono::milliseconds(100);
// How soon a tick that waits for the microphone looks again: well within a device's period.
constexpr auto kMicrophoneWaitPoll = std::chrono::microseconds(500);
// How long a voice waits for a late microphone while no cable asks for the mix (the voice test
// still takes it): as long as the cable's queue would let it, down to its floor.
constexpr auto kVoiceWaitAlone = std::chrono::milliseconds(35);
// How late the cable's ticks may be before the monitor makes them itself: a tick late by a whole
// tick is a cable thread held up, not the cable asking at its own pace.
constexpr auto kMonitorTicksAfter = 2 * kTickPeriod;
// What the cable may find made beyond its request before it skips: the ticks the monitor makes
// run up to two behind the clock, and a cable a little above its queue target asks a little late.
constexpr uint64_t kSkipBeyond = 2 * kTickFrames;
constexpr uint64_t kVoiceTestFrames = 240000;
constexpr auto kVoiceTestTimeout = std::chrono::seconds(8);
constexpr auto kReleaseRetryPause = std::chrono::milliseconds(100);

// For the tick timing, which only the mixer thread writes: plain loads and stores will do.
void KeepLongest(std::atomic<int64_t>* record, Clock::duration duration) {
  int64_t us = std::chrono::duration_cast<std::chrono::microseconds>(duration).count();
  if (us > record->load(std::memory_order_relaxed)) record->store(us, std::memory_order_relaxed);
}

void SetError(std::string* error, const std::string& message) {
  if (error != nullptr) *error = message;
}

}  // namespace

void MixerEngine::MixerThreadMain() {
  if (stop_.load()) return;
  NameThisThread("zennic-mixer");
  // The device threads report what they were granted; this one fares the same.
  RaiseAudioThreadPriority();
  Clock::time_point deadline = Clock::now();
  bool voice_waits = false;
  do {
    if (cable_ticks_.load()) {
      // The cable makes the ticks; its thread wakes this one when it goes.
      mixer_wake_.try_acquire_for(kCableWatchPause);
      deadline = Clock::now();
      voice_waits = false;
      continue;
    }
    std::this_thread::sleep_until(voice_waits ? std::min(deadline, Clock::now() + kMicrophoneWaitPoll)
                                              : deadline);
    const Clock::time_point now = Clock::now();
    const bool new_block = now >= deadline;
    if (new_block) {
      deadline = deadline < now - kMaxLag ? now + kTickPeriod : deadline + kTickPeriod;
    }
    voice_waits = !TickAlone(now, new_block);
  } while (!stop_.load());
}

bool MixerEngine::TickForCable(Clock::time_point now, uint64_t frames, const VoiceWaits& waits,
                               uint64_t* skipped) {
  std::lock_guard tick(tick_mutex_);
  *skipped = 0;
  if (const uint64_t made = mix_fifo_.Size() + tick_.waiting * kTickFrames;
      made > frames + kSkipBeyond) {
    // Whole ticks, the oldest first: what is mixed, then blocks, whose voice is read all the same
    // so that it stays beside its clip.
    uint64_t skip = (made - frames - kSkipBeyond + kTickFrames - 1) / kTickFrames * kTickFrames;
    *skipped = mix_fifo_.DropOldest(skip);
    for (skip -= *skipped; skip > 0 && tick_.waiting > 0; skip -= std::min(skip, kTickFrames)) {
      MixVoice(now, false);
      *skipped += kTickFrames;
    }
  }
  while (mix_fifo_.Size() + tick_.waiting * kTickFrames < frames) MakeClipBlock(now, now, true);
  return MixWaitingVoices(now, waits, true);
}

void MixerEngine::TickForMonitor(Clock::time_point now, uint64_t needed) {
  // At its floor the monitor can wait for the cable's thread no longer than that thread takes to
  // finish the ticks it is making.
  std::unique_lock tick(tick_mutex_, std::defer_lock);
  if (needed > 0) {
    tick.lock();
  } else if (!tick.try_lock()) {
    return;
  }
  if (!cable_ticks_.load() || !tick_.last_made) return;
  // Two blocks at most: more at once would be a backlog the monitor's reader drops.
  *tick_.last_made = std::max(*tick_.last_made, now - kMonitorTicksAfter - kTickPeriod);
  while (now - *tick_.last_made >= kMonitorTicksAfter) {
    MakeClipBlock(*tick_.last_made + kTickPeriod, now, true);
  }
  // After a stop of the whole program the cable's thread owes the ticks too: the monitor makes
  // what it needs, and the cable finds them made.
  while (monitor_fifo_.Size() < needed) MakeClipBlock(now, now, true);
}

bool MixerEngine::TickAlone(Clock::time_point now, bool new_block) {
  std::lock_guard tick(tick_mutex_);
  if (cable_ticks_.load()) return true;  // the cable came while this thread slept
  if (new_block) MakeClipBlock(now, now, false);
  return MixWaitingVoices(now, std::nullopt, false);
}

bool MixerEngine::MixWaitingVoices(Clock::time_point now, std::optional<VoiceWaits> waits,
                                   bool to_cable) {
  while (tick_.waiting > 0) {
    // Read without a lock and without a copy: a settings save in progress never holds a tick up.
    if (runtime_state_->GetAudioSettingsView().mixer_running &&
        microphone_reader_.FramesReady(microphone_fifo_.Size(), LinearResampler::kEngineRate,
                                       kTickFrames) < kTickFrames) {
      const Clock::time_point made = tick_.made_at[tick_.first];
      const VoiceWaits until = waits.value_or(VoiceWaits{made + kVoiceWaitAlone,
                                                         made + kVoiceWaitAlone / 2});
      if (now < (microphone_stall_.stalled() ? until.half : until.floor)) {
        if (!tick_.waiting_since) tick_.waiting_since = now;
        return false;
      }
      // The cable's queue gains this block: the blocks after it may wait that much longer, so
      // that a microphone a little later than the floor loses one block's voice, not every
      // block the cable asked for meanwhile (after a stop of the whole machine its audio comes
      // a few milliseconds after the cable's first pass).
      if (waits) {
        waits->floor += kTickPeriod;
        waits->half += kTickPeriod;
      }
    }
    MixVoice(now, to_cable);
  }
  return true;
}

void MixerEngine::MakeClipBlock(Clock::time_point made, Clock::time_point now, bool to_cable) {
  // Full: the oldest block's voice can wait no longer.
  if (tick_.waiting == kMostWaitingClipBlocks) MixVoice(now, to_cable);
  const size_t slot = (tick_.first + tick_.waiting) % kMostWaitingClipBlocks;
  std::vector<float>& block = tick_.clips[slot];
  const AudioSettingsView settings = runtime_state_->GetAudioSettingsView();
  uint64_t ended_serial = 0;
  if (!settings.mixer_running) {
    // Between a start's threads and its running flag, and after a stop: silence.
    std::fill(block.begin(), block.end(), 0.0f);
  } else {
    ticks_.store(ticks_.load(std::memory_order_relaxed) + 1, std::memory_order_relaxed);
    std::lock_guard lock(mutex_);
    static const std::vector<float> kNoClip;
    if (ClipBlock(clip_.has_clip ? clip_.clip->samples : kNoClip, &clip_.playhead,
                  static_cast<float>(settings.sfx_volume), kTickFrames, block.data())) {
      clip_.has_clip = false;
      ended_serial = clip_.serial;
    }
  }
  monitor_fifo_.Write(block.data(), kTickFrames);
  tick_.made_at[slot] = made;
  tick_.last_made = made;
  ++tick_.waiting;
  // The stop, with its key release, is the voice-key thread's: the display may keep it
  // waiting. Only the clip that ended stops; one started meanwhile plays on.
  if (ended_serial != 0) {
    ended_clip_serial_.store(ended_serial);
    voice_key_wake_.release();
  }
}

void MixerEngine::MixVoice(Clock::time_point now, bool to_cable) {
  if (tick_.waiting_since) {
    KeepLongest(&worst_tick_lateness_us_, now - *tick_.waiting_since);
    tick_.waiting_since.reset();
  }
  const std::vector<float>& clip = tick_.clips[tick_.first];
  tick_.first = (tick_.first + 1) % kMostWaitingClipBlocks;
  --tick_.waiting;
  const AudioSettingsView settings = runtime_state_->GetAudioSettingsView();
  if (!settings.mixer_running) {
    // The microphone is aligned afresh when the run begins.
    microphone_reader_.Reset();
    if (to_cable) mix_fifo_.Write(clip.data(), kTickFrames);
    return;
  }
  // The microphone's clock and the tick's differ a little: the voice is read at the pace that
  // keeps its delay steady, never skipped or padded while the microphone keeps up.
  const bool aligned_before = microphone_reader_.follower().ever_aligned();
  DriftFollower::Decision read = microphone_reader_.Read(
      &microphone_fifo_, LinearResampler::kEngineRate, kTickFrames, now, &tick_.microphone);
  if (read.margin_changed) {
    microphone_notes_.NoteMargin(microphone_reader_.follower().margin_frames());
  }
  if (read.hold && aligned_before) {
    microphone_episode_.Note(
        now, microphone_stall_.stalled() ? BreakCause::kStopped : BreakCause::kLateDelivery,
        kTickFrames);
  } else if (read.short_frames > 0) {
    microphone_episode_.Note(now, BreakCause::kLateDelivery, read.short_frames);
  } else if (read.drop_frames > 0 && aligned_before && !microphone_episode_.open()) {
    // A backlog dropped while the voice flowed: a jump.
    microphone_episode_.Note(now, BreakCause::kBacklog, read.drop_frames);
  } else if (!read.hold) {
    microphone_episode_.End(now);
  }
  ApplyVoiceEffect(&voice_effect_, tick_.microphone.data(), kTickFrames, settings);
  voice_test_.Append(tick_.microphone.data(), kTickFrames);
  if (!to_cable) return;
  AddVoice(tick_.microphone.data(), clip.data(), static_cast<float>(settings.mic_volume),
           kTickFrames, tick_.mix.data());
  mix_fifo_.Write(tick_.mix.data(), kTickFrames);
  KeepLongest(&longest_tick_us_, Clock::now() - now);
}

MixerEngine::TickTiming MixerEngine::GetTickTiming() const {
  return {ticks_.load(), std::chrono::microseconds(worst_tick_lateness_us_.load()),
          std::chrono::microseconds(longest_tick_us_.load())};
}

bool MixerEngine::PlayClip(const std::string& path, uint32_t trigger, bool force,
                           bool trigger_is_voice_key, bool empty_path_is_success,
                           std::string* error) {
  if (runtime_state_ == nullptr || key_bindings_ == nullptr) {
    SetError(error, "MixerEngine dependencies are not configured");
    return false;
  }
  RuntimeSnapshot snapshot = runtime_state_->GetSnapshot();
  if (!snapshot.mixer_running) {
    SetError(error, "Mixer is not running");
    return false;
  }
  if (path.empty()) {
    if (!empty_path_is_success) {
      SetError(error, "No audio file is selected");
      return false;
    }
    if (error != nullptr) error->clear();
    return true;
  }
  std::filesystem::path root =
      profiles_ != nullptr ? ProfileService::ActiveAudioDirectory(snapshot.settings)
                           : std::filesystem::path();
  std::shared_ptr<const LoadedAudioFile> loaded;
  std::string load_error;
  if (!clip_loader_.LoadShared(root, path, &loaded, &load_error)) {
    // A key press has nobody to answer: without this line the key would just play nothing.
    Log("The clip " + path + " could not be played: " + load_error);
    SetError(error, load_error);
    return false;
  }

  // Starts and stops take turns, so a stop never falls between this start's key press and its
  // clip, and the key pressed here is the one the next stop lets go of.
  std::lock_guard start(clip_start_mutex_);
  {
    std::lock_guard lock(mutex_);
    // A clip already playing is left alone.
    if (clip_.playhead.playing) return true;
  }
  // So is a run that ended while the clip loaded.
  if (!runtime_state_->GetSnapshot().mixer_running) {
    SetError(error, "Mixer is not running");
    return false;
  }
  // The key goes down before the clip can be heard, so the game never misses its start and a
  // clip ending at once still finds the key to let go of.
  if (!key_bindings_->PressGameVoiceKey(!force && trigger_is_voice_key, error)) return false;
  {
    std::lock_guard lock(mutex_);
    clip_.playhead = {true, snapshot.settings.loop, 0};
    clip_.trigger = trigger;
    std::swap(clip_.clip, loaded);  // the previous clip goes outside the lock
    clip_.has_clip = true;
    clip_.serial = ++clip_serial_counter_;
  }
  // The key is this clip's now; no older release is owed any more.
  release_owed_.exchange(false);
  runtime_state_->SetVoiceKeyActive(true);
  if (error != nullptr) error->clear();
  return true;
}

bool MixerEngine::PlaySelectedClip(bool force, bool trigger_is_voice_key, std::string* error) {
  if (runtime_state_ == nullptr) {
    SetError(error, "MixerEngine dependencies are not configured");
    return false;
  }
  return PlayClip(runtime_state_->GetSettings().file_path, kTriggerPushToTalk, force,
                  trigger_is_voice_key, false, error);
}

bool MixerEngine::StartPtt(bool force, std::string* error) {
  return PlaySelectedClip(force, false, error);
}

bool MixerEngine::StopPtt(std::string* error) { return StopClip(error); }

bool MixerEngine::StopClip(std::string* error) { return StopClipOf(std::nullopt, error); }

void MixerEngine::ClearClipLocked() {
  clip_.playhead = {};
  clip_.trigger = kTriggerNone;
  clip_.has_clip = false;
}

bool MixerEngine::StopClipOf(std::optional<uint64_t> serial, std::string* error) {
  if (runtime_state_ == nullptr || key_bindings_ == nullptr) return true;
  // Taken in turn with starts: a clip started meanwhile keeps its key and its flag.
  std::lock_guard start(clip_start_mutex_);
  const bool voice_key_active = runtime_state_->GetSnapshot().ptt_active;
  std::shared_ptr<const LoadedAudioFile> finished;
  bool release_needed = false;
  {
    std::lock_guard lock(mutex_);
    if (serial && *serial != clip_.serial) return true;  // that clip is long gone
    release_needed = clip_.playhead.playing || voice_key_active || release_owed_.load();
    ClearClipLocked();
    finished = std::move(clip_.clip);
  }
  if (release_needed && !key_bindings_->ReleaseGameVoiceKey(error)) {
    // The game would go on transmitting: the key stays "held" and is tried again.
    release_owed_.exchange(true);
    voice_key_wake_.release();
    return false;
  }
  release_owed_.exchange(false);
  runtime_state_->SetVoiceKeyActive(false);
  return true;
}

void MixerEngine::RetryOwedRelease() {
  std::lock_guard start(clip_start_mutex_);
  if (!release_owed_.load()) return;
  {
    std::lock_guard lock(mutex_);
    // A clip playing now holds the key for itself, and its own stop lets go of it.
    if (clip_.playhead.playing) {
      release_owed_.exchange(false);
      return;
    }
  }
  if (!key_bindings_->ReleaseGameVoiceKey(nullptr)) return;
  release_owed_.exchange(false);
  runtime_state_->SetVoiceKeyActive(false);
}

void MixerEngine::VoiceKeyThreadMain() {
  while (!voice_key_thread_stop_.load()) {
    // Also once a second, for the margin changes held back to a line a second.
    voice_key_wake_.try_acquire_for(release_owed_.load() ? kReleaseRetryPause
                                                          : std::chrono::milliseconds(1000));
    if (voice_key_thread_stop_.load()) return;
    if (uint64_t ended = ended_clip_serial_.exchange(0); ended != 0) StopClipOf(ended, nullptr);
    RetryOwedRelease();
    LogRoadNotes();
  }
}

void MixerEngine::OnRawKeyEvent(const RawKeyEvent& event) {
  if (runtime_state_ == nullptr || key_bindings_ == nullptr) return;
  const bool is_ptt = key_bindings_->MatchesPushToTalkKey(event.vk, event.scan_code, event.extended);
  if (!is_ptt && !key_bindings_->MatchesPanicKey(event.vk, event.scan_code, event.extended)) {
    return;
  }
  if (event.is_down) {
    bool is_voice_key = key_bindings_->MatchesVoiceKey(event.vk, event.scan_code, event.extended);
    if (is_ptt) {
      PlaySelectedClip(false, is_voice_key, nullptr);
    } else {
      PlayClip(runtime_state_->GetSettings().panic_file_path, kTriggerPanic, false, is_voice_key,
               true, nullptr);
    }
    return;
  }
  std::optional<uint64_t> serial;
  {
    std::lock_guard lock(mutex_);
    if (clip_.playhead.playing &&
        clip_.trigger == (is_ptt ? kTriggerPushToTalk : kTriggerPanic)) {
      serial = clip_.serial;
    }
  }
  if (serial) StopClipOf(serial, nullptr);
}

bool MixerEngine::RecordVoiceTest(uint32_t seconds, VoiceTestResult* out, std::string* error) {
  if (seconds != 5) {
    SetError(error, "Voice test duration must be 5 seconds");
    return false;
  }
  if (out == nullptr) {
    SetError(error, "VoiceTestResult output pointer is null");
    return false;
  }
  if (runtime_state_ == nullptr) {
    SetError(error, "MixerEngine dependencies are not configured");
    return false;
  }
  RuntimeSnapshot snapshot = runtime_state_->GetSnapshot();
  if (!snapshot.mixer_running) {
    SetError(error, "Start the mixer before recording a voice test");
    return false;
  }
  {
    std::lock_guard lock(mutex_);
    if (!microphone_.usable) {
      SetError(error, "Microphone input is not available");
      return false;
    }
  }
  return voice_test_.Record(kVoiceTestFrames, snapshot.settings, kVoiceTestTimeout, out, error);
}

bool MixerEngine::GetLatestVoiceTest(VoiceTestResult* out, std::string* error) const {
  return voice_test_.GetLatest(out, error);
}

void MixerEngine::ClearVoiceTest() { voice_test_.ClearLatest(); }

}  // namespace zennic
