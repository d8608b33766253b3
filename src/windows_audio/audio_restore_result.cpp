#include "windows_audio/audio_restore_result.h"

namespace zennic {

JsonValue BuildAudioRestoreResultJson(const AudioRestoreResult& result,
                                      const WindowsAudioStatus& status) {
  bool partial = result.output_restored != result.input_restored;
  JsonValue object = JsonValue::MakeObject();
  object["restored"] = result.restored;
  object["output_restored"] = result.output_restored;
  object["input_restored"] = result.input_restored;
  object["partial_restore"] = partial;
  object["restore_status"] = result.restored ? "full" : partial ? "partial" : "failed";
  object["used_fallback_output"] = result.used_fallback_output;
  object["used_fallback_input"] = result.used_fallback_input;
  JsonValue& messages = object["messages"] = JsonValue::MakeArray();
  for (const std::string& message : result.messages) messages.PushBack(message);
  object["audio_management"] = WindowsAudioStatusToJson(status);
  return object;
}

}  // namespace zennic
