#pragma once

#include <string>

#include "core/json_value.h"

namespace zennic {

// The peak-level verdict of one sound file. The defaults are those of a file that was not
// measured; `error_code` says why.
struct AnalyzerVolumeHealth {
  std::string path;               // absolute, lexically normalised
  std::string relative_path;      // relative to the analysis root, else the file name
  std::string state = "unknown";  // "silent", "very_quiet", "quiet", "near_clipping", "volume_ok"
  double peak_dbfs = -120.0;
  bool normalize_recommended = false;
  double recommended_target_peak_dbfs = -1.0;
  bool can_normalize = false;
  std::string error_code;  // empty after a measurement
};

// "error_code" appears only when it is not empty.
JsonValue BuildVolumeHealthJson(const AnalyzerVolumeHealth& health);

}  // namespace zennic
