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

// Mono to both sides, stereo copied; each further channel k is added at 0.707 to the left when
// k is even and to the right when odd. Neither clamped nor normalised.
std::vector<float> MixToStereo(const std::vector<float>& samples, int channels);

// Triangular dither from a fixed seed, so equal input gives equal output; clamped to full
// scale +-32767. A sample that is not a finite number becomes silence.
std::vector<int16_t> FloatToPcm16Dithered(const std::vector<float>& samples);

// ResampleLinear followed by MixToStereo, handed to `consume` one block of interleaved stereo
// frames at a time, in order.
void StreamToStereo(const std::vector<float>& samples, int channels, int source_rate,
                    int target_rate,
                    const std::function<void(const float* stereo, size_t frames)>& consume);

// ResampleLinear, MixToStereo and FloatToPcm16Dithered in turn: any decoded sound in the
// mixer's stereo 16-bit form at `target_rate`, made a block at a time.
std::vector<int16_t> ToStereoPcm16(const std::vector<float>& samples, int channels, int source_rate,
                                   int target_rate);

// FloatToPcm16Dithered over consecutive pieces of one signal: the dither carries on from one
// piece to the next.
class Pcm16Ditherer {
 public:
  void Convert(const float* samples, size_t count, int16_t* out);

 private:
  uint32_t state_ = 0x12345678u;
};

}  // namespace zennic
