#include "engine/backlog_limiter.h"

#include <algorithm>

#include "engine/sample_fifo.h"

namespace zennic {
namespace {

// The threads of a run start within a few tens of milliseconds of each other.
constexpr uint64_t kLargestStartupSkewFrames = 9600;  // 200 ms

}  // namespace

BacklogLimiter::BacklogLimiter(uint64_t slack_frames, uint64_t margin_frames,
                               uint32_t window_reads)
    : slack_frames_(slack_frames),
      margin_frames_(margin_frames),
      window_reads_(std::max<uint32_t>(window_reads, 1)) {}

void BacklogLimiter::Reset() {
  started_ = false;
  left_after_read_ = 0;
  surge_ = 0;
  current_window_peak_ = 0;
  previous_window_peak_ = 0;
  lowest_excess_ = UINT64_MAX;
  reads_in_window_ = 0;
}

uint64_t BacklogLimiter::largest_burst() const {
  return std::max(current_window_peak_, previous_window_peak_);
}

uint64_t BacklogLimiter::BeforeRead(SampleFifo* fifo, uint64_t frames) {
  uint64_t waiting = fifo->Size();
  // What came in since the last read, beyond what one read takes. A burst handed over in a few
  // pieces across consecutive reads counts as one. At the very first look a little waiting is
  // the skew of the threads' start, dropped at once; a lot is a device's first burst, kept.
  uint64_t delivered = waiting > left_after_read_ ? waiting - left_after_read_ : 0;
  if (started_ || waiting > frames + kLargestStartupSkewFrames) {
    surge_ = delivered > frames ? surge_ + (delivered - frames) : 0;
    current_window_peak_ = std::max(current_window_peak_, surge_);
  }
  started_ = true;

  uint64_t dropped = 0;
  uint64_t keep = frames + largest_burst();
  if (waiting > keep + slack_frames_) dropped = fifo->DropOldest(waiting - keep);
  waiting -= std::min(waiting, dropped);
  lowest_excess_ = std::min(lowest_excess_, waiting > frames ? waiting - frames : 0);

  if (++reads_in_window_ >= window_reads_) {
    // Delay that stayed all window long protected against nothing: jitter would have shown as
    // a lower level at some read.
    if (lowest_excess_ > margin_frames_) {
      dropped += fifo->DropOldest(lowest_excess_ - margin_frames_);
    }
    previous_window_peak_ = current_window_peak_;
    current_window_peak_ = 0;
    lowest_excess_ = UINT64_MAX;
    reads_in_window_ = 0;
  }

  uint64_t left = fifo->Size();
  left_after_read_ = left > frames ? left - frames : 0;
  return dropped;
}

}  // namespace zennic
