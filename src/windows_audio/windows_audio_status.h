#pragma once

#include <string>

#include "core/json_value.h"

namespace zennic {

// What the Windows audio manager reports about the backup, the current defaults and the route.
struct WindowsAudioStatus {
  bool backup_exists = false;
  bool backup_valid = false;
  bool session_active = false;
  bool current_session_invalid_output = false;
  bool current_defaults_available = false;
  bool current_default_output_is_cable = false;
  bool current_default_input_is_cable = false;
  bool restore_session_available = false;
  bool restore_last_known_good_available = false;
  bool current_session_safe_normal_pc = false;
  bool last_known_good_safe_normal_pc = false;
  bool audio_route_monitoring_active = false;
  bool audio_route_warning = false;
  std::string error;
  std::string audio_route_warning_code;
  std::string audio_route_warning_message;
  std::string backup_path;
  std::string current_session_saved_at;
  std::string last_known_good_saved_at;
  std::string current_session_output_name;
  std::string current_session_input_name;
  std::string last_known_good_output_name;
  std::string last_known_good_input_name;
  std::string current_default_output_name;
  std::string current_default_input_name;
};

// Every field under its own name; strings stay strings, empty ones included.
JsonValue WindowsAudioStatusToJson(const WindowsAudioStatus& status);

}  // namespace zennic
