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

// Mixes one block of interleaved stereo frames: the clip alone at `sfx_gain` into `monitor`,
// and the microphone at `mic_gain` plus that into `mix`, each clamped to [-1, 1]. The clip
// (stereo, 48,000 Hz) plays from the playhead; a clip that does not loop stops at its end and
// leaves the rest of the block silent, a looping one starts again without a gap. True when the
// clip ran out in this block.
bool MixBlock(const float* microphone, const std::vector<float>& clip, ClipPlayhead* playhead,
              float mic_gain, float sfx_gain, uint32_t frames, float* mix, float* monitor);

}  // namespace zennic
