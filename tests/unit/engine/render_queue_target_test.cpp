#include "engine/render_queue_target.h"

#include <gtest/gtest.h>

#include <algorithm>

namespace zennic {
namespace {

using namespace std::chrono_literals;

// A device that ran dry keeps more queued than it ran dry with for five minutes, so a machine
// that stalls every two minutes does not empty it at each stall; after that it comes down again.
TEST(RenderQueueTarget, ARunDryQueueIsNotLoweredBackToItselfForFiveMinutes) {
  constexpr uint32_t kRate = 48000;
  RenderQueueTarget target(kRate, kRate);  // room for a second
  const uint64_t ran_dry_with = target.frames();
  auto start = RenderQueueTarget::Clock::now();
  EXPECT_TRUE(target.Update(start, true));
  EXPECT_EQ(target.frames(), ran_dry_with + kRate * 5 / 1000);

  uint64_t lowest_remembered = target.frames();
  for (auto now = start; now < start + 10min; now += 100ms) {
    target.Update(now, false);
    if (now < start + RenderQueueTarget::kRemembered) {
      lowest_remembered = std::min(lowest_remembered, target.frames());
    }
  }
  EXPECT_EQ(lowest_remembered, ran_dry_with + kRate / 1000) << "a millisecond above";
  EXPECT_EQ(target.frames(), kRate * 20 / 1000) << "down to the least once forgotten";
}

}  // namespace
}  // namespace zennic
