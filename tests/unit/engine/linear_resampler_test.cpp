#include "engine/linear_resampler.h"

#include <gtest/gtest.h>

#include <cmath>
#include <numbers>
#include <vector>

#include "engine/sample_fifo.h"

namespace zennic {
namespace {

// A ramp rises by one per frame (starting again at 0 every 4096 frames, where floats are still
// fine enough): after linear resampling it must still rise evenly, so a lost, doubled or
// misplaced frame at a buffer boundary shows as a step of the wrong size.
constexpr uint64_t kRampLength = 4096;

std::vector<float> Ramp(uint64_t first, uint64_t count) {
  std::vector<float> frames;
  for (uint64_t i = 0; i < count; ++i) {
    auto value = static_cast<float>((first + i) % kRampLength);
    frames.push_back(value);
    frames.push_back(value);
  }
  return frames;
}

void ExpectEvenSteps(const std::vector<float>& frames, double step) {
  for (size_t i = 2; i < frames.size(); i += 2) {
    float rise = frames[i] - frames[i - 2];
    if (rise < 0) continue;  // the ramp started again
    ASSERT_NEAR(rise, step, 0.01) << "at frame " << i / 2;
  }
}

TEST(LinearResampler, TheRenderSideCarriesItsPhaseAcrossBuffers) {
  SampleFifo fifo(96000, 2);
  auto source = Ramp(0, 48000);
  fifo.Write(source.data(), 48000);
  LinearResampler resampler;
  std::vector<float> played;
  std::vector<float> buffer;
  // Buffers of awkward sizes at 44,100 Hz.
  for (uint64_t size : {441u, 100u, 7u, 1000u, 333u, 441u, 441u}) {
    resampler.Pull(&fifo, 44100, size, &buffer);
    played.insert(played.end(), buffer.begin(), buffer.end());
  }
  ASSERT_EQ(played.size(), 2u * 2763);
  EXPECT_EQ(played[0], 0.0f);
  ExpectEvenSteps(played, 48000.0 / 44100.0);
  // 441 frames played use 480 frames of the FIFO.
  uint64_t used = 48000 - fifo.Size() - resampler.pending_frames();
  EXPECT_NEAR(static_cast<double>(used), 2763 * 48000.0 / 44100.0, 1.0);
}

TEST(LinearResampler, AtTheEngineRateTheRenderSideHandsOutTheFifosOwnFrames) {
  SampleFifo fifo(96000, 2);
  auto source = Ramp(5, 100);
  fifo.Write(source.data(), 100);
  LinearResampler resampler;
  std::vector<float> buffer;
  resampler.Pull(&fifo, 48000, 120, &buffer);
  EXPECT_EQ(std::vector<float>(buffer.begin(), buffer.begin() + 200), source);
  EXPECT_EQ(buffer[239], 0.0f);
}

TEST(LinearResampler, TheCaptureSideLosesNoFrameToRoundingBetweenPackets) {
  LinearResampler resampler;
  std::vector<float> converted;
  uint64_t fed = 0;
  // Packets whose converted length is never a whole number of frames.
  for (int packet = 0; packet < 500; ++packet) {
    uint64_t size = packet % 3 == 0 ? 512 : 441 + packet % 7;
    auto input = Ramp(fed, size);
    resampler.Push(input.data(), size, 44100, &converted);
    fed += size;
  }
  ExpectEvenSteps(converted, 44100.0 / 48000.0);
  double expected = static_cast<double>(fed) * 48000.0 / 44100.0;
  EXPECT_NEAR(static_cast<double>(converted.size() / 2), expected, 2.0);

  // Faster sources too: every output still lands on the source's own timeline.
  LinearResampler fast;
  std::vector<float> down;
  for (uint64_t first = 0; first < 96000; first += 997) {
    auto input = Ramp(first, 997);
    fast.Push(input.data(), 997, 96000, &down);
  }
  ExpectEvenSteps(down, 2.0);
}

// Where one output frame spans two or more source frames (slow render endpoints, fast
// capture endpoints), a minute of device-sized buffers must still land every output frame
// exactly one step after the one before, across every seam.
TEST(LinearResampler, AMinuteOfBuffersAtExtremeRatesLosesAndRepeatsNoFrame) {
  struct Case {
    bool render;
    uint32_t rate;
  };
  for (Case test : {Case{true, 8000}, Case{true, 16000}, Case{true, 22050}, Case{false, 176400},
                    Case{false, 192000}}) {
    SCOPED_TRACE(::testing::Message() << (test.render ? "render " : "capture ") << test.rate);
    const uint32_t source_rate = test.render ? LinearResampler::kEngineRate : test.rate;
    const uint32_t output_rate = test.render ? test.rate : LinearResampler::kEngineRate;
    // Buffers of a device period, half of one, and a few odd sizes, in turn.
    const uint64_t sizes[] = {test.rate / 100, test.rate / 200, 7, test.rate / 100 + 13, 1};
    LinearResampler resampler;
    SampleFifo fifo(96000, 2);
    std::vector<float> out;
    uint64_t fed = 0;
    uint64_t produced = 0;
    for (uint64_t buffer = 0; produced < 60ull * output_rate; ++buffer) {
      uint64_t size = sizes[buffer % std::size(sizes)];
      out.clear();
      if (test.render) {
        if (fifo.Size() < 4 * size * source_rate / output_rate + 4) {
          auto ramp = Ramp(fed, 4800);
          fifo.Write(ramp.data(), 4800);
          fed += 4800;
        }
        resampler.Pull(&fifo, test.rate, size, &out);
      } else {
        auto ramp = Ramp(fed, size);
        resampler.Push(ramp.data(), size, test.rate, &out);
        fed += size;
      }
      for (size_t i = 0; i < out.size() / 2; ++i, ++produced) {
        // The source position of this output frame, in whole and fractional frames.
        uint64_t whole = produced * source_rate / output_rate;
        double fraction =
            static_cast<double>(produced * source_rate % output_rate) / output_rate;
        if (whole % kRampLength == kRampLength - 1) continue;  // between the ramp's end and start
        double expected = static_cast<double>(whole % kRampLength) + fraction;
        ASSERT_NEAR(out[2 * i], expected, 0.01) << "output frame " << produced;
      }
    }
    // Nothing gained or lost over the minute: the next output frame lies exactly where the
    // output so far says it must.
    uint64_t passed = fed - resampler.pending_frames() - (test.render ? fifo.Size() : 0);
    EXPECT_NEAR(static_cast<double>(passed) + resampler.phase(),
                static_cast<double>(produced) * source_rate / output_rate, 0.001);
  }
}

TEST(LinearResampler, ASineSurvivesResamplingWithoutClicksAtBufferEdges) {
  SampleFifo fifo(96000, 2);
  std::vector<float> tone;
  for (int i = 0; i < 9600; ++i) {
    auto value = static_cast<float>(0.5 * std::sin(2 * std::numbers::pi * 440 * i / 48000.0));
    tone.push_back(value);
    tone.push_back(value);
  }
  fifo.Write(tone.data(), 9600);
  LinearResampler resampler;
  std::vector<float> played, buffer;
  for (int i = 0; i < 40; ++i) {
    resampler.Pull(&fifo, 44100, 211, &buffer);
    played.insert(played.end(), buffer.begin(), buffer.end());
  }
  // A 440 Hz tone at 0.5 never moves more than 0.032 between 44,100 Hz frames.
  for (size_t i = 2; i < played.size(); i += 2) {
    ASSERT_LT(std::abs(played[i] - played[i - 2]), 0.033f) << i / 2;
  }
}

}  // namespace
}  // namespace zennic
