#include "engine/drift_follower.h"

#include <algorithm>
#include <functional>

namespace zennic {
namespace {

using namespace std::chrono_literals;

constexpr double kFramesPerSecond = 48000.0;
constexpr uint64_t kMillisecondFrames = 48;
constexpr auto kWindow = 500ms;
// 2 ms beyond the target make the reader 500 ppm faster (a time constant of 4 s), so that a
// clock half a per mille off is caught within the margin; the integral then takes over the
// lasting difference within a minute or two, without overshoot.
constexpr double kProportionalGain = 1.0 / (kFramesPerSecond * 4.0);
constexpr double kIntegralGain = kProportionalGain / 40.0;
constexpr uint64_t kStallFrames = 4800;  // 100 ms
// What should still wait after a read when both sides kept the worst pace measured.
constexpr uint64_t kGuardFrames = 48;  // 1 ms
// Lowered a millisecond at a time, and only while the measured jitter leaves two to spare, so
// that the margin does not swing with every second's jitter.
constexpr uint64_t kLoweringFrames = 48;
constexpr uint64_t kMostGrowthFrames = 480;  // 10 ms
constexpr uint64_t kHysteresisFrames = 96;
constexpr auto kLoweringPause = 10s;
// A burst right after the first alignment is the devices' own start, not a stall.
constexpr auto kStartSettling = 1s;
// Blocks up to two mixer ticks are every device's ordinary periods; larger ones are said.
constexpr uint64_t kOrdinaryBlockFrames = 960;
constexpr uint64_t kWritesBeforeAligning = 3;
// A test microphone here handed over 85 ms of earlier audio in its first 10 ms.
constexpr auto kFirstAlignmentWait = 60ms;

uint64_t FramesOf(DriftFollower::Clock::duration duration) {
  return static_cast<uint64_t>(std::chrono::duration<double>(duration).count() * kFramesPerSecond);
}

}  // namespace

DriftFollower::DriftFollower(uint64_t start_margin_frames)
    : start_margin_(start_margin_frames), margin_(start_margin_frames) {}

void DriftFollower::RecentDepth::Clear() { *this = RecentDepth(); }

void DriftFollower::RecentDepth::Note(Clock::time_point now, uint64_t frames) {
  if (!started_ || now - second_start_ >= std::chrono::seconds(1)) {
    if (started_) {
      seconds_[next_] = current_;
      next_ = (next_ + 1) % kSeconds;
    }
    started_ = true;
    second_start_ = now;
    current_ = 0;
  }
  current_ = std::max(current_, frames);
}

uint64_t DriftFollower::RecentDepth::Peak() const {
  return std::max(current_, *std::max_element(seconds_.begin(), seconds_.end()));
}

void DriftFollower::Reset() {
  aligned_ = false;
  ever_aligned_ = false;
  stall_ = {};
  starving_ = false;
  recent_writes_.fill(0);
  next_write_ = 0;
  written_seen_ = 0;
  writes_ = 0;
  block_ = 0;
  window_open_ = false;
  integral_ = 0.0;
  speed_ = 1.0;
  depth_.Clear();
}

void DriftFollower::ResetRun() {
  Reset();
  margin_ = start_margin_;
  largest_block_ = 0;
}

uint64_t DriftFollower::target_frames() const { return block_frames() + margin_; }

DriftFollower::Clock::duration DriftFollower::StallTime() const {
  // A writer whose blocks are long is silent between them for as long.
  auto blocks = std::chrono::duration_cast<Clock::duration>(
      std::chrono::duration<double>(2.0 * static_cast<double>(block_frames()) / kFramesPerSecond));
  return std::max<Clock::duration>(kStallTime, blocks);
}

uint64_t DriftFollower::MeasuredNeed() const { return depth_.Peak() + kGuardFrames; }

void DriftFollower::SetMargin(Clock::time_point now, uint64_t frames, Decision* decision) {
  // In whole milliseconds, so that it moves by steps worth telling.
  frames = (frames + kMillisecondFrames - 1) / kMillisecondFrames * kMillisecondFrames;
  frames = std::clamp(frames, kGuardFrames, std::max(kMaxMarginFrames, start_margin_));
  margin_changed_at_ = now;
  if (frames == margin_) return;
  margin_ = frames;
  decision->margin_changed = true;
}

void DriftFollower::NoteWrite(Clock::time_point now, const SampleFifo::Fill& fill,
                              Decision* decision) {
  const bool new_write = fill.written_frames != written_seen_ && fill.last_write_frames > 0;
  written_seen_ = fill.written_frames;
  if (!new_write) return;
  if (++writes_ == 1) first_write_at_ = now;
  recent_writes_[next_write_] = fill.last_write_frames;
  next_write_ = (next_write_ + 1) % recent_writes_.size();
  std::array<uint64_t, 8> sorted = recent_writes_;
  std::nth_element(sorted.begin(), sorted.begin() + 1, sorted.end(), std::greater<>());
  block_ = sorted[1];
  if (block_ > kOrdinaryBlockFrames && block_ > largest_block_ + largest_block_ / 4) {
    decision->block_grew = true;
  }
  largest_block_ = std::max(largest_block_, block_);
}

DriftFollower::Decision DriftFollower::Align(Clock::time_point now, uint64_t level,
                                             uint64_t waiting) {
  Decision decision;
  decision.speed = speed_;
  uint64_t target = target_frames();
  decision.drop_frames = level > target ? std::min(level - target, waiting) : 0;
  if (!ever_aligned_) {
    ever_aligned_ = true;
    first_aligned_at_ = now;
  } else if (now - first_aligned_at_ >= kStartSettling) {
    decision.stall = std::max(std::chrono::duration_cast<std::chrono::milliseconds>(stall_), 1ms);
  }
  aligned_ = true;
  starving_ = false;
  window_open_ = false;
  held_level_ = target;
  margin_changed_at_ = now;
  return decision;
}

DriftFollower::Decision DriftFollower::BeforeRead(Clock::time_point now,
                                                  const SampleFifo::Fill& fill, uint64_t needed) {
  Decision decision;
  decision.speed = speed_;
  NoteWrite(now, fill, &decision);

  // What will wait after the read, and the writer's next block as far as it is already due.
  const uint64_t after = fill.frames > needed ? fill.frames - needed : 0;
  uint64_t due = 0;
  if (fill.last_write_frames > 0 && now > fill.last_write_at) {
    due = std::min(fill.last_write_frames, FramesOf(now - fill.last_write_at));
  }
  const uint64_t level = after + due;

  if (!aligned_) {
    // The first alignment waits for a few deliveries, which show the writer's block, and for
    // the first moments of the writer, which may hand over at once audio from before the run (a
    // device's backlog, with gaps of its own): the alignment keeps only the newest audio.
    if (fill.frames < needed || level < target_frames() ||
        (!ever_aligned_ &&
         (writes_ < kWritesBeforeAligning || now - first_write_at_ < kFirstAlignmentWait))) {
      decision.hold = true;
      return decision;
    }
    Decision aligned = Align(now, level, fill.frames);
    aligned.margin_changed = decision.margin_changed;
    aligned.block_grew = decision.block_grew;
    return aligned;
  }
  if (fill.frames < needed) {
    if (!starving_) {
      starving_ = true;
      starving_since_ = now;
      missing_ = 0;
    }
    if (now - starving_since_ >= StallTime()) {
      // The writer stopped: play silence until its audio has built up again. The time it was
      // away is no measure of its jitter.
      aligned_ = false;
      stall_ = now - starving_since_;
      depth_.Clear();
      decision.hold = true;
      return decision;
    }
    decision.short_frames = needed - fill.frames;
    missing_ += decision.short_frames;
    return decision;
  }
  if (starving_) {
    // The silence read while the writer was late is delay it needs in hand: it stays, and the
    // margin grows by as much, unless the writer was away long enough to count as a stall. A
    // long wait is a stall of the whole machine more than the writer's pace: the margin grows
    // by at most kMostGrowthFrames for it, so that one of them does not hold the delay up for
    // minutes.
    starving_ = false;
    uint64_t growth = std::min(missing_, kMostGrowthFrames);
    depth_.Note(now, margin_ + growth);
    SetMargin(now, margin_ + growth + kGuardFrames, &decision);
  }
  if (level > target_frames() + kStallFrames) {
    // The reader was held up: what waits beyond the target is the stall's backlog.
    stall_ = std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double>(
        static_cast<double>(level - target_frames()) / kFramesPerSecond));
    depth_.Clear();
    Decision aligned = Align(now, level, fill.frames);
    aligned.margin_changed = decision.margin_changed;
    aligned.block_grew = decision.block_grew;
    return aligned;
  }
  // How deep this read ate into the margin: a side that came nearly too late is met with more
  // in hand before it comes too late. Measured from the level the reads keep: after a raised
  // margin, or a reader that waited for its frames, the level takes seconds to come up to the
  // target, and what the reads find short of it meanwhile is no jitter of either side.
  const uint64_t target = target_frames();
  const uint64_t kept = after + (target > held_level_ ? target - held_level_ : 0);
  depth_.Note(now, kept < margin_ ? margin_ - kept : 0);
  if (uint64_t need = MeasuredNeed(); need > margin_) SetMargin(now, need, &decision);

