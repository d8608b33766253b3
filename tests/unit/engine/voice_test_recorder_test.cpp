#include "engine/voice_test_recorder.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cstring>
#include <limits>
#include <thread>

#include "support/eventually.h"

namespace zennic {
namespace {

using namespace std::chrono_literals;

uint32_t U32At(const std::vector<uint8_t>& bytes, size_t offset) {
  uint32_t value;
  std::memcpy(&value, bytes.data() + offset, 4);
  return value;
}

int16_t SampleAt(const std::vector<uint8_t>& bytes, size_t index) {
  int16_t value;
  std::memcpy(&value, bytes.data() + 44 + 2 * index, 2);
  return value;
}

TEST(VoiceTestWav, TheImageIsA48kStereo16BitWavRoundedHalfAwayFromZero) {
  const float nan = std::numeric_limits<float>::quiet_NaN();
  std::vector<uint8_t> wav = BuildWavBytes({1.0f, -1.0f, 0.5f, -0.5f, 2.0f, nan}, 4);
  ASSERT_EQ(wav.size(), 44u + 16);
  EXPECT_EQ(std::string(wav.begin(), wav.begin() + 4), "RIFF");
  EXPECT_EQ(U32At(wav, 4), 16u + 36);
  EXPECT_EQ(std::string(wav.begin() + 8, wav.begin() + 16), "WAVEfmt ");
  EXPECT_EQ(U32At(wav, 24), 48000u);
  EXPECT_EQ(U32At(wav, 28), 192000u);
  EXPECT_EQ(std::string(wav.begin() + 36, wav.begin() + 40), "data");
  EXPECT_EQ(U32At(wav, 40), 16u);
  EXPECT_EQ(SampleAt(wav, 0), 32767);
  EXPECT_EQ(SampleAt(wav, 1), -32767);
  EXPECT_EQ(SampleAt(wav, 2), 16384);
  EXPECT_EQ(SampleAt(wav, 3), -16384);
  EXPECT_EQ(SampleAt(wav, 4), 32767);
  EXPECT_EQ(SampleAt(wav, 5), 0);  // not finite
  EXPECT_EQ(SampleAt(wav, 7), 0);  // past the samples given
}

class VoiceTestRecorderTest : public ::testing::Test {
 protected:
  // Appends 480-frame blocks like the mixer thread, whether a recording runs or not, until
  // `done` is set.
  std::thread FeedBlocksUntil(const std::atomic<bool>& done, float value) {
    return std::thread([this, &done, value] {
      std::vector<float> block(960, value);
      while (!done) {
        recorder_.Append(block.data(), 480);
        std::this_thread::sleep_for(50us);
      }
    });
  }

  VoiceTestRecorder recorder_;
};

TEST_F(VoiceTestRecorderTest, AFullRecordingKeepsTheSettingsItBeganWith) {
  MixerSettings settings;
  settings.voice_effects_enabled = true;
  settings.voice_effect_preset = "radio";
  std::atomic<bool> done{false};
  std::thread mixer = FeedBlocksUntil(done, 0.25f);
  VoiceTestResult result;
  std::string error;
  bool recorded = recorder_.Record(240000, settings, 8s, &result, &error);
  done = true;
  mixer.join();
  ASSERT_TRUE(recorded) << error;
  EXPECT_EQ(result.frames, 240000u);
  EXPECT_EQ(result.wav_bytes.size(), 960044u);
  EXPECT_EQ(U32At(result.wav_bytes, 4), 960036u);
  EXPECT_EQ(SampleAt(result.wav_bytes, 479999), 8192);
  EXPECT_TRUE(result.voice_effects_enabled);
  EXPECT_EQ(result.voice_effect_preset, "radio");

  VoiceTestResult latest;
  ASSERT_TRUE(recorder_.GetLatest(&latest, nullptr));
  EXPECT_EQ(latest.wav_bytes, result.wav_bytes);
  recorder_.ClearLatest();
  EXPECT_FALSE(recorder_.GetLatest(&latest, &error));
  EXPECT_EQ(error, "No voice test has been recorded yet");
}

TEST_F(VoiceTestRecorderTest, OneRecordingAtATimeAndAShortOneGivesNoResult) {
  std::string error;
  ASSERT_TRUE(recorder_.Begin(240000, MixerSettings(), &error));
  EXPECT_FALSE(recorder_.Begin(10, MixerSettings(), &error));
  EXPECT_EQ(error, "A voice test is already recording");
  std::vector<float> block(960, 0.1f);
  recorder_.Append(block.data(), 480);
  recorder_.Abort();
  EXPECT_FALSE(recorder_.Finish(nullptr, &error));
  EXPECT_EQ(error, "Voice test did not capture enough microphone audio");
  EXPECT_FALSE(recorder_.GetLatest(nullptr, nullptr));
}

TEST_F(VoiceTestRecorderTest, AnAbortEndsAWaitingRecordAtOnce) {
  std::atomic<bool> returned{false};
  std::string error;
  std::thread request([&] {
    recorder_.Record(240000, MixerSettings(), 8s, nullptr, &error);
    returned = true;
  });
  // Until the request is waiting, an abort finds nothing to end: repeat it.
  EXPECT_TRUE(testing::Eventually(
      [&] {
        recorder_.Abort();
        return returned.load();
      },
      3s));
  request.join();
  EXPECT_EQ(error, "Voice test did not capture enough microphone audio");
}

TEST_F(VoiceTestRecorderTest, NoAudioMeansATimeOutAndTheNextTestCanBegin) {
  std::string error;
  EXPECT_FALSE(recorder_.Record(240000, MixerSettings(), 50ms, nullptr, &error));
  EXPECT_EQ(error, "Voice test recording timed out");
  EXPECT_TRUE(recorder_.Begin(480, MixerSettings(), &error));
  EXPECT_FALSE(recorder_.Begin(0, MixerSettings(), &error));
  EXPECT_FALSE(recorder_.Begin(240001, MixerSettings(), &error));
  EXPECT_EQ(error, "Voice test duration must be 5 seconds");
}

}  // namespace
}  // namespace zennic
