#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace zennic {

// The cable test's signal and its detection: an 887 Hz tone from 80 to 250 ms, a 1327 Hz tone
// from 300 to 470 ms, silence elsewhere. Asking for the second tone inside a span after the
// first keeps steady noise, a single beep or the tones in the wrong order from passing.

constexpr double kFirstTestToneHz = 887.0;
constexpr double kSecondTestToneHz = 1327.0;

// The test signal's value at `frame` for the rate: the tones at 0.055 with 5 ms linear fades.
float TwoToneTestSignalValue(uint64_t frame, uint32_t sample_rate);

// The amplitude of a sine of `frequency_hz` in samples[start, start + count), by one bin of a
// discrete Fourier transform; `rms` (when given) gets the window's RMS. Non-finite samples count
// as 0; a window outside the samples, or a rate below 1, gives 0.
double MeasureToneBin(const std::vector<float>& samples, size_t start, size_t count,
                      int64_t sample_rate, double frequency_hz, double* rms);

// The first tone, then the second 120 to 420 ms later, in a mono recording at `sample_rate`.
bool DetectTwoToneSequence(const std::vector<float>& samples, int64_t sample_rate);

}  // namespace zennic
