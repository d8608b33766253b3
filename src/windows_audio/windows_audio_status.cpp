#include "windows_audio/windows_audio_status.h"

namespace zennic {

JsonValue WindowsAudioStatusToJson(const WindowsAudioStatus& status) {
  JsonValue object = JsonValue::MakeObject();
  object["backup_exists"] = status.backup_exists;
  object["backup_valid"] = status.backup_valid;
  object["session_active"] = status.session_active;
  object["current_session_invalid_output"] = status.current_session_invalid_output;
  object["current_defaults_available"] = status.current_defaults_available;
  object["current_default_output_is_cable"] = status.current_default_output_is_cable;
  object["current_default_input_is_cable"] = status.current_default_input_is_cable;
  object["restore_session_available"] = status.restore_session_available;
  object["restore_last_known_good_available"] = status.restore_last_known_good_available;
  object["current_session_safe_normal_pc"] = status.current_session_safe_normal_pc;
  object["last_known_good_safe_normal_pc"] = status.last_known_good_safe_normal_pc;
  object["audio_route_monitoring_active"] = status.audio_route_monitoring_active;
  object["audio_route_warning"] = status.audio_route_warning;
  object["error"] = status.error;
  object["audio_route_warning_code"] = status.audio_route_warning_code;
  object["audio_route_warning_message"] = status.audio_route_warning_message;
  object["backup_path"] = status.backup_path;
  object["current_session_saved_at"] = status.current_session_saved_at;
  object["last_known_good_saved_at"] = status.last_known_good_saved_at;
  object["current_session_output_name"] = status.current_session_output_name;
  object["current_session_input_name"] = status.current_session_input_name;
  object["last_known_good_output_name"] = status.last_known_good_output_name;
  object["last_known_good_input_name"] = status.last_known_good_input_name;
  object["current_default_output_name"] = status.current_default_output_name;
  object["current_default_input_name"] = status.current_default_input_name;
  return object;
}

}  // namespace zennic
