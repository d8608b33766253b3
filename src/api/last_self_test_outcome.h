#pragma once

#include <string>

namespace zennic {

// What the last setup check found on the voice path, kept in memory for the two routes that
// act on it. Guarded by the API's audio mutex.
struct LastSelfTestOutcome {
  bool stored = false;  // the tested pair may be applied
  std::string tested_playback_id;
  std::string tested_playback_name;
  std::string matching_recording_id;
  std::string matching_recording_name;
  // Another cable pair that carried the signal when the selected one did not.
  std::string recommended_playback_id;
  std::string recommended_playback_name;
  std::string recommended_recording_id;
  std::string recommended_recording_name;

  void ForgetTestedPair() {
    stored = false;
    tested_playback_id.clear();
    tested_playback_name.clear();
    matching_recording_id.clear();
    matching_recording_name.clear();
  }
  void ForgetRecommendation() {
    recommended_playback_id.clear();
    recommended_playback_name.clear();
    recommended_recording_id.clear();
    recommended_recording_name.clear();
  }
};

}  // namespace zennic
