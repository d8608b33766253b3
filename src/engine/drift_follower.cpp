#include "engine/drift_follower.h"

#include <algorithm>

namespace zennic {
namespace {

using namespace std::chrono_literals;

constexpr double kFramesPerSecond = 48000.0;
constexpr auto kWindow = 500ms;
// A backlog this far beyond the target for a whole window is dropped rather than worked off: at
// the follower's most, 700 ppm, 20 ms would take half a minute of extra delay. A shorter one is
// a reader catching up after it was held up, and is gone within the window.
constexpr uint64_t kMostBacklogFrames = 960;  // 20 ms
// The first alignment waits for a few deliveries and for the writer's first moments: a test
// microphone here handed over 85 ms of earlier audio in its first 10 ms.
constexpr uint64_t kWritesBeforeAligning = 3;
constexpr auto kFirstAlignmentWait = 60ms;
// A device back after a stop hands over what it held, and not always in one delivery (a test
// microphone here: 80 ms in two, 0.1 ms apart). Aligned on the first piece, the rest would be a
// backlog dropped a window later, a second jump in the voice: the read that finds the device back
// waits for the next one that finds more.
constexpr uint64_t kWritesBeforeRealigning = 2;

uint64_t FramesOf(DriftFollower::Clock::duration duration) {
  return static_cast<uint64_t>(std::chrono::duration<double>(duration).count() * kFramesPerSecond);
}

}  // namespace

DriftFollower::DriftFollower(const AdaptiveTarget::Shape& margin, Start start)
    : margin_(margin, static_cast<uint32_t>(kFramesPerSecond)), start_(start) {}

void DriftFollower::Reset() {
  missing_ = 0;
  aligned_ = false;
  ever_aligned_ = false;
  written_seen_ = 0;
  writes_ = 0;
  writes_at_stop_ = 0;
  window_open_ = false;
  rate_.Reset();
}

void DriftFollower::ResetRun() {
  Reset();
  margin_.Reset();
}

void DriftFollower::WriterStopped() {
  aligned_ = false;
  window_open_ = false;
  missing_ = 0;
  writes_at_stop_ = writes_;
}

void DriftFollower::NoteWrite(Clock::time_point now, const SampleFifo::Fill& fill) {
  if (fill.written_frames == written_seen_ || fill.last_write_frames == 0) return;
  written_seen_ = fill.written_frames;
  if (++writes_ == 1) first_write_at_ = now;
}

DriftFollower::Decision DriftFollower::Align(uint64_t level, uint64_t spare) {
  Decision decision;
  decision.speed = rate_.speed();
  const uint64_t target = target_frames();
  decision.drop_frames = level > target ? std::min(level - target, spare) : 0;
  aligned_ = true;
  ever_aligned_ = true;
  window_open_ = false;
  return decision;
}

DriftFollower::Decision DriftFollower::BeforeRead(Clock::time_point now,
                                                  const SampleFifo::Fill& fill, uint64_t needed) {
  Decision decision;
  decision.speed = rate_.speed();
  NoteWrite(now, fill);

  // What will wait after the read, and the writer's next block as far as it is already due.
  const uint64_t after = fill.frames > needed ? fill.frames - needed : 0;
  uint64_t due = 0;
  if (fill.last_write_frames > 0 && now > fill.last_write_at) {
    due = std::min(fill.last_write_frames, FramesOf(now - fill.last_write_at));
  }
  const uint64_t level = after + due;

  if (!aligned_) {
    const bool more_may_come =
        start_ == Start::kWithBacklog &&
        (ever_aligned_ ? writes_ < writes_at_stop_ + kWritesBeforeRealigning
                       : writes_ < kWritesBeforeAligning ||
                             now - first_write_at_ < kFirstAlignmentWait);
    if (fill.frames < needed || level < target_frames() || more_may_come) {
      decision.hold = true;
      return decision;
    }
    return Align(level, after);
  }
  if (fill.frames < needed) {
    decision.short_frames = needed - fill.frames;
    if (missing_ + decision.short_frames > kMostBacklogFrames) {
      // Later than a backlog worth working off: the writer is gone for now (or the whole machine
      // stood still). Silence until its audio has built up again, then a new alignment that
      // drops what came too late to be heard in time.
      decision.hold = true;
      WriterStopped();
      return decision;
    }
    // The caller could wait no longer for a late writer: the silence read for the late frames
    // is delay the writer needed, and it stays, so that its late audio is heard when it comes
    // rather than dropped; the margin grows by as much once the writer is back, for the whole
    // lateness at once.
    missing_ += decision.short_frames;
    return decision;
  }
  if (missing_ > 0) {
    decision.margin_changed = margin_.Grow(now, missing_);
    missing_ = 0;
  } else {
    decision.margin_changed = margin_.Settle(now);
  }

  if (!window_open_) {
    window_open_ = true;
    window_start_ = now;
    window_sum_ = 0.0;
    window_reads_ = 0;
  }
  window_sum_ += static_cast<double>(level);
  ++window_reads_;
  if (now - window_start_ >= kWindow) CloseWindow(now, after, &decision);
  return decision;
}

void DriftFollower::CloseWindow(Clock::time_point now, uint64_t spare, Decision* decision) {
  const double seconds = std::chrono::duration<double>(now - window_start_).count();
  const double mean_level = window_sum_ / static_cast<double>(window_reads_);
  window_open_ = false;
  const double target = static_cast<double>(target_frames());
  if (mean_level > target + static_cast<double>(kMostBacklogFrames)) {
    // The speed stays as it was: the backlog was no difference of the clocks.
    decision->drop_frames = std::min(spare, static_cast<uint64_t>(mean_level - target));
    return;
  }
  decision->speed = rate_.Update(mean_level - target, seconds);
}

}  // namespace zennic
