#include "engine/mix_block.h"

#include <emmintrin.h>

#include <algorithm>

namespace zennic {
namespace {

// Within [-1, 1]; NaN passes, as it does through std::clamp (min and max hand back their
// second operand when one is NaN).
__m128 Clamp(__m128 values) {
  return _mm_min_ps(_mm_set1_ps(1.0f), _mm_max_ps(_mm_set1_ps(-1.0f), values));
}

// `count` samples of the clip (silence when null) at `gain`; four at a time, then one at a time.
void ClipRun(const float* clip, uint32_t count, float gain, float* monitor) {
  uint32_t j = 0;
  if (clip == nullptr) {
    std::fill(monitor, monitor + count, 0.0f);
    return;
  }
  const __m128 gains = _mm_set1_ps(gain);
  for (; j + 4 <= count; j += 4) {
    _mm_storeu_ps(monitor + j, Clamp(_mm_mul_ps(gains, _mm_loadu_ps(clip + j))));
  }
  for (; j < count; ++j) _mm_store_ss(monitor + j, Clamp(_mm_set_ss(gain * clip[j])));
}

}  // namespace

bool ClipBlock(const std::vector<float>& clip, ClipPlayhead* playhead, float sfx_gain,
               uint32_t frames, float* monitor) {
  const uint64_t clip_frames = clip.size() / 2;
  bool ended = false;
  // In runs of frames that all take the clip, or all do without it, so no frame decides alone.
  uint32_t i = 0;
  while (i < frames) {
    uint32_t run = frames - i;
    const float* source = nullptr;
    if (playhead->playing && clip_frames > 0) {
      if (playhead->position >= clip_frames) {
        playhead->position = 0;
        if (!playhead->loop) {
          // This frame and the rest of the block are silent.
          playhead->playing = false;
          ended = true;
          continue;
        }
      }
      run = static_cast<uint32_t>(std::min<uint64_t>(run, clip_frames - playhead->position));
      source = clip.data() + 2 * playhead->position;
      playhead->position += run;
    }
    ClipRun(source, 2 * run, sfx_gain, monitor + 2 * i);
    i += run;
  }
  return ended;
}

void AddVoice(const float* microphone, const float* monitor, float mic_gain, uint32_t frames,
              float* mix) {
  const __m128 gain = _mm_set1_ps(mic_gain);
  const uint32_t count = 2 * frames;
  uint32_t j = 0;
  for (; j + 4 <= count; j += 4) {
    _mm_storeu_ps(mix + j, Clamp(_mm_add_ps(_mm_mul_ps(gain, _mm_loadu_ps(microphone + j)),
                                            _mm_loadu_ps(monitor + j))));
  }
  for (; j < count; ++j) {
    _mm_store_ss(mix + j, Clamp(_mm_add_ss(_mm_set_ss(mic_gain * microphone[j]),
                                           _mm_set_ss(monitor[j]))));
  }
}

}  // namespace zennic