  if (!window_open_) {
    window_open_ = true;
    window_start_ = now;
    window_sum_ = 0.0;
    window_reads_ = 0;
  }
  window_sum_ += static_cast<double>(level);
  ++window_reads_;
  if (now - window_start_ >= kWindow) CloseWindow(now, &decision);
  return decision;
}

void DriftFollower::CloseWindow(Clock::time_point now, Decision* decision) {
  const double seconds = std::chrono::duration<double>(now - window_start_).count();
  const double mean_level = window_sum_ / static_cast<double>(window_reads_);
  held_level_ = static_cast<uint64_t>(mean_level);
  const double error = mean_level - static_cast<double>(target_frames());
  const double integral_limit = kMaxSpeedDeviation / kIntegralGain;
  integral_ = std::clamp(integral_ + error * seconds, -integral_limit, integral_limit);
  speed_ = 1.0 + std::clamp(kProportionalGain * error + kIntegralGain * integral_,
                            -kMaxSpeedDeviation, kMaxSpeedDeviation);
  window_open_ = false;

  if (now - margin_changed_at_ >= kLoweringPause &&
      MeasuredNeed() + kHysteresisFrames + kLoweringFrames <= margin_) {
    SetMargin(now, margin_ - kLoweringFrames, decision);
  }
}

}  // namespace zennic
