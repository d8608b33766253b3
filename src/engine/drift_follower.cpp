#include "engine/drift_follower.h"

#include <algorithm>

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
constexpr uint64_t kHysteresisFrames = 96;
constexpr auto kLoweringPause = 10s;
constexpr auto kBlockMemory = 5s;
// A burst right after the first alignment is the devices' own start, not a stall.
constexpr auto kStartSettling = 1s;
// Blocks up to two mixer ticks are every device's ordinary periods; larger ones are said.
constexpr uint64_t kOrdinaryBlockFrames = 960;

uint64_t FramesOf(DriftFollower::Clock::duration duration) {
  return static_cast<uint64_t>(std::chrono::duration<double>(duration).count() * kFramesPerSecond);
}

}  // namespace

DriftFollower::DriftFollower(uint64_t start_margin_frames)
    : start_margin_(start_margin_frames), margin_(start_margin_frames) {}

void DriftFollower::Reset() {
  aligned_ = false;
  ever_aligned_ = false;
  settled_ = false;
  stall_ = {};
  starving_ = false;
  lowest_since_change_ = UINT64_MAX;
  block_ = previous_block_ = 0;
  block_since_ = {};
  window_open_ = false;
  integral_ = 0.0;
  speed_ = 1.0;
  read_frames_ = 0;
  writer_frames_seen_ = 0;
  writer_jitter_.Restart();
  reader_jitter_.Restart();
}

void DriftFollower::ResetRun() {
  Reset();
  margin_ = start_margin_;
  largest_block_ = 0;
  writer_jitter_.Reset();
  reader_jitter_.Reset();
}

uint64_t DriftFollower::block_frames() const { return std::max(block_, previous_block_); }

uint64_t DriftFollower::target_frames() const { return block_frames() + margin_; }

DriftFollower::Clock::duration DriftFollower::StallTime() const {
  // A writer whose blocks are long is silent between them for as long.
  auto blocks = std::chrono::duration_cast<Clock::duration>(
      std::chrono::duration<double>(2.0 * static_cast<double>(block_frames()) / kFramesPerSecond));
  return std::max<Clock::duration>(kStallTime, blocks);
}

uint64_t DriftFollower::MeasuredNeed() const {
  return FramesOf(writer_jitter_.RecentPeak()) + FramesOf(reader_jitter_.RecentPeak()) +
         kGuardFrames;
}

void DriftFollower::SetMargin(Clock::time_point now, uint64_t frames, Decision* decision) {
  // In whole milliseconds, so that it moves by steps worth telling.
  frames = (frames + kMillisecondFrames - 1) / kMillisecondFrames * kMillisecondFrames;
  frames = std::clamp(frames, kGuardFrames, std::max(kMaxMarginFrames, start_margin_));
  margin_changed_at_ = now;
  lowest_since_change_ = UINT64_MAX;
  if (frames == margin_) return;
  margin_ = frames;
  decision->margin_changed = true;
}

void DriftFollower::NoteBlock(Clock::time_point now, uint64_t frames, Decision* decision) {
  if (now - block_since_ >= kBlockMemory) {
    previous_block_ = block_;
    block_ = 0;
    block_since_ = now;
  }
  block_ = std::max(block_, frames);
  if (frames > kOrdinaryBlockFrames && frames > largest_block_ + largest_block_ / 4) {
    decision->block_grew = true;
  }
  largest_block_ = std::max(largest_block_, frames);
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
  margin_changed_at_ = now;
  lowest_since_change_ = UINT64_MAX;
  return decision;
}

