#include "engine/audio_road_notes.h"

#include <algorithm>

namespace zennic {
namespace {

constexpr auto kLevelLogPause = std::chrono::seconds(1);
// Silences and jumps closer together than this are heard as one break.
constexpr auto kHeardAsOne = std::chrono::milliseconds(20);

std::chrono::microseconds DurationOf(uint64_t frames) {
  return std::chrono::microseconds(frames * 125 / 6);  // 1,000,000 / 48,000
}

std::string Milliseconds(uint64_t frames) { return std::to_string((frames + 24) / 48) + " ms"; }

std::string Sentence(const char* label, BreakCause cause, uint64_t frames, int64_t detail_ms) {
  const std::string silence = Milliseconds(frames);
  switch (cause) {
    case BreakCause::kRanDry:
      return std::string(label) + " ran dry and played " + silence +
             " of silence; its thread had paused up to " + std::to_string(detail_ms) +
             " ms between passes just before";
    case BreakCause::kLateMix:
      return std::string(label) + " waited for the mix until its queue ran low and played " +
             silence + " of silence";
    case BreakCause::kLateDelivery:
      return std::string(label) + " delivered later than the outputs could wait: the voice had " +
             silence + " of silence";
    case BreakCause::kStopped:
      return std::string(label) + " stopped delivering: the voice had " + silence +
             " of silence until it came back, and was realigned then";
    case BreakCause::kLostAudio:
      return std::string(label) + " lost " + silence + " of audio before it was read";
    case BreakCause::kBacklog:
      return std::string(label) + " had " + silence +
             " of audio piled up beyond its margin, which was dropped to keep its delay";
    case BreakCause::kNotTaken:
      return std::string(label) + " did not take its audio for a while: " + silence +
             " of it were dropped to keep its delay";
  }
  return label;
}

}  // namespace

void AudioRoadNotes::Reset() {
  std::lock_guard lock(log_mutex_);
  jitter_.Reset();
  for (std::atomic<uint64_t>* count : {&breaks_, &break_frames_, &ended_, &ended_frames_,
                                       &margin_frames_, &margin_changes_, &queue_frames_,
                                       &queue_changes_}) {
    count->store(0);
  }
  breaks_logged_ = break_frames_logged_ = ended_logged_ = 0;
  margin_changes_logged_ = queue_changes_logged_ = 0;
}

void AudioRoadNotes::NoteMargin(uint64_t frames) {
  if (margin_frames_.exchange(frames) != frames) margin_changes_.fetch_add(1);
}

void AudioRoadNotes::NoteQueue(uint64_t frames) {
  if (queue_frames_.exchange(frames) != frames) queue_changes_.fetch_add(1);
}

DeviceHealth AudioRoadNotes::Health() const {
  DeviceHealth health;
  health.breaks = breaks_.load();
  health.break_time = DurationOf(break_frames_.load());
  health.margin = DurationOf(margin_frames_.load());
  health.queue = DurationOf(queue_frames_.load());
  health.jitter_median =
      std::chrono::duration_cast<std::chrono::microseconds>(jitter_.RunMedian());
  health.jitter_peak = std::chrono::duration_cast<std::chrono::microseconds>(jitter_.RunPeak());
  return health;
}

void AudioRoadNotes::Log(const std::function<void(const std::string&)>& write) {
  std::lock_guard lock(log_mutex_);
  // Counts only grow within a run, and a new run resets them under this lock, so every
  // difference below is of one run.
  if (uint64_t ended = ended_.load(std::memory_order_acquire); ended != ended_logged_) {
    std::string line = Sentence(label_, static_cast<BreakCause>(ended_cause_.load()),
                                ended_frames_.load(), ended_detail_ms_.load());
    const uint64_t breaks = breaks_.load();
    const uint64_t frames = break_frames_.load();
    if (breaks - breaks_logged_ > 1) {
      line += " (" + std::to_string(breaks - breaks_logged_) + " breaks since the last line, " +
              Milliseconds(frames - break_frames_logged_) + " in all)";
    }
    write(line);
    ended_logged_ = ended;
    breaks_logged_ = breaks;
    break_frames_logged_ = frames;
  }
  const auto now = std::chrono::steady_clock::now();
  if (now - levels_logged_at_ < kLevelLogPause) return;
  bool logged = false;
  if (uint64_t changes = queue_changes_.load(); changes != queue_changes_logged_) {
    write(std::string(label_) + ": " + Milliseconds(queue_frames_.load()) +
          " are now kept queued on the device");
    queue_changes_logged_ = changes;
    logged = true;
  }
  if (uint64_t changes = margin_changes_.load(); changes != margin_changes_logged_) {
    write(std::string(label_) + ": " + Milliseconds(margin_frames_.load()) +
          " are now kept in hand against lateness");
    margin_changes_logged_ = changes;
    logged = true;
  }
  if (logged) levels_logged_at_ = now;
}

void BreakEpisode::Note(Clock::time_point at, BreakCause cause, uint64_t frames,
                        int64_t detail_ms) {
  last_noted_ = at;
  if (!open_) {
    open_ = true;
    cause_ = cause;
    frames_ = 0;
    detail_ms_ = detail_ms;
    notes_->breaks_.fetch_add(1);
  }
  // A late microphone that turns out to have stopped is told as stopped.
  if (cause == BreakCause::kStopped) cause_ = cause;
  frames_ += frames;
  detail_ms_ = std::max(detail_ms_, detail_ms);
  notes_->break_frames_.fetch_add(frames);
}

void BreakEpisode::End(Clock::time_point at) {
  if (open_ && at - last_noted_ >= kHeardAsOne) Finish();
}

void BreakEpisode::Finish() {
  if (!open_) return;
  open_ = false;
  notes_->ended_cause_.store(static_cast<int>(cause_));
  notes_->ended_frames_.store(frames_);
  notes_->ended_detail_ms_.store(detail_ms_);
  notes_->ended_.fetch_add(1, std::memory_order_release);
}

}  // namespace zennic
