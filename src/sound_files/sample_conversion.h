#pragma once

#include <cstdint>
#include <functional>
#include <vector>

namespace zennic {

// The steps that bring any decoded sound to the mixer's 48,000 Hz stereo 16-bit form. Each
// works on a whole array; StreamToStereo runs the first two a block at a time, with the same
// result, so that a long sound is never held more than once.

// Linear interpolation between neighbouring frames, the last frame repeated at the end. A copy
// of the input when a count is below 1, the input is empty or the rates are equal. The output
// has (frames * target + source / 2) / source frames.
std::vector<float> ResampleLinear(const std::vector<float>& samples, int channels, int source_rate,
                                  int target_rate);
// The number of frames ResampleLinear makes of `frames` input frames, so that a caller can
// refuse an output too large before anything is allocated.
uint64_t ResampledFrameCount(uint64_t frames, int source_rate, int target_rate);

// Speaker positions as the bits of a WAV channel mask; the channels of a frame come in the
// order of their bits.
namespace speaker {
constexpr uint32_t kFrontLeft = 0x1;
constexpr uint32_t kFrontRight = 0x2;
constexpr uint32_t kFrontCenter = 0x4;
constexpr uint32_t kLowFrequency = 0x8;
constexpr uint32_t kBackLeft = 0x10;
constexpr uint32_t kBackRight = 0x20;
constexpr uint32_t kBackCenter = 0x100;
constexpr uint32_t kSideLeft = 0x200;
constexpr uint32_t kSideRight = 0x400;
}  // namespace speaker

// Mono to both sides, stereo copied. More channels whose speakers `channel_mask` names (3.0,
// 4.0, quad, 5.0, 5.1, 7.1 and the like) fold down with the ITU coefficients: the centre and
// the surrounds at 0.707 to their sides, a back centre at 0.5 to both, the LFE left out, scaled
// so that full-scale channels cannot clip. Without a known layout each further channel k is
// added at 0.707 to the left when k is even and to the right when odd, neither clamped nor
// normalised.
std::vector<float> MixToStereo(const std::vector<float>& samples, int channels,
                               uint32_t channel_mask = 0);

// Triangular dither from a fixed seed, so equal input gives equal output; clamped to full
// scale +-32767. A sample that is not a finite number becomes silence.
std::vector<int16_t> FloatToPcm16Dithered(const std::vector<float>& samples);

// ResampleLinear followed by MixToStereo, handed to `consume` one block of interleaved stereo
// frames at a time, in order.
void StreamToStereo(const std::vector<float>& samples, int channels, uint32_t channel_mask,
                    int source_rate, int target_rate,
                    const std::function<void(const float* stereo, size_t frames)>& consume);

// ResampleLinear, MixToStereo and FloatToPcm16Dithered in turn: any decoded sound in the
// mixer's stereo 16-bit form at `target_rate`, made a block at a time.
std::vector<int16_t> ToStereoPcm16(const std::vector<float>& samples, int channels,
                                   uint32_t channel_mask, int source_rate, int target_rate);

// FloatToPcm16Dithered over consecutive pieces of one signal: the dither carries on from one
// piece to the next.
class Pcm16Ditherer {
 public:
  void Convert(const float* samples, size_t count, int16_t* out);

 private:
  uint32_t state_ = 0x12345678u;
};

}  // namespace zennic
