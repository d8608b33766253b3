#include "engine/sample_fifo.h"

#include <algorithm>
#include <cstring>

namespace zennic {

SampleFifo::SampleFifo(uint64_t capacity_frames, uint32_t channels)
    : channels_(channels < 1 ? 2 : channels),
      capacity_(capacity_frames),
      buffer_(capacity_frames * channels_, 0.0f) {}

uint64_t SampleFifo::Write(const float* frames, uint64_t frame_count, Clock::time_point at) {
  if (frames == nullptr || frame_count == 0 || capacity_ == 0) return 0;
  std::lock_guard lock(mutex_);
  last_write_frames_ = std::min(frame_count, capacity_);
  last_write_at_ = at;
  written_frames_ += frame_count;
  if (frame_count >= capacity_) {
    // Only the newest capacity frames of the block can be kept.
    frames += (frame_count - capacity_) * channels_;
    frame_count = capacity_;
    count_ = 0;
    read_index_ = 0;
    write_index_ = 0;
  }
  if (count_ + frame_count > capacity_) DropOldestLocked(count_ + frame_count - capacity_);

  // At most two copies: up to the end of the ring, then from its start.
  uint64_t first = std::min(frame_count, capacity_ - write_index_);
  std::memcpy(buffer_.data() + write_index_ * channels_, frames,
              first * channels_ * sizeof(float));
  std::memcpy(buffer_.data(), frames + first * channels_,
              (frame_count - first) * channels_ * sizeof(float));
  write_index_ = (write_index_ + frame_count) % capacity_;
  count_ += frame_count;
  return frame_count;
}

uint64_t SampleFifo::Read(float* destination, uint64_t frame_count, bool zero_fill) {
  if (destination == nullptr || frame_count == 0 || capacity_ == 0) return 0;
  std::lock_guard lock(mutex_);
  uint64_t n = std::min(count_, frame_count);
  uint64_t first = std::min(n, capacity_ - read_index_);
  std::memcpy(destination, buffer_.data() + read_index_ * channels_,
              first * channels_ * sizeof(float));
  std::memcpy(destination + first * channels_, buffer_.data(),
              (n - first) * channels_ * sizeof(float));
  read_index_ = (read_index_ + n) % capacity_;
  count_ -= n;
  if (zero_fill && n < frame_count) {
    std::fill(destination + n * channels_, destination + frame_count * channels_, 0.0f);
  }
  return n;
}

void SampleFifo::Clear() {
  // Only stored frames are ever read, so the samples themselves may stay: zeroing the whole
  // ring would hold its other side up for as long as that takes.
  std::lock_guard lock(mutex_);
  count_ = 0;
  read_index_ = 0;
  write_index_ = 0;
  last_write_frames_ = 0;
  written_frames_ = 0;
}

uint64_t SampleFifo::Size() const {
  std::lock_guard lock(mutex_);
  return count_;
}

SampleFifo::Fill SampleFifo::GetFill() const {
  std::lock_guard lock(mutex_);
  return {count_, last_write_frames_, last_write_at_, written_frames_};
}

uint64_t SampleFifo::DropOldest(uint64_t frames) {
  std::lock_guard lock(mutex_);
  uint64_t dropped = std::min(frames, count_);
  if (dropped > 0) DropOldestLocked(dropped);
  return dropped;
}

void SampleFifo::DropOldestLocked(uint64_t frames) {
  read_index_ = (read_index_ + frames) % capacity_;
  count_ -= frames;
}

}  // namespace zennic
