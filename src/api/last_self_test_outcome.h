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
};

}  // namespace zennic
