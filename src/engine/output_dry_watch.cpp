#include "engine/output_dry_watch.h"

#include <algorithm>
#include <utility>

namespace zennic {
namespace {

// A device's run dry is told against its thread's pauses in about this long before it.
constexpr auto kPauseWindow = std::chrono::milliseconds(250);

}  // namespace

OutputDryWatch::OutputDryWatch(uint32_t rate, Clock::time_point start)
    : rate_(rate), last_pass_(start), pauses_since_(start) {}

uint64_t OutputDryWatch::Pass(Clock::time_point now, uint64_t queued, bool device_ran_dry) {
  if (now - pauses_since_ >= kPauseWindow) {
    pauses_since_ = now;
    longest_pause_before_ = std::exchange(longest_pause_, {});
  }
  longest_pause_ = std::max(longest_pause_, now - last_pass_);
  last_pass_ = now;
  if (!wrote_) return 0;
  uint64_t silence = std::exchange(unseen_, 0);
  if (queued == 0) {
    silence += FramesSince(std::max(runs_out_at_, counted_until_), now);
    counted_until_ = now;
  } else {
    // The device's own word on when its queue runs out.
    runs_out_at_ = now + DurationOf(queued);
  }
  if (device_ran_dry) silence = std::max<uint64_t>(silence, std::max<uint32_t>(rate_ / 1000, 1));
  return silence;
}

void OutputDryWatch::Wrote(Clock::time_point at, uint64_t frames) {
  if (wrote_) {
    const Clock::time_point from = std::max(runs_out_at_, counted_until_);
    unseen_ += FramesSince(from, at);
    counted_until_ = std::max(counted_until_, at);
  }
  wrote_ = true;
  runs_out_at_ = std::max(runs_out_at_, at) + DurationOf(frames);
}

uint64_t OutputDryWatch::FramesSince(Clock::time_point from, Clock::time_point to) const {
  if (to <= from) return 0;
  return static_cast<uint64_t>(std::chrono::duration<double>(to - from).count() * rate_);
}

OutputDryWatch::Clock::duration OutputDryWatch::DurationOf(uint64_t frames) const {
  return std::chrono::duration_cast<Clock::duration>(
      std::chrono::duration<double>(static_cast<double>(frames) / rate_));
}

std::chrono::milliseconds OutputDryWatch::longest_pause() const {
  return std::chrono::duration_cast<std::chrono::milliseconds>(
      std::max(longest_pause_, longest_pause_before_));
}

}  // namespace zennic
