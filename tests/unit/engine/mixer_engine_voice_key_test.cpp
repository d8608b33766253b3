// The game's voice-chat key around clips, on the test display: it is down before a clip is
// heard and up once the clip stops, however the clip stops.

#include <gtest/gtest.h>

#include <atomic>
#include <thread>

#include "unit/engine/mixer_engine_fixture.h"
#include "unit/engine/private_x_display.h"
#include "unit/engine/second_x_client.h"

namespace zennic {
namespace {

using namespace std::chrono_literals;
using testing::Eventually;

constexpr unsigned kXKeyK = 45;         // the default voice-chat key
constexpr unsigned kXKeypadAdd = 86;    // the default push-to-talk key
constexpr float kVoiceAndClip = 0.375f;  // microphone 0.125 plus the clip's 0.25

RawKeyEvent PushToTalk(const MixerSettings& settings, bool down) {
  const KeyBinding& key = settings.ptt_trigger_key;
  return {down, static_cast<uint32_t>(key.vk), static_cast<uint32_t>(key.scan_code) & 0xFF,
          key.extended};
}

class MixerEngineVoiceKeyTest : public testing::MixerEngineFixture {
 protected:
  void SetUp() override {
    MixerEngineFixture::SetUp();
    ASSERT_TRUE(observer_.connected());
    Edit([](MixerSettings& settings) { settings.hold_voice_key = true; });
    // At the first buffer of every stretch of clip audio the key must already be down.
    cable_.Observe([this](const std::vector<float>& samples) {
      bool clip = false;
      for (size_t i = 0; i < samples.size(); i += 2) clip = clip || samples[i] == kVoiceAndClip;
      std::lock_guard lock(observer_mutex_);
      if (clip && !in_clip_) {
        ++clip_starts_heard_;
        if (!observer_.IsKeyDown(kXKeyK)) ++heard_before_key_;
      }
      in_clip_ = clip;
    });
    ASSERT_TRUE(Start());
    // The clips are told by the voice beside them: the voice flows before any key is pressed.
    ASSERT_TRUE(Eventually([this] { return cable_.CountLeft(0.125f) > 480; }));
  }

  void TearDown() override {
    cable_.Observe(nullptr);
    MixerEngineFixture::TearDown();
  }

  bool KeyDown() {
    std::lock_guard lock(observer_mutex_);
    return observer_.IsKeyDown(kXKeyK);
  }

  int ClipStartsHeard() {
    std::lock_guard lock(observer_mutex_);
    return clip_starts_heard_;
  }

  int HeardBeforeKey() {
    std::lock_guard lock(observer_mutex_);
    return heard_before_key_;
  }

