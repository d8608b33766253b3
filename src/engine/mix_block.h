#pragma once

#include <cstdint>
#include <vector>

namespace zennic {

// Where the playing clip stands.
struct ClipPlayhead {
  bool playing = false;
  bool loop = false;
  uint64_t position = 0;  // the next clip frame to play
};

// One block of the clip alone, interleaved stereo at `sfx_gain`, clamped to [-1, 1], into
// `monitor`. The clip (stereo, 48,000 Hz) plays from the playhead; a clip that does not loop stops
// at its end and leaves the rest of the block silent, a looping one starts again without a gap.
// True when the clip ran out in this block.
bool ClipBlock(const std::vector<float>& clip, ClipPlayhead* playhead, float sfx_gain,
               uint32_t frames, float* monitor);

// The mix of one block: the microphone at `mic_gain` with the clip block that ClipBlock made,
// clamped again.
void AddVoice(const float* microphone, const float* monitor, float mic_gain, uint32_t frames,
              float* mix);

}  // namespace zennic
