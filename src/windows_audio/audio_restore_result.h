#pragma once

#include <string>
#include <vector>

#include "core/json_value.h"
#include "windows_audio/windows_audio_status.h"

namespace zennic {

// The outcome of one of the three restores.
struct AudioRestoreResult {
  bool restored = false;         // the restore reached its goal
  bool output_restored = false;  // a playback device is the default for all three roles
  bool input_restored = false;   // a recording device is the default for all three roles
  bool used_fallback_output = false;  // the playback device was not found by its saved id
  bool used_fallback_input = false;
  std::vector<std::string> messages;  // for the user, in the order the steps ran
};

// The reply of the restore routes, with the status taken after the restore.
JsonValue BuildAudioRestoreResultJson(const AudioRestoreResult& result,
                                      const WindowsAudioStatus& status);

}  // namespace zennic
