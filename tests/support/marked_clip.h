#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace zennic::testing {

// A clip that says where it is, for finding gaps in a recording of it: a 1 kHz tone at half
// level on the left, its own position as a level rising from 0.1 to 0.9 on the right.
// 48,000 Hz stereo, three seconds.
constexpr int kMarkedClipFrames = 3 * 48000;
std::vector<int16_t> MarkedClipSamples();

// The gaps in a 48,000 Hz stereo recording of the marked clip playing in a loop, each as
// "<length> ms at <time> ms": silence after which the clip goes on where it stopped. A recorder
// that drops data shows silence too, but there the clip has moved on behind it. The first
// 100 ms (the recorder's own start) do not count.
std::vector<std::string> FindMarkedClipGaps(const std::vector<float>& recording);

}  // namespace zennic::testing
