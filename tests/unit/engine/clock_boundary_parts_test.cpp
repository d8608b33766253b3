// The small parts of a clock boundary, each on its own: the rate controller's loop, the target
// policy every margin and queue follows, the microphone's stall detector and an output's watch
// for running dry, and a break's episode.

#include <gtest/gtest.h>

#include <cmath>

#include "engine/adaptive_target.h"
#include "engine/audio_road_notes.h"
#include "engine/output_dry_watch.h"
#include "engine/rate_controller.h"
#include "engine/stall_detector.h"

namespace zennic {
namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

Clock::time_point At(double milliseconds) {
  return Clock::time_point(std::chrono::duration_cast<Clock::duration>(
      std::chrono::duration<double, std::milli>(milliseconds)));
}

TEST(RateController, FollowsAClockWithinItsReachWithoutRingingAndStopsAtItsLimit) {
  // A FIFO between a writer `ppm` fast and a reader at the controller's speed, one half-second
  // window at a time, starting on target.
  struct Case {
    double ppm;
    double settled_speed;
  };
  for (Case c : {Case{500, 1.0005}, Case{-500, 0.9995}, Case{3000, 1.0007}}) {
    SCOPED_TRACE(c.ppm);
    RateController controller;
    double error = 0.0;  // frames above the target
    double worst = 0.0;
    for (int window = 0; window < 2 * 600; ++window) {
      error += 24000.0 * (c.ppm * 1e-6 - (controller.speed() - 1.0));
      controller.Update(error, 0.5);
      if (window > 2 * 300) worst = std::max(worst, std::abs(error));
    }
    EXPECT_NEAR(controller.speed(), c.settled_speed, 2e-5);
    // Within reach the delay settles back near the target: under a millisecond off after five
    // minutes; beyond it, the backlog is the drop's to take.
    if (std::abs(c.ppm) < 700) {
      EXPECT_LT(worst, 48.0);
    }
  }
}

TEST(AdaptiveTarget, GrowsAtOnceOnABreakAndComesDownOnlyAfterAQuietTime) {
  const AdaptiveTarget::Shape shape{10ms, 40ms, 2ms, 10ms, 30s, 10s, 1ms};
  AdaptiveTarget target(shape, 1000);  // a frame a millisecond
  EXPECT_EQ(target.frames(), 10u);
  // A break of 1 ms still grows by the least growth, one of 25 ms by the most at once.
  EXPECT_TRUE(target.Grow(At(0), 1));
  EXPECT_EQ(target.frames(), 12u);
  EXPECT_TRUE(target.Grow(At(1000), 25));
  EXPECT_EQ(target.frames(), 22u);
  target.Grow(At(2000), 10);
  target.Grow(At(3000), 10);
  EXPECT_EQ(target.frames(), 40u) << "never beyond its most";
  // Nothing comes down before half a minute after the last break, then a step every ten seconds.
  EXPECT_FALSE(target.Settle(At(32999)));
  EXPECT_TRUE(target.Settle(At(33000)));
  EXPECT_EQ(target.frames(), 39u);
  EXPECT_FALSE(target.Settle(At(42999)));
  EXPECT_TRUE(target.Settle(At(43000)));
  EXPECT_EQ(target.frames(), 38u);
  // A break starts the quiet time again.
  target.Grow(At(50000), 1);
  EXPECT_FALSE(target.Settle(At(79999)));
  for (int second = 80; second < 1000; second += 10) target.Settle(At(second * 1000.0));
  EXPECT_EQ(target.frames(), 10u) << "never below its floor";
  target.LimitTo(5);
  EXPECT_EQ(target.frames(), 5u);
}

TEST(StallDetector, OnlyAThreadRunningOnTimeThatFindsNothingCallsItsWriterStopped) {
  StallDetector detector(10ms);
  detector.Reset(12ms);
  double ms = 0;
  // A writer of 5 ms blocks, its thread passing every 5 ms: nothing stops, however long.
  for (; ms < 1000; ms += 5) detector.NotePass(At(ms), 240);
  EXPECT_FALSE(detector.stalled());
  // Its thread held up for 80 ms (the machine stopped), then a pass that finds nothing yet: the
  // time it did not run counts for nothing.
  ms += 80;
  detector.NotePass(At(ms), 0);
  EXPECT_FALSE(detector.stalled());
  detector.NotePass(At(ms += 5), 240);
  // The writer stops while its thread passes on time: stopped once its usual 5 ms and the 10 ms
  // allowance have gone by, not before.
  detector.NotePass(At(ms += 5), 0);
  detector.NotePass(At(ms += 5), 0);
  detector.NotePass(At(ms += 5), 0);
  EXPECT_FALSE(detector.stalled());
  detector.NotePass(At(ms += 5), 0);
  EXPECT_TRUE(detector.stalled());
  // Its next delivery ends the stall.
  detector.NotePass(At(ms += 5), 240);
  EXPECT_FALSE(detector.stalled());
  // The sound server that carries it stands still: its thread passes on time and finds nothing,
  // but the server was last seen running at the last delivery; nothing after counts, however long.
  const double server_seen = ms;
  for (int pass = 0; pass < 10; ++pass) detector.NotePass(At(ms += 5), 0, At(server_seen));
  EXPECT_FALSE(detector.stalled());
  // Running again, seen a millisecond behind each pass: the time up to there counts.
  for (int pass = 0; pass < 4; ++pass) {
    EXPECT_FALSE(detector.stalled());
    ms += 5;
    detector.NotePass(At(ms), 0, At(ms - 1));
  }
  EXPECT_TRUE(detector.stalled());
  // Told the device is suspended: stopped at once, however little time counts, until its next
  // delivery.
  detector.NotePass(At(ms += 5), 240);
  detector.NotePass(At(ms += 5), 0);
  detector.NoteSuspended();
  for (int pass = 0; pass < 3; ++pass) {
    EXPECT_TRUE(detector.stalled());
    detector.NotePass(At(ms += 5), 0, At(server_seen));
  }
  detector.NotePass(At(ms += 5), 240);
  EXPECT_FALSE(detector.stalled());
}

TEST(OutputDryWatch, CountsTheSilenceFromWhenTheQueueRanOutOrAMillisecondWhenOnlyTheDeviceSays) {
  OutputDryWatch watch(1000, At(0));  // a frame a millisecond
  EXPECT_EQ(watch.Pass(At(5), 0, false), 0u) << "nothing written yet is no break";
  watch.Wrote(At(5), 50);
  EXPECT_EQ(watch.Pass(At(10), 45, false), 0u);
  // The thread comes back 70 ms after its write of 50 ms: 20 ms of silence, counted once.
  EXPECT_EQ(watch.Pass(At(75), 0, true), 20u);
  EXPECT_EQ(watch.Pass(At(80), 0, false), 5u);
  EXPECT_EQ(watch.longest_pause().count(), 65);
  watch.Wrote(At(80), 50);
  // The device told of running dry while its queue, as reported, has caught up: a millisecond.
  EXPECT_EQ(watch.Pass(At(85), 40, true), 1u);
  watch.Wrote(At(85), 10);
  // The thread stops between a pass that found 30 ms queued and its write, 60 ms later: the
  // queue ran out 30 ms before the write.
  EXPECT_EQ(watch.Pass(At(100), 30, false), 0u);
  watch.Wrote(At(160), 10);
  EXPECT_EQ(watch.Pass(At(165), 5, true), 30u);
}

TEST(BreakEpisode, BreaksCloserThanAListenerTellsApartCountOnce) {
  // Two 1 ms silences with whole audio between them for `apart` ms; whole audio is told every
  // 5 ms, as an output's passes tell it.
  for (auto [apart, breaks] : {std::pair{5.0, 1u}, {15.0, 1u}, {25.0, 2u}}) {
    SCOPED_TRACE(::testing::Message() << apart << " ms apart");
    AudioRoadNotes notes("Monitor output device", true);
    BreakEpisode episode(&notes);
    episode.Note(At(0), BreakCause::kRanDry, 48);
    for (double ms = 5; ms <= apart; ms += 5) episode.End(At(ms));
    episode.Note(At(apart + 1), BreakCause::kRanDry, 48);
    EXPECT_EQ(notes.Health().breaks, breaks);
  }
}

}  // namespace
}  // namespace zennic
