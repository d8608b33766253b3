#include "engine/drift_follower.h"

#include <algorithm>

namespace zennic {
namespace {

using namespace std::chrono_literals;

constexpr double kFramesPerSecond = 48000.0;
constexpr auto kWindow = 500ms;
// 2 ms beyond the target make the reader 500 ppm faster (a time constant of 4 s), so that a
// clock half a per mille off is caught within the margin; the integral then takes over the
// lasting difference within a minute or two, without overshoot.
constexpr double kProportionalGain = 1.0 / (kFramesPerSecond * 4.0);
constexpr double kIntegralGain = kProportionalGain / 40.0;
constexpr uint64_t kStallFrames = 4800;  // 100 ms
// What should still wait after a read when the writer came as late as it lately has.
constexpr uint64_t kGuardFrames = 48;     // 1 ms
constexpr uint64_t kLoweringFrames = 48;  // 1 ms
constexpr auto kLoweringPause = 10s;
constexpr auto kBlockMemory = 5s;
// A burst right after the first alignment is the devices' own start, not a stall.
constexpr auto kStartSettling = 1s;

}  // namespace

// A run starts with three times the margin, while its threads and devices settle, and comes
// down to it as the seconds show room to spare.
DriftFollower::DriftFollower(uint64_t margin_frames)
    : base_margin_(margin_frames), margin_(3 * margin_frames) {}

void DriftFollower::Reset() { *this = DriftFollower(base_margin_); }

uint64_t DriftFollower::target_frames() const {
  return std::max(block_, previous_block_) + margin_;
}

void DriftFollower::NoteBlock(Clock::time_point now, uint64_t frames) {
  if (now - block_since_ >= kBlockMemory) {
    previous_block_ = block_;
    block_ = 0;
    block_since_ = now;
  }
  block_ = std::max(block_, frames);
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
  last_raise_ = last_lowering_ = now;
  lowest_since_change_ = UINT64_MAX;
  return decision;
}

DriftFollower::Decision DriftFollower::BeforeRead(Clock::time_point now,
                                                  const SampleFifo::Fill& fill, uint64_t needed) {
  if (fill.last_write_frames > 0) NoteBlock(now, fill.last_write_frames);
  const Decision hold{true, speed_, 0, 0ms};
  const Decision read{false, speed_, 0, 0ms};

  // What will wait after the read, and the writer's next block as far as it is already due.
  const uint64_t after = fill.frames > needed ? fill.frames - needed : 0;
  uint64_t due = 0;
  if (fill.last_write_frames > 0 && now > fill.last_write_at) {
    due = std::min(fill.last_write_frames,
                   static_cast<uint64_t>(
                       std::chrono::duration<double>(now - fill.last_write_at).count() *
                       kFramesPerSecond));
  }
  const uint64_t level = after + due;

  if (!aligned_) {
    if (fill.frames < needed || level < target_frames()) return hold;
    return Align(now, level, fill.frames);
  }
  if (fill.frames < needed) {
    if (!starving_) {
      starving_ = true;
      starving_since_ = now;
      missing_ = 0;
    }
    if (now - starving_since_ >= kStallTime) {
      // The writer stopped: play silence until its audio has built up again.
      aligned_ = false;
      stall_ = now - starving_since_;
      return hold;
    }
    missing_ += needed - fill.frames;
    return read;
  }
  Decision decision = read;
  if (starving_) {
    starving_ = false;
    // The silence read while the writer was late is the delay it needs in hand.
    RaiseMargin(now, missing_ + kGuardFrames);
    decision.late = std::max(1ms, std::chrono::milliseconds(missing_ * 1000 / 48000));
  }
  if (level > target_frames() + kStallFrames) {
    // The reader was held up: what waits beyond the target is the stall's backlog.
    stall_ = std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double>(
        static_cast<double>(level - target_frames()) / kFramesPerSecond));
    return Align(now, level, fill.frames);
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
  if (now - window_start_ >= kWindow) CloseWindow(now);
  decision.speed = speed_;
  return decision;
}

void DriftFollower::CloseWindow(Clock::time_point now) {
  const double seconds = std::chrono::duration<double>(now - window_start_).count();
  const double error =
      window_sum_ / static_cast<double>(window_reads_) - static_cast<double>(target_frames());
  const double integral_limit = kMaxSpeedDeviation / kIntegralGain;
  integral_ = std::clamp(integral_ + error * seconds, -integral_limit, integral_limit);
  speed_ = 1.0 + std::clamp(kProportionalGain * error + kIntegralGain * integral_,
                            -kMaxSpeedDeviation, kMaxSpeedDeviation);
  window_open_ = false;

  // A writer that came nearly too late is met with more in hand before it comes too late.
  if (window_lowest_ < kGuardFrames) {
    RaiseMargin(now, kGuardFrames - window_lowest_);
    return;
  }
  lowest_since_change_ = std::min(lowest_since_change_, window_lowest_);
  if (margin_ > base_margin_ && now - last_raise_ >= kLoweringPause &&
      now - last_lowering_ >= kLoweringPause &&
      lowest_since_change_ >= kGuardFrames + kLoweringFrames) {
    margin_ -= std::min(kLoweringFrames, margin_ - base_margin_);
    last_lowering_ = now;
    lowest_since_change_ = UINT64_MAX;
  }
}

void DriftFollower::RaiseMargin(Clock::time_point now, uint64_t frames) {
  margin_ = std::min(margin_ + frames, std::max(kMaxMarginFrames, base_margin_));
  last_raise_ = now;
  lowest_since_change_ = UINT64_MAX;
}

}  // namespace zennic
