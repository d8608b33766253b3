#include "engine/mix_block.h"

#include <algorithm>

namespace zennic {
namespace {

float Clamp(float value) { return std::clamp(value, -1.0f, 1.0f); }

}  // namespace

bool MixBlock(const float* microphone, const std::vector<float>& clip, ClipPlayhead* playhead,
              float mic_gain, float sfx_gain, uint32_t frames, float* mix, float* monitor) {
  const uint64_t clip_frames = clip.size() / 2;
  bool ended = false;
  for (uint32_t i = 0; i < frames; ++i) {
    float left = 0.0f;
    float right = 0.0f;
    if (playhead->playing && clip_frames > 0) {
      bool ends_here = false;
      if (playhead->position >= clip_frames) {
        playhead->position = 0;
        if (!playhead->loop) {
          playhead->playing = false;
          ended = ends_here = true;
        }
      }
      if (!ends_here) {
        left = clip[2 * playhead->position];
        right = clip[2 * playhead->position + 1];
        ++playhead->position;
      }
    }
    monitor[2 * i] = Clamp(sfx_gain * left);
    monitor[2 * i + 1] = Clamp(sfx_gain * right);
    mix[2 * i] = Clamp(mic_gain * microphone[2 * i] + monitor[2 * i]);
    mix[2 * i + 1] = Clamp(mic_gain * microphone[2 * i + 1] + monitor[2 * i + 1]);
  }
  return ended;
}

}  // namespace zennic
