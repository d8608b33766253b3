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

// `count` samples: the clip (silence when null) alone at `sfx_gain`, and the voice at
// `mic_gain` with it; four at a time, then one at a time.
void MixRun(const float* voice, const float* clip, uint32_t count, float mic_gain, float sfx_gain,
            float* mix, float* monitor) {
  const __m128 voice_gain = _mm_set1_ps(mic_gain);
  const __m128 clip_gain = _mm_set1_ps(sfx_gain);
  uint32_t j = 0;
  for (; j + 4 <= count; j += 4) {
    const __m128 heard = clip != nullptr ? Clamp(_mm_mul_ps(clip_gain, _mm_loadu_ps(clip + j)))
                                         : _mm_setzero_ps();
    _mm_storeu_ps(monitor + j, heard);
    _mm_storeu_ps(mix + j,
                  Clamp(_mm_add_ps(_mm_mul_ps(voice_gain, _mm_loadu_ps(voice + j)), heard)));
  }
  for (; j < count; ++j) {
    const __m128 heard = clip != nullptr ? Clamp(_mm_set_ss(sfx_gain * clip[j])) : _mm_setzero_ps();
    _mm_store_ss(monitor + j, heard);
    _mm_store_ss(mix + j, Clamp(_mm_add_ss(_mm_set_ss(mic_gain * voice[j]), heard)));
  }
}

}  // namespace

bool MixBlock(const float* microphone, const std::vector<float>& clip, ClipPlayhead* playhead,
              float mic_gain, float sfx_gain, uint32_t frames, float* mix, float* monitor) {
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
    MixRun(microphone + 2 * i, source, 2 * run, mic_gain, sfx_gain, mix + 2 * i, monitor + 2 * i);
    i += run;
  }
  return ended;
}

}  // namespace zennic
