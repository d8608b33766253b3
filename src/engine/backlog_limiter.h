#pragma once

#include <cstdint>

namespace zennic {

class SampleFifo;

// Keeps the delay that builds up in a FIFO between its writer and its reader small, from the
// reading side. Start-up skew, underruns and clock drift all leave frames behind that would
// otherwise delay the voice for good; the reader drops the oldest of them:
// - at once, whatever waits beyond one read, the largest recent burst and the slack;
// - at the end of each window, the delay that never went away during it, but for a margin.
// A writer that delivers in bursts (some devices hand over many milliseconds at once) is told
// apart by the largest burst seen lately, and what a burst brings is never cut.
class BacklogLimiter {
 public:
  // `window_reads`: how many reads a window spans; bursts are remembered for one to two.
  BacklogLimiter(uint64_t slack_frames, uint64_t margin_frames, uint32_t window_reads);

  // Forgets what it saw; the next read drops start-up skew beyond one read.
  void Reset();
  // Before reading `frames` frames: drops what the rules above say and returns how many.
  uint64_t BeforeRead(SampleFifo* fifo, uint64_t frames);

  // The most that a writer has lately handed over beyond the reader's pace, in one go.
  uint64_t largest_burst() const;

 private:
  const uint64_t slack_frames_;
  const uint64_t margin_frames_;
  const uint32_t window_reads_;
  bool started_ = false;
  uint64_t left_after_read_ = 0;
  uint64_t surge_ = 0;  // the burst under way
  // The largest burst of the current window and of the one before it.
  uint64_t current_window_peak_ = 0;
  uint64_t previous_window_peak_ = 0;
  // The least that waited beyond one read during the current window.
  uint64_t lowest_excess_ = UINT64_MAX;
  uint32_t reads_in_window_ = 0;
};

}  // namespace zennic
