#pragma once

#include <sys/types.h>

#include <chrono>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace zennic::testing {

// A recording of a source of the audio server that PULSE_SERVER names, as 48,000 Hz stereo
// floats (parec's output, read as it arrives), from construction to Finish. Each frame is put on
// the steady clock: a frame cannot arrive before it was recorded, so the earliest arrival seen,
// less the frames before it, bounds when frame 0 was recorded.
class TimedRecording {
 public:
  using Clock = std::chrono::steady_clock;

  explicit TimedRecording(const std::string& source);
  ~TimedRecording();
  TimedRecording(const TimedRecording&) = delete;
  TimedRecording& operator=(const TimedRecording&) = delete;

  // Ends the recording; what it holds.
  std::vector<float> Finish();
  // When the frame `seconds` into the recording was recorded; only after Finish.
  Clock::time_point TimeOf(double seconds) const;

 private:
  pid_t pid_ = -1;
  std::thread reader_;
  std::mutex mutex_;
  std::vector<float> samples_;
  bool started_ = false;
  Clock::time_point start_;
};

}  // namespace zennic::testing
