#pragma once

#include <cstdint>
#include <vector>

namespace zennic {

// The steps that bring any decoded sound to the mixer's 48,000 Hz stereo 16-bit form.

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

}  // namespace zennic
