#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "core/json_value.h"

namespace zennic {

// The outcome of one update check, failures included.
struct UpdateResult {
  // "unavailable", "invalid_manifest", "up_to_date", "update_available" or "update_required".
  std::string check_status = "unavailable";
  std::string error_code;
  std::string error_message;
  std::string current_version;
  std::string latest_version;
  std::string published_at;
  std::string download_url;
  int64_t download_size_bytes = 0;
  std::string sha256;
  std::string min_supported_version;
  // "optional", "recommended" or "critical"; reported only, it never changes the status.
  std::string update_level = "optional";
  std::string release_notes_text;
  std::vector<std::string> release_notes_list;
  bool update_available = false;
  bool update_required = false;
};

// The route's object: empty texts as null, the notes as a list, else a text, else null.
JsonValue UpdateResultToJson(const UpdateResult& result);

}  // namespace zennic
