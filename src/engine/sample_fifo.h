#pragma once

#include <chrono>
#include <cstdint>
#include <mutex>
#include <vector>

#include "platform/priority_inheriting_mutex.h"

namespace zennic {

// A bounded ring of interleaved float frames between two audio threads. It never blocks and
// never waits: a full ring forgets its oldest frames, an empty one hands out silence on request.
class SampleFifo {
 public:
  using Clock = std::chrono::steady_clock;

  // The frames stored and the newest block with when it came, read together: a reader that
  // follows its writer's pace tells the writer's blocks from its clock by them.
  struct Fill {
    uint64_t frames = 0;
    uint64_t last_write_frames = 0;
    Clock::time_point last_write_at;
    // Every frame written since the ring was made or last cleared: the writer's position.
    uint64_t written_frames = 0;
  };

  // A channel count below 1 becomes 2.
  SampleFifo(uint64_t capacity_frames, uint32_t channels);
  SampleFifo(const SampleFifo&) = delete;
  SampleFifo& operator=(const SampleFifo&) = delete;

  // Frames accepted: the whole block, or only its newest `capacity` frames when it is larger.
  // `at`: when the block came (now, but for a simulation).
  uint64_t Write(const float* frames, uint64_t frame_count, Clock::time_point at = Clock::now());
  // Frames read, at most those stored. With `zero_fill` the rest of the destination is silence.
  uint64_t Read(float* destination, uint64_t frame_count, bool zero_fill);
  void Clear();

  uint64_t Size() const;
  Fill GetFill() const;
  // Drops up to `frames` of the oldest frames; returns how many went. For a reader that would
  // rather skip ahead than fall further behind its writer.
  uint64_t DropOldest(uint64_t frames);

  uint64_t capacity() const { return capacity_; }
  uint32_t channels() const { return channels_; }

 private:
  // The caller holds mutex_.
  void DropOldestLocked(uint64_t frames);

  const uint32_t channels_;
  const uint64_t capacity_;
  mutable PriorityInheritingMutex mutex_;
  std::vector<float> buffer_;
  uint64_t count_ = 0;
  uint64_t read_index_ = 0;
  uint64_t write_index_ = 0;
  uint64_t last_write_frames_ = 0;
  Clock::time_point last_write_at_;
  uint64_t written_frames_ = 0;
};

}  // namespace zennic
