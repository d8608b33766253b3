#include "support/timed_recording.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstring>

namespace zennic::testing {

namespace {

constexpr double kRate = 48000.0;
constexpr size_t kFrameBytes = 2 * sizeof(float);

}  // namespace

TimedRecording::TimedRecording(const std::string& source) {
  const std::string device = "--device=" + source;
  int fds[2];
  // Close-on-exec, so that no other child keeps the pipe open; dup2 clears it on the copy.
  if (::pipe2(fds, O_CLOEXEC) != 0) return;
  pid_ = ::fork();
  if (pid_ == 0) {
    ::dup2(fds[1], 1);
    ::execlp("parec", "parec", "--latency-msec=10", "--format=float32le", "--rate=48000",
             "--channels=2", "--raw", device.c_str(), nullptr);
    ::_exit(127);
  }
  ::close(fds[1]);
  reader_ = std::thread([this, fd = fds[0]] {
    std::vector<char> bytes(16384);
    size_t held = 0;  // bytes of a frame that has not all arrived
    ssize_t got = 0;
    while ((got = ::read(fd, bytes.data() + held, bytes.size() - held)) > 0) {
      Clock::time_point now = Clock::now();
      held += static_cast<size_t>(got);
      const size_t whole = held / kFrameBytes * kFrameBytes;
      std::lock_guard lock(mutex_);
      const size_t had = samples_.size();
      samples_.resize(had + whole / sizeof(float));
      std::memcpy(samples_.data() + had, bytes.data(), whole);
      std::memmove(bytes.data(), bytes.data() + whole, held - whole);
      held -= whole;
      Clock::time_point start =
          now - std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double>(
                    static_cast<double>(samples_.size() / 2) / kRate));
      if (!started_ || start < start_) start_ = start;
      started_ = true;
    }
    ::close(fd);
  });
}

TimedRecording::~TimedRecording() { Finish(); }

std::vector<float> TimedRecording::Finish() {
  if (pid_ > 0) {
    ::kill(pid_, SIGTERM);
    ::waitpid(pid_, nullptr, 0);
    pid_ = -1;
  }
  if (reader_.joinable()) reader_.join();
  return samples_;
}

TimedRecording::Clock::time_point TimedRecording::TimeOf(double seconds) const {
  return start_ + std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double>(seconds));
}

}  // namespace zennic::testing