DriftFollower::Decision DriftFollower::BeforeRead(Clock::time_point now,
                                                  const SampleFifo::Fill& fill, uint64_t needed) {
  Decision decision;
  decision.speed = speed_;
  if (fill.last_write_frames > 0) NoteBlock(now, fill.last_write_frames, &decision);
  if (fill.written_frames < writer_frames_seen_) writer_jitter_.Restart();
  if (fill.written_frames != writer_frames_seen_ && fill.last_write_frames > 0) {
    writer_jitter_.Note(fill.last_write_at, fill.written_frames);
  }
  writer_frames_seen_ = fill.written_frames;
  // The reader asks at its own pace whether or not the FIFO can answer.
  read_frames_ += needed;
  reader_jitter_.Note(now, read_frames_);

  // What will wait after the read, and the writer's next block as far as it is already due.
  const uint64_t after = fill.frames > needed ? fill.frames - needed : 0;
  uint64_t due = 0;
  if (fill.last_write_frames > 0 && now > fill.last_write_at) {
    due = std::min(fill.last_write_frames, FramesOf(now - fill.last_write_at));
  }
  const uint64_t level = after + due;
  if (ever_aligned_ && !settled_ && now - first_aligned_at_ >= kStartSettling) {
    // The devices' first moments are their start, not a measure of their jitter.
    settled_ = true;
    writer_jitter_.Reset();
    reader_jitter_.Reset();
  }
  if (uint64_t need = MeasuredNeed(); settled_ && need > margin_) SetMargin(now, need, &decision);

  if (!aligned_) {
    if (fill.frames < needed || level < target_frames()) {
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
      writer_jitter_.Restart();
      reader_jitter_.Restart();
      decision.hold = true;
      return decision;
    }
    decision.short_frames = needed - fill.frames;
    missing_ += decision.short_frames;
    return decision;
  }
  if (starving_) {
    // The silence read while the writer was late is delay it needs in hand: it stays, and the
    // margin grows by as much, unless the writer was away long enough to count as a stall.
    starving_ = false;
    SetMargin(now, margin_ + missing_ + kGuardFrames, &decision);
  }
  if (level > target_frames() + kStallFrames) {
    // The reader was held up: what waits beyond the target is the stall's backlog.
    stall_ = std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double>(
        static_cast<double>(level - target_frames()) / kFramesPerSecond));
    writer_jitter_.Restart();
    reader_jitter_.Restart();
    Decision aligned = Align(now, level, fill.frames);
    aligned.margin_changed = decision.margin_changed;
    aligned.block_grew = decision.block_grew;
    return aligned;
  }
  if (!window_open_) {
    window_open_ = true;
    window_start_ = now;
    window_sum_ = 0.0;
    window_reads_ = 0;
    window_lowest_ = UINT64_MAX;
  }
  window_sum_ += static_cast<double>(level);
  ++window_reads_;
  window_lowest_ = std::min(window_lowest_, after);
  if (now - window_start_ >= kWindow) CloseWindow(now, &decision);
  return decision;
}

void DriftFollower::CloseWindow(Clock::time_point now, Decision* decision) {
  const double seconds = std::chrono::duration<double>(now - window_start_).count();
  const double error =
      window_sum_ / static_cast<double>(window_reads_) - static_cast<double>(target_frames());
  const double integral_limit = kMaxSpeedDeviation / kIntegralGain;
  integral_ = std::clamp(integral_ + error * seconds, -integral_limit, integral_limit);
  speed_ = 1.0 + std::clamp(kProportionalGain * error + kIntegralGain * integral_,
                            -kMaxSpeedDeviation, kMaxSpeedDeviation);
  window_open_ = false;

  // A side that came nearly too late is met with more in hand before it comes too late.
  if (window_lowest_ < kGuardFrames) {
    SetMargin(now, margin_ + kGuardFrames - window_lowest_, decision);
    return;
  }
  lowest_since_change_ = std::min(lowest_since_change_, window_lowest_);
  if (now - margin_changed_at_ >= kLoweringPause &&
      MeasuredNeed() + kHysteresisFrames <= margin_ &&
      lowest_since_change_ >= kGuardFrames + kLoweringFrames) {
    SetMargin(now, margin_ - kLoweringFrames, decision);
  }
}

}  // namespace zennic