  std::mutex observer_mutex_;
  testing::SecondXClient observer_;
  bool in_clip_ = false;
  int clip_starts_heard_ = 0;
  int heard_before_key_ = 0;
};

TEST_F(MixerEngineVoiceKeyTest, AClipThatEndsByItselfLetsGoOfTheKeyWhileTheHotkeyIsStillHeld) {
  MakeClip("short.wav", 4800, 8192);
  engine_->OnRawKeyEvent(PushToTalk(state_.GetSettings(), true));
  EXPECT_TRUE(KeyDown());
  ASSERT_TRUE(Eventually([&] { return ClipStartsHeard() == 1; }));
  ASSERT_TRUE(Eventually([&] { return !KeyDown(); }));
  EXPECT_TRUE(Eventually([&] { return !ClipPlaying(); }));
  engine_->OnRawKeyEvent(PushToTalk(state_.GetSettings(), false));
  EXPECT_FALSE(KeyDown());
  EXPECT_EQ(HeardBeforeKey(), 0);
}

TEST_F(MixerEngineVoiceKeyTest, ReleasingTheHotkeyEarlyStopsTheClipAndTheKey) {
  MakeClip("long.wav", 96000, 8192);
  engine_->OnRawKeyEvent(PushToTalk(state_.GetSettings(), true));
  ASSERT_TRUE(Eventually([&] { return ClipStartsHeard() == 1; }));
  EXPECT_TRUE(KeyDown());
  engine_->OnRawKeyEvent(PushToTalk(state_.GetSettings(), false));
  EXPECT_FALSE(KeyDown());
  EXPECT_FALSE(ClipPlaying());
  EXPECT_EQ(HeardBeforeKey(), 0);
}

TEST_F(MixerEngineVoiceKeyTest, AStopFromTheWebClientOrOfTheEngineLetsGoOfTheKey) {
  MakeClip("long.wav", 96000, 8192);
  std::string error;
  ASSERT_TRUE(engine_->StartPtt(true, &error)) << error;
  ASSERT_TRUE(Eventually([&] { return ClipStartsHeard() == 1; }));
  ASSERT_TRUE(engine_->StopPtt(&error)) << error;
  EXPECT_FALSE(KeyDown());

  ASSERT_TRUE(engine_->StartPtt(true, &error)) << error;
  EXPECT_TRUE(KeyDown());
  engine_->Stop(nullptr);
  EXPECT_FALSE(KeyDown());
  EXPECT_FALSE(state_.GetSnapshot().ptt_active);

  ASSERT_TRUE(Start());
  ASSERT_TRUE(engine_->StartPtt(true, &error)) << error;
  EXPECT_TRUE(KeyDown());
  engine_.reset();  // the program ending mid-clip
  EXPECT_FALSE(KeyDown());
  EXPECT_EQ(HeardBeforeKey(), 0);
}

TEST_F(MixerEngineVoiceKeyTest, AClipThatEndsWhileTheKeyIsStillGoingDownLeavesItUp) {
  MakeClip("blip.wav", 1, 8192);
  // A slow display: the key press waits while several mixer ticks pass, time enough for a
  // one-frame clip to end if it were already playing.
  testing::SecondXClient busy_display;
  ASSERT_TRUE(busy_display.connected());
  busy_display.HoldServer(true);
  std::thread start([this] { engine_->StartPtt(true, nullptr); });
  std::this_thread::sleep_for(60ms);
  busy_display.HoldServer(false);
  start.join();
  // The flag clears just before the key is let go of.
  EXPECT_TRUE(Eventually([&] { return !ClipPlaying() && !KeyDown(); }, 1s));
}

TEST_F(MixerEngineVoiceKeyTest, AClipEndingWhileTheDisplayIsHeldLeavesTheMixRunning) {
  MakeClip("short.wav", 4800, 8192);
  std::string error;
  ASSERT_TRUE(engine_->StartPtt(true, &error)) << error;
  // The cable's observer asks the display whenever clip audio resumes: it must not wait too.
  ASSERT_TRUE(Eventually([&] { return ClipStartsHeard() == 1; }));
  cable_.Observe(nullptr);
  testing::SecondXClient busy_display;
  ASSERT_TRUE(busy_display.connected());
  busy_display.HoldServer(true);
  size_t voice_before = cable_.CountLeft(0.125f);
  std::this_thread::sleep_for(500ms);
  size_t voice_during = cable_.CountLeft(0.125f) - voice_before;
  bool held_meanwhile = ClipPlaying();
  busy_display.HoldServer(false);
  // The clip ended within the first 100 ms; the voice went on for most of the rest.
  EXPECT_GT(voice_during, 9600u);
  EXPECT_TRUE(held_meanwhile) << "the key could not go up, so it counts as held";
  EXPECT_TRUE(Eventually([&] { return !ClipPlaying() && !KeyDown(); }));
}

TEST_F(MixerEngineVoiceKeyTest, AReleaseLostWithTheDisplayIsRetriedUntilItComesBack) {
  testing::PrivateXDisplay display;
  testing::ScopedDisplayVariable private_display(display.name().c_str());
  MakeClip("short.wav", 4800, 8192);
  std::string error;
  ASSERT_TRUE(engine_->StartPtt(true, &error)) << error;
  display.Stop();
  std::this_thread::sleep_for(400ms);
  EXPECT_TRUE(ClipPlaying()) << "the clip has played out, but its key is still down";
  ASSERT_TRUE(display.Restart());
  EXPECT_TRUE(Eventually([&] { return !ClipPlaying(); }));
}

TEST_F(MixerEngineVoiceKeyTest, StartsAndStopsRacingEachOtherEndWithTheKeyUp) {
  MakeClip("long.wav", 96000, 8192);
  std::atomic<bool> done{false};
  std::thread stopper([&] {
    while (!done) {
      engine_->StopPtt(nullptr);
      std::this_thread::sleep_for(50us);
    }
  });
  for (int round = 0; round < 300; ++round) engine_->StartPtt(true, nullptr);
  done = true;
  stopper.join();
  std::string error;
  ASSERT_TRUE(engine_->StopPtt(&error)) << error;
  EXPECT_FALSE(KeyDown());
  EXPECT_FALSE(ClipPlaying());
}

TEST_F(MixerEngineVoiceKeyTest, TheRealHotkeyOnTheDisplayDrivesTheClip) {
  MakeClip("long.wav", 96000, 8192);
  testing::SecondXClient user;
  ASSERT_TRUE(user.connected());
  user.FocusOwnWindow();
  std::string error;
  ASSERT_TRUE(key_bindings_.Initialize(&error)) << error;
  ASSERT_TRUE(engine_->Initialize(&error)) << error;

  user.SendKey(kXKeypadAdd, true);
  ASSERT_TRUE(Eventually([&] { return ClipPlaying() && KeyDown(); }));
  ASSERT_TRUE(Eventually([&] { return ClipStartsHeard() == 1; }));
  user.SendKey(kXKeypadAdd, false);
  ASSERT_TRUE(Eventually([&] { return !ClipPlaying() && !KeyDown(); }));
  key_bindings_.Stop();
}

}  // namespace
}  // namespace zennic
