#include "sound_files/sample_conversion.h"

#include <algorithm>
#include <bit>
#include <cmath>
#include <cstring>

#if defined(__SSE2__) || defined(_M_X64)
#include <emmintrin.h>
#endif

namespace zennic {
namespace {

constexpr size_t kBlockFrames = 4096;
constexpr float kSideGain = 0.707f;

// Produces any range of ResampleLinear's output frames; when ResampleLinear would copy, the
// input frames are copied.
class LinearResampler {
 public:
  LinearResampler(const std::vector<float>& samples, int channels, int source_rate, int target_rate)
      : samples_(samples.data()),
        width_(static_cast<size_t>(channels)),
        in_frames_(samples.size() / width_),
        copying_(source_rate < 1 || target_rate < 1 || source_rate == target_rate),
        source_rate_(source_rate),
        target_rate_(target_rate) {
    out_frames_ = ResampledFrameCount(in_frames_, source_rate, target_rate);
  }

  uint64_t output_frames() const { return in_frames_ == 0 ? 0 : out_frames_; }

  void Render(uint64_t first, uint64_t count, float* out) const {
    if (copying_) {
      std::memcpy(out, samples_ + first * width_, count * width_ * sizeof(float));
    } else if (width_ == 2) {
      Interpolate<2>(first, count, out);
    } else if (width_ == 1) {
      Interpolate<1>(first, count, out);
    } else {
      Interpolate<0>(first, count, out);
    }
  }

 private:
  // kWidth is the channel count when known at compile time, else 0.
  template <size_t kWidth>
  void Interpolate(uint64_t first, uint64_t count, float* out) const {
    const size_t width = kWidth != 0 ? kWidth : width_;
    const int64_t last = static_cast<int64_t>(in_frames_) - 1;
    for (uint64_t i = first; i < first + count; ++i) {
      const double position = static_cast<double>(i) * source_rate_ / target_rate_;
      const int64_t i0 = static_cast<int64_t>(position);
      const int64_t i1 = std::min(last, i0 + 1);
      const float t = static_cast<float>(position - static_cast<double>(i0));
      const float* a = samples_ + i0 * width;
      const float* b = samples_ + i1 * width;
      for (size_t c = 0; c < width; ++c) out[c] = (b[c] - a[c]) * t + a[c];
      out += width;
    }
  }

  const float* samples_;
  size_t width_;
  uint64_t in_frames_;
  bool copying_;
  int source_rate_;
  int target_rate_;
  uint64_t out_frames_ = 0;
};

// How the channels of a frame reach the two sides.
class StereoFold {
 public:
  StereoFold(size_t width, uint32_t channel_mask) : width_(width) {
    constexpr float kSurround = 0.7071f;
    struct Position {
      uint32_t speaker;
      float left;
      float right;
    };
    static constexpr Position kPositions[] = {
        {speaker::kFrontLeft, 1, 0},          {speaker::kFrontRight, 0, 1},
        {speaker::kFrontCenter, kSurround, kSurround},
        {speaker::kLowFrequency, 0, 0},       {speaker::kBackLeft, kSurround, 0},
        {speaker::kBackRight, 0, kSurround},  {speaker::kBackCenter, 0.5f, 0.5f},
        {speaker::kSideLeft, kSurround, 0},   {speaker::kSideRight, 0, kSurround},
    };
    uint32_t known = 0;
    for (const Position& position : kPositions) known |= position.speaker;
    if (width < 3 || (channel_mask & ~known) != 0 ||
        static_cast<size_t>(std::popcount(channel_mask)) != width) {
      return;
    }
    float left_sum = 0;
    float right_sum = 0;
    for (const Position& position : kPositions) {
      if ((channel_mask & position.speaker) == 0) continue;
      left_.push_back(position.left);
      right_.push_back(position.right);
      left_sum += position.left;
      right_sum += position.right;
    }
    // Full-scale input on every channel must not exceed full scale on either side.
    const float scale = 1.0f / std::max(left_sum, right_sum);
    for (float& gain : left_) gain *= scale;
    for (float& gain : right_) gain *= scale;
  }

  void Apply(const float* in, size_t frames, float* out) const {
    for (size_t f = 0; f < frames; ++f, in += width_, out += 2) {
      if (width_ == 1) {
        out[0] = in[0];
        out[1] = in[0];
        continue;
      }
      float left = 0;
      float right = 0;
      if (!left_.empty()) {
        for (size_t k = 0; k < width_; ++k) {
          left += in[k] * left_[k];
          right += in[k] * right_[k];
        }
      } else {
        left = in[0];
        right = in[1];
        for (size_t k = 2; k < width_; k += 2) left += in[k] * kSideGain;
        for (size_t k = 3; k < width_; k += 2) right += in[k] * kSideGain;
      }
      out[0] = left;
      out[1] = right;
    }
  }

