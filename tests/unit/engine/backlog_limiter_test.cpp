#include "engine/backlog_limiter.h"

#include <gtest/gtest.h>

#include <vector>

#include "engine/sample_fifo.h"

namespace zennic {
namespace {

constexpr uint64_t kRead = 480;
constexpr uint64_t kSlack = 960;
constexpr uint64_t kMargin = 240;
constexpr uint32_t kWindow = 300;

// A writer and a reader taking turns, one read per tick: the writer delivers `packet` frames
// whenever its own clock has produced them, so a fast clock delivers a little more than the
// reader takes and a slow one a little less.
class Simulation {
 public:
  Simulation() : fifo_(96000, 2), limiter_(kSlack, kMargin, kWindow), block_(2 * 96000, 0.0f) {}

  void Deliver(uint64_t frames) { fifo_.Write(block_.data(), frames); }

  // Returns what waited when the reader came, after the limiter had its say.
  uint64_t Read() {
    dropped_ += limiter_.BeforeRead(&fifo_, kRead);
    uint64_t waiting = fifo_.Size();
    fifo_.Read(block_.data(), kRead, true);
    return waiting;
  }

  uint64_t dropped() const { return dropped_; }

 private:
  SampleFifo fifo_;
  BacklogLimiter limiter_;
  std::vector<float> block_;
  uint64_t dropped_ = 0;
};

TEST(BacklogLimiter, AWriterClockRunningFastOrSlowNeverPushesTheBacklogPastItsBound) {
  for (double speed : {1.06, 1.001, 0.94}) {
    SCOPED_TRACE(speed);
    Simulation run;
    double produced = 0;
    uint64_t delivered = 0;
    uint64_t most = 0;
    // Ten simulated minutes.
    for (int tick = 0; tick < 60000; ++tick) {
      produced += kRead * speed;
      while (produced - static_cast<double>(delivered) >= kRead) {
        run.Deliver(kRead);
        delivered += kRead;
      }
      most = std::max(most, run.Read());
    }
    // One read, one packet and the slack: 40 ms, and never more however long it runs.
    EXPECT_LE(most, kRead + kRead + kSlack);
    if (speed < 1.0) {
      EXPECT_EQ(run.dropped(), 0u);
    }
  }
}

TEST(BacklogLimiter, SkewWaitingAtTheFirstReadIsDroppedAtOnce) {
  Simulation run;
  run.Deliver(4800);
  EXPECT_EQ(run.Read(), kRead);
  EXPECT_EQ(run.dropped(), 4800 - kRead);
}

TEST(BacklogLimiter, ADeviceDeliveringInLargeBurstsLosesNothing) {
  Simulation run;
  // Two seconds at a time, as some devices hand over their audio, the first before the reader
  // has even begun, and now and then in pieces that straddle a read.
  for (int tick = 0; tick < 2000; ++tick) {
    if (tick % 400 == 200) {
      run.Deliver(60000);
      run.Read();
      run.Deliver(36000);
    } else if (tick % 200 == 0) {
      run.Deliver(96000);
    }
    run.Read();
  }
  EXPECT_EQ(run.dropped(), 0u);
}

TEST(BacklogLimiter, DelayThatNeverGoesAwayIsDroppedButForTheMargin) {
  Simulation run;
  run.Read();
  // A stalled reader found 100 ms at once; from then on the writer keeps pace exactly, so that
  // delay would stay for good.
  run.Deliver(4800);
  uint64_t waiting = 0;
  for (uint32_t tick = 0; tick < 3 * kWindow; ++tick) {
    waiting = run.Read();
    run.Deliver(kRead);
  }
  EXPECT_EQ(waiting, kRead + kMargin);

  // A little delay left by one late packet goes too, a window later.
  run.Deliver(200);
  for (uint32_t tick = 0; tick < 2 * kWindow; ++tick) {
    waiting = run.Read();
    run.Deliver(kRead);
  }
  EXPECT_EQ(waiting, kRead + kMargin);
}

TEST(BacklogLimiter, AJitteryWriterKeepsTheDelayItNeeds) {
  Simulation run;
  run.Read();
  // Packets come a tick early or late in turn: the level dips to one read now and then, so
  // nothing waits needlessly and nothing is dropped.
  for (int tick = 0; tick < 3000; ++tick) {
    if (tick % 4 == 0) {
      run.Deliver(2 * kRead);
    } else if (tick % 4 != 1) {
      run.Deliver(kRead);
    }
    run.Read();
  }
  EXPECT_EQ(run.dropped(), 0u);
}

}  // namespace
}  // namespace zennic
