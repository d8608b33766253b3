#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>
#include <functional>
#include <mutex>
#include <string>

#include "engine/delivery_jitter.h"

namespace zennic {

// What broke a device's audio, as the log names it.
enum class BreakCause : int {
  kRanDry,        // an output's queue on its device ran out
  kLateMix,       // an output waited for the mix until its queue ran low
  kLateDelivery,  // the microphone came later than the outputs could wait
  kStopped,       // the microphone stopped delivering; its audio was realigned when it came back
  kLostAudio,     // the device lost audio before it was read
  kBacklog,       // audio piled up beyond the margin and was dropped
  kNotTaken,      // an output did not take its audio for a while; what it missed was dropped
};

// What one device of a run met since the start.
struct DeviceHealth {
  // Breaks a listener hears in its audio (a stretch of silence or a jump), each counted once
  // however long it lasts, and their length in all.
  uint64_t breaks = 0;
  std::chrono::microseconds break_time{0};
  // What waits in its FIFO against lateness (the microphone's and the monitor's), and what an
  // output keeps queued on its device.
  std::chrono::microseconds margin{0};
  std::chrono::microseconds queue{0};
  // How unevenly it kept its pace: the spread of its deliveries (microphone) or of the passes its
  // requests woke (outputs) within a second, the median second's and the worst.
  std::chrono::microseconds jitter_median{0};
  std::chrono::microseconds jitter_peak{0};
};

// One device's side of the audio road: its breaks, counted by the audio threads as they happen
// (never waiting), and logged by a thread that may wait for a file. Reset only while the run's
// audio threads are stopped.
class AudioRoadNotes {
 public:
  // `output`: a device the engine plays to, rather than the microphone.
  AudioRoadNotes(const char* label, bool output) : label_(label), output_(output) {}
  AudioRoadNotes(const AudioRoadNotes&) = delete;
  AudioRoadNotes& operator=(const AudioRoadNotes&) = delete;

  // A new run.
  void Reset();

  // From the device's audio thread.
  DeliveryJitter& jitter() { return jitter_; }
  // A change of either gets a line in the log.
  void NoteMargin(uint64_t frames);
  void NoteQueue(uint64_t frames);

  DeviceHealth Health() const;

  // From the logging thread: a line for each kind of news since the last call; margins and queues
  // at most once a second.
  void Log(const std::function<void(const std::string&)>& write);

 private:
  friend class BreakEpisode;

  const char* const label_;
  const bool output_;
  DeliveryJitter jitter_;
  std::atomic<uint64_t> breaks_{0};
  std::atomic<uint64_t> break_frames_{0};
  // The latest break that ended, for its line.
  std::atomic<uint64_t> ended_{0};
  std::atomic<int> ended_cause_{0};
  std::atomic<uint64_t> ended_frames_{0};
  std::atomic<int64_t> ended_detail_ms_{0};
  std::atomic<uint64_t> margin_frames_{0};
  std::atomic<uint64_t> margin_changes_{0};
  std::atomic<uint64_t> queue_frames_{0};
  std::atomic<uint64_t> queue_changes_{0};

  // The logging thread's, and Reset's: what it has logged of the run.
  std::mutex log_mutex_;
  uint64_t breaks_logged_ = 0;
  uint64_t break_frames_logged_ = 0;
  uint64_t ended_logged_ = 0;
  uint64_t margin_changes_logged_ = 0;
  uint64_t queue_changes_logged_ = 0;
  std::chrono::steady_clock::time_point levels_logged_at_;
};

// One audio thread's view of the breaks it finds in one device's audio: a break lasts from the
// first silent or dropped frame until the audio has flowed whole for a while, and counts once.
// The thread that owns it is the only one to call it.
class BreakEpisode {
 public:
  using Clock = std::chrono::steady_clock;

  explicit BreakEpisode(AudioRoadNotes* notes) : notes_(notes) {}

  // `frames` (48,000 a second) of the device's audio were silent or dropped at `at`, for `cause`;
  // `detail_ms`, what the cause's line tells beside (an output's longest pause before it ran dry).
  void Note(Clock::time_point at, BreakCause cause, uint64_t frames, int64_t detail_ms = 0);
  // The audio flowed whole at `at`: the break ends once it has for longer than a listener hears
  // two breaks as one.
  void End(Clock::time_point at);
  // The thread stops: the break ends now.
  void Finish();
  bool open() const { return open_; }

 private:
  AudioRoadNotes* notes_;
  bool open_ = false;
  Clock::time_point last_noted_;
  BreakCause cause_ = BreakCause::kRanDry;
  uint64_t frames_ = 0;
  int64_t detail_ms_ = 0;
};

}  // namespace zennic
