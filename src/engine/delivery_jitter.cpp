#include "engine/delivery_jitter.h"

#include <algorithm>

namespace zennic {
namespace {

constexpr auto kSecond = std::chrono::seconds(1);

int64_t Microseconds(DeliveryJitter::Clock::duration duration) {
  return std::chrono::duration_cast<std::chrono::microseconds>(duration).count();
}

}  // namespace

void DeliveryJitter::Restart() {
  started_ = false;
  current_us_.store(0, std::memory_order_relaxed);
}

void DeliveryJitter::Reset() {
  Restart();
  recent_us_.fill(0);
  recent_next_ = 0;
  recent_peak_us_.store(0, std::memory_order_relaxed);
  run_peak_us_.store(0, std::memory_order_relaxed);
  for (auto& bin : seconds_by_spread_) bin.store(0, std::memory_order_relaxed);
}

void DeliveryJitter::Note(Clock::time_point at, uint64_t position_frames) {
  // 1,000,000 / 48,000 = 125 / 6 microseconds a frame.
  const int64_t offset =
      Microseconds(at.time_since_epoch()) - static_cast<int64_t>(position_frames * 125 / 6);
  if (started_ && at - second_start_ >= kSecond) CloseSecond();
  if (!started_) {
    started_ = true;
    second_start_ = at;
    lowest_us_ = highest_us_ = offset;
  }
  lowest_us_ = std::min(lowest_us_, offset);
  highest_us_ = std::max(highest_us_, offset);
  current_us_.store(highest_us_ - lowest_us_, std::memory_order_relaxed);
}

void DeliveryJitter::CloseSecond() {
  const int64_t spread = highest_us_ - lowest_us_;
  started_ = false;
  current_us_.store(0, std::memory_order_relaxed);
  recent_us_[recent_next_] = spread;
  recent_next_ = (recent_next_ + 1) % kRecentSeconds;
  recent_peak_us_.store(*std::max_element(recent_us_.begin(), recent_us_.end()),
                        std::memory_order_relaxed);
  if (spread > run_peak_us_.load(std::memory_order_relaxed)) {
    run_peak_us_.store(spread, std::memory_order_relaxed);
  }
  auto& bin = seconds_by_spread_[std::min<int64_t>(spread / kBinMicroseconds, kBins - 1)];
  bin.store(bin.load(std::memory_order_relaxed) + 1, std::memory_order_relaxed);
}

DeliveryJitter::Clock::duration DeliveryJitter::RecentPeak() const {
  return std::chrono::microseconds(std::max(recent_peak_us_.load(std::memory_order_relaxed),
                                            current_us_.load(std::memory_order_relaxed)));
}

DeliveryJitter::Clock::duration DeliveryJitter::RunPeak() const {
  return std::chrono::microseconds(std::max(run_peak_us_.load(std::memory_order_relaxed),
                                            current_us_.load(std::memory_order_relaxed)));
}

DeliveryJitter::Clock::duration DeliveryJitter::RunMedian() const {
  uint64_t seconds = 0;
  for (const auto& bin : seconds_by_spread_) seconds += bin.load(std::memory_order_relaxed);
  uint64_t passed = 0;
  for (int i = 0; i < kBins; ++i) {
    passed += seconds_by_spread_[i].load(std::memory_order_relaxed);
    if (seconds > 0 && 2 * passed >= seconds) {
      return std::chrono::microseconds(int64_t{i} * kBinMicroseconds + kBinMicroseconds / 2);
    }
  }
  return Clock::duration::zero();
}

}  // namespace zennic
