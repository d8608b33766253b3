#include "update/update_result.h"

namespace zennic {
namespace {

JsonValue TextOrNull(const std::string& text) {
  return text.empty() ? JsonValue() : JsonValue(text);
}

JsonValue ReleaseNotesJson(const UpdateResult& result) {
  if (!result.release_notes_list.empty()) {
    JsonValue notes = JsonValue::MakeArray();
    for (const std::string& line : result.release_notes_list) notes.PushBack(line);
    return notes;
  }
  return TextOrNull(result.release_notes_text);
}

}  // namespace

JsonValue UpdateResultToJson(const UpdateResult& result) {
  JsonValue json = JsonValue::MakeObject();
  json["check_status"] = result.check_status;
  json["error_code"] = TextOrNull(result.error_code);
  json["error_message"] = TextOrNull(result.error_message);
  json["current_version"] = result.current_version;
  json["latest_version"] = TextOrNull(result.latest_version);
  json["published_at"] = TextOrNull(result.published_at);
  json["download_url"] = TextOrNull(result.download_url);
  json["download_size_bytes"] = static_cast<double>(result.download_size_bytes);
  json["sha256"] = TextOrNull(result.sha256);
  json["min_supported_version"] = TextOrNull(result.min_supported_version);
  json["update_level"] = result.update_level;
  json["release_notes"] = ReleaseNotesJson(result);
  json["update_available"] = result.update_available;
  json["update_required"] = result.update_required;
  return json;
}

}  // namespace zennic
