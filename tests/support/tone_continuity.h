#pragma once

#include <cstddef>
#include <string>
#include <vector>

namespace zennic::testing {

// Breaks in a recording of steady tones: a sum of sines of known frequencies obeys a fixed
// linear recurrence (two terms per sine), so whatever does not is a jump, a dropped or repeated
// stretch, or a gap; and stretches of silence of 2 ms or more. Works on the left channel of a
// 48,000 Hz stereo float recording.
struct ToneBreaks {
  std::vector<double> frequencies;      // the tones listened for
  std::vector<double> discontinuities;  // seconds into the recording
  struct Silence {
    double at_seconds;
    double milliseconds;
  };
  std::vector<Silence> silences;
  // Stretches between two discontinuities where one of several tones was gone and the others
  // played on (the voice dropped under a clip): its two edges are one break.
  struct ToneGap {
    double at_seconds;
    double milliseconds;
    double frequency;  // the tone that was gone
  };
  std::vector<ToneGap> tone_gaps;

  bool empty() const { return discontinuities.empty() && silences.empty(); }
  // "N discontinuities (at ...), M silences (... ms at ...)", for a failure message.
  std::string Describe() const;
};

// A break as a listener counts it: discontinuities and silences within 20 ms of each other (a
// silence's two edges, a jump beside it) are one, and so are the two edges of a tone gap; clicks
// further apart are heard apart.
struct HeardBreak {
  double from_seconds = 0;
  double to_seconds = 0;
  size_t discontinuities = 0;
  double silent_ms = 0;  // of the silences within it, in all
  double tone_missing_ms = 0;  // of the tone gaps within it, in all
  std::vector<double> missing_tones;  // the frequencies those gaps lacked
  // "at 15.750 s, 37 ms long: 4 discontinuities, 37 ms of silence[, 26 ms without 440 Hz]"
  std::string Describe() const;
};
std::vector<HeardBreak> HeardBreaks(const ToneBreaks& breaks);

// The recording may start with up to `leading_silence_frames` of silence (a recorder's own start)
// before the tones; more than that is a silence too.
ToneBreaks FindToneBreaks(const std::vector<float>& stereo, const std::vector<double>& frequencies,
                          size_t leading_silence_frames = 9600);

// The amplitude of one tone (1 is full scale) in the first channel of a 48,000 Hz recording of
// interleaved channels, as most of it carries the tone.
double ToneAmplitude(const std::vector<float>& samples, double frequency, size_t channels = 2);

}  // namespace zennic::testing
