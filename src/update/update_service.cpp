#include "update/update_service.h"

#include "core/app_log.h"
#include "core/text.h"
#include "model/mixer_settings_json.h"
#include "update/parsed_url.h"
#include "update/semantic_version.h"
#include "update/update_manifest_fetch.h"

namespace zennic {

const char kUpdateManifestUrl[] = ZENNIC_UPDATE_MANIFEST_URL;
const char kUpdateDownloadHost[] = ZENNIC_UPDATE_DOWNLOAD_HOST;

namespace {

constexpr char kAppName[] = "Ruzerad";
constexpr char kLogTag[] = "UpdateService";

// The manifest was fetched but cannot be used; the fields read so far stay in the result.
bool ManifestError(UpdateResult* result, const std::string& code, const std::string& message) {
  result->check_status = "invalid_manifest";
  result->error_code = code;
  result->error_message = message;
  result->update_available = false;
  result->update_required = false;
  return false;
}

// Numbers saturate rather than overflow, so a huge value is refused or clamped, never
// undefined.
int64_t ReadInteger(const JsonValue& object, const std::string& key, int64_t absent) {
  const JsonValue* member = object.Find(key);
  if (member == nullptr || member->type != JsonValue::Type::Number) return absent;
  return JsonNumberToInt64(member->number_value);
}

void ReadReleaseNotes(const JsonValue& manifest, UpdateResult* result) {
  const JsonValue* notes = manifest.Find("release_notes");
  if (notes == nullptr) return;
  if (notes->type == JsonValue::Type::String) {
    result->release_notes_text = notes->string_value;
    return;
  }
  if (notes->type != JsonValue::Type::Array) return;
  for (const JsonValue& element : notes->array_value) {
    if (element.type != JsonValue::Type::String) continue;
    std::string line = Trim(element.string_value);
    if (line.empty()) continue;
    if (!result->release_notes_list.empty()) result->release_notes_text += "\n";
    result->release_notes_text += line;
    result->release_notes_list.push_back(std::move(line));
  }
}

// Reads the fields in their order and stops at the first one that fails.
bool ReadManifest(const JsonValue& manifest, UpdateResult* result, SemanticVersion* latest) {
  if (ReadInteger(manifest, "schema_version", -1) != 1) {
    return ManifestError(result, "update_manifest_schema_unsupported",
                         "Update manifest schema_version must be 1");
  }
  if (ReadJsonString(manifest, "app") != kAppName) {
    return ManifestError(result, "update_manifest_wrong_app", "Update manifest is not for Ruzerad");
  }
  result->latest_version = ReadJsonString(manifest, "latest_version");
  if (!ParseSemVer(result->latest_version, latest)) {
    return ManifestError(result, "update_manifest_invalid_version",
                         "Update manifest latest_version is not valid SemVer");
  }
  result->download_url = ReadJsonString(manifest, "download_url");
  if (!IsAllowedDownloadUrl(result->download_url)) {
    return ManifestError(result, "update_manifest_invalid_download_url",
                         "Update download URL is not allowed");
  }
  result->published_at = ReadJsonString(manifest, "published_at");
  result->download_size_bytes = ReadInteger(manifest, "download_size_bytes", 0);
  if (result->download_size_bytes < 0) {
    return ManifestError(result, "update_manifest_invalid_size", "Update download size is invalid");
  }
  result->sha256 = ReadJsonString(manifest, "sha256");
  result->min_supported_version = ReadJsonString(manifest, "min_supported_version");
  ReadReleaseNotes(manifest, result);
  result->update_level = ToLower(ReadJsonString(manifest, "update_level"));
  if (result->update_level.empty()) result->update_level = "optional";
  if (result->update_level != "optional" && result->update_level != "recommended" &&
      result->update_level != "critical") {
    return ManifestError(result, "update_manifest_invalid_level",
                         "Update manifest update_level is invalid");
  }
  return true;
}

void CompleteCheck(const SemanticVersion& current, const SemanticVersion& latest,
                   UpdateResult* result) {
  result->update_available = CompareVersions(current, latest) < 0;
  if (!result->min_supported_version.empty()) {
    SemanticVersion minimum;
    if (!ParseSemVer(result->min_supported_version, &minimum)) {
      ManifestError(result, "update_manifest_invalid_min_supported_version",
                    "Update manifest min_supported_version is not valid SemVer");
      return;
    }
    result->update_required = CompareVersions(current, minimum) < 0;
    result->update_available = result->update_available || result->update_required;
  }
  result->check_status = result->update_required    ? "update_required"
                         : result->update_available ? "update_available"
                                                    : "up_to_date";
}

}  // namespace

bool IsAllowedDownloadUrl(const std::string& url) {
  ParsedUrl parsed;
  return ParseUrl(url, &parsed, nullptr) && parsed.scheme == "https" &&
         parsed.host == kUpdateDownloadHost && parsed.port == 443 &&
         parsed.path.starts_with("/downloads/") && ToLower(parsed.path).ends_with(".zip");
}

UpdateService::UpdateService(UpdateServiceOptions options) : options_(std::move(options)) {}

bool UpdateService::CheckForUpdates(UpdateResult* result, std::string* error) const {
  if (result == nullptr) {
    if (error != nullptr) *error = "Update result pointer is null";
    return false;
  }
  Check(result);
  // The page shows a failed check in a word; the log keeps what went wrong.
  if (result->check_status == "unavailable" || result->check_status == "invalid_manifest") {
    WriteLogLine(options_.logs_folder, kLogTag,
                 "Update check failed (" + result->error_code + "): " + result->error_message);
  }
  return true;
}

void UpdateService::Check(UpdateResult* result) const {
  *result = UpdateResult();
  result->current_version = Trim(options_.current_version);
  if (result->current_version.empty()) result->current_version = "0.0.0";
  SemanticVersion current;
  if (!ParseSemVer(result->current_version, &current)) {
    ManifestError(result, "invalid_current_version",
                  "The current Ruzerad version is not valid SemVer");
    return;
  }

  std::string text;
  std::string fetch_error;
  bool fetched = options_.fetch
                     ? options_.fetch(options_.manifest_url, &text, &fetch_error)
                     : FetchUpdateManifest(options_.manifest_url, &text, &fetch_error, "");
  if (!fetched) {
    result->error_code = "update_manifest_unavailable";
    result->error_message =
        fetch_error.empty() ? "Unable to check for updates right now" : fetch_error;
    return;
  }

  JsonValue manifest;
  std::string parse_error;
  if (!JsonValue::Parse(text, &manifest, &parse_error) ||
      manifest.type != JsonValue::Type::Object) {
    ManifestError(result, "update_manifest_malformed",
                  parse_error.empty() ? "Update manifest was not valid JSON" : parse_error);
    return;
  }
  SemanticVersion latest;
  if (ReadManifest(manifest, result, &latest)) CompleteCheck(current, latest, result);
}

}  // namespace zennic