 private:
  size_t width_;
  // Each channel's gain to each side; empty for the rule of layouts without a known order.
  std::vector<float> left_;
  std::vector<float> right_;
};

// One step of the dither's linear congruential generator, or several composed into one.
struct LcgStep {
  uint32_t multiplier;
  uint32_t increment;

  constexpr uint32_t Apply(uint32_t state) const { return state * multiplier + increment; }
  constexpr LcgStep Then(LcgStep next) const {
    return {next.multiplier * multiplier, next.multiplier * increment + next.increment};
  }
  constexpr LcgStep Power(size_t times) const {
    LcgStep result{1, 0};
    for (size_t n = 0; n < times; ++n) result = result.Then(*this);
    return result;
  }
};

constexpr LcgStep kStep{1664525u, 1013904223u};
constexpr LcgStep kTwoSteps = kStep.Power(2);      // each sample takes two numbers
constexpr LcgStep kLaneJump = kTwoSteps.Power(4);  // four lanes of one sample each

// Rounds to the nearest integer in the current rounding mode (ties to even) for magnitudes
// below 2^22: adding and taking away 1.5 * 2^23 leaves no fraction bits to keep.
inline float RoundToInteger(float value) {
  constexpr float kShift = 0x1.8p23f;
  return (value + kShift) - kShift;
}

// One sample with its triangular dither from the generator's two numbers.
inline int16_t DitheredSample(float sample, uint32_t r1, uint32_t r2) {
  const float u1 = static_cast<float>(r1 >> 8) * 0x1p-24f;
  const float u2 = static_cast<float>(r2 >> 8) * 0x1p-24f;
  const float dither = (u1 - u2) * 0x1p-15f;
  // A NaN would otherwise pass the clamp and become a full-scale click.
  const float x = std::isfinite(sample) ? sample : 0.0f;
  const float v = std::min(std::max(x + dither, -1.0f), 1.0f);
  return static_cast<int16_t>(RoundToInteger(v * 32767.0f));
}

#if defined(__SSE2__) || defined(_M_X64)
// 32-bit products of four lanes; the baseline instruction set multiplies two at a time.
inline __m128i MultiplyLow32(__m128i a, __m128i b) {
  const __m128i even = _mm_mul_epu32(a, b);
  const __m128i odd = _mm_mul_epu32(_mm_srli_epi64(a, 32), _mm_srli_epi64(b, 32));
  return _mm_unpacklo_epi32(_mm_shuffle_epi32(even, _MM_SHUFFLE(0, 0, 2, 0)),
                            _mm_shuffle_epi32(odd, _MM_SHUFFLE(0, 0, 2, 0)));
}

inline __m128i ApplyToLanes(LcgStep step, __m128i lanes) {
  return _mm_add_epi32(MultiplyLow32(lanes, _mm_set1_epi32(static_cast<int>(step.multiplier))),
                       _mm_set1_epi32(static_cast<int>(step.increment)));
}

inline __m128 UnitFloats(__m128i numbers) {
  return _mm_mul_ps(_mm_cvtepi32_ps(_mm_srli_epi32(numbers, 8)), _mm_set1_ps(0x1p-24f));
}

// DitheredSample for four samples at once, each lane with its own copy of the generator, moved
// on by the four samples' eight steps at a time. Returns how many samples it did.
size_t DitherFourAtATime(const float* samples, size_t count, int16_t* out, uint32_t* state) {
  if (count < 4) return 0;
  const uint32_t lane1 = kTwoSteps.Apply(*state);
  const uint32_t lane2 = kTwoSteps.Apply(lane1);
  __m128i lanes = _mm_setr_epi32(static_cast<int>(*state), static_cast<int>(lane1),
                                 static_cast<int>(lane2), static_cast<int>(kTwoSteps.Apply(lane2)));
  size_t i = 0;
  for (; i + 4 <= count; i += 4) {
    const __m128i r1 = ApplyToLanes(kStep, lanes);
    const __m128i r2 = ApplyToLanes(kStep, r1);
    lanes = ApplyToLanes(kLaneJump, lanes);
    const __m128 dither =
        _mm_mul_ps(_mm_sub_ps(UnitFloats(r1), UnitFloats(r2)), _mm_set1_ps(0x1p-15f));
    __m128 x = _mm_loadu_ps(samples + i);
    // Finite samples have an exponent below all ones; the others become silence.
    const __m128i magnitude = _mm_and_si128(_mm_castps_si128(x), _mm_set1_epi32(0x7FFFFFFF));
    x = _mm_and_ps(x, _mm_castsi128_ps(_mm_cmplt_epi32(magnitude, _mm_set1_epi32(0x7F800000))));
    const __m128 v =
        _mm_min_ps(_mm_max_ps(_mm_add_ps(x, dither), _mm_set1_ps(-1.0f)), _mm_set1_ps(1.0f));
    // Rounds in the current rounding mode, as RoundToInteger does.
    const __m128i q = _mm_cvtps_epi32(_mm_mul_ps(v, _mm_set1_ps(32767.0f)));
    _mm_storel_epi64(reinterpret_cast<__m128i*>(out + i), _mm_packs_epi32(q, q));
  }
  *state = static_cast<uint32_t>(_mm_cvtsi128_si32(lanes));
  return i;
}
#endif

}  // namespace

std::vector<float> ResampleLinear(const std::vector<float>& samples, int channels, int source_rate,
                                  int target_rate) {
  if (channels < 1 || source_rate < 1 || target_rate < 1 || samples.empty() ||
      source_rate == target_rate) {
    return samples;
  }
  const LinearResampler resampler(samples, channels, source_rate, target_rate);
  std::vector<float> out(resampler.output_frames() * static_cast<size_t>(channels));
  resampler.Render(0, resampler.output_frames(), out.data());
  return out;
}

uint64_t ResampledFrameCount(uint64_t frames, int source_rate, int target_rate) {
  if (source_rate < 1 || target_rate < 1 || source_rate == target_rate) return frames;
  const auto source = static_cast<uint64_t>(source_rate);
  return (static_cast<uint64_t>(target_rate) * frames + source / 2) / source;
}

std::vector<float> MixToStereo(const std::vector<float>& samples, int channels,
                               uint32_t channel_mask) {
  if (channels < 1) return {};
  const size_t frames = samples.size() / static_cast<size_t>(channels);
  std::vector<float> out(frames * 2);
  StereoFold(static_cast<size_t>(channels), channel_mask).Apply(samples.data(), frames, out.data());
  return out;
}

std::vector<int16_t> FloatToPcm16Dithered(const std::vector<float>& samples) {
  std::vector<int16_t> out(samples.size());
  Pcm16Ditherer().Convert(samples.data(), samples.size(), out.data());
  return out;
}

void StreamToStereo(const std::vector<float>& samples, int channels, uint32_t channel_mask,
                    int source_rate, int target_rate,
                    const std::function<void(const float* stereo, size_t frames)>& consume) {
  if (channels < 1) return;
  const size_t width = static_cast<size_t>(channels);
  const LinearResampler resampler(samples, channels, source_rate, target_rate);
  const StereoFold fold(width, channel_mask);
  std::vector<float> block(kBlockFrames * width);
  std::vector<float> stereo(width == 2 ? 0 : kBlockFrames * 2);
  const uint64_t total = resampler.output_frames();
  for (uint64_t first = 0; first < total; first += kBlockFrames) {
    const size_t count = static_cast<size_t>(std::min<uint64_t>(kBlockFrames, total - first));
    resampler.Render(first, count, block.data());
    if (width == 2) {
      consume(block.data(), count);
    } else {
      fold.Apply(block.data(), count, stereo.data());
      consume(stereo.data(), count);
    }
  }
}

std::vector<int16_t> ToStereoPcm16(const std::vector<float>& samples, int channels,
                                   uint32_t channel_mask, int source_rate, int target_rate) {
  if (channels < 1) return {};
  const LinearResampler resampler(samples, channels, source_rate, target_rate);
  std::vector<int16_t> out(resampler.output_frames() * 2);
  Pcm16Ditherer ditherer;
  int16_t* next = out.data();
  StreamToStereo(samples, channels, channel_mask, source_rate, target_rate,
                 [&](const float* stereo, size_t frames) {
                   ditherer.Convert(stereo, frames * 2, next);
                   next += frames * 2;
                 });
  return out;
}

void Pcm16Ditherer::Convert(const float* samples, size_t count, int16_t* out) {
  size_t i = 0;
#if defined(__SSE2__) || defined(_M_X64)
  i = DitherFourAtATime(samples, count, out, &state_);
#endif
  for (; i < count; ++i) {
    const uint32_t r1 = kStep.Apply(state_);
    state_ = kStep.Apply(r1);
    out[i] = DitheredSample(samples[i], r1, state_);
  }
}

}  // namespace zennic
