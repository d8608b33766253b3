// Whether the clips of a folder already have the mixer's format, and their conversion to it.

#include "api/audio_folder_rules.h"
#include "api/http_api.h"
#include "core/paths.h"
#include "model/runtime_state.h"
#include "core/text.h"
#include "server/json_envelope.h"
#include "sound_files/analyzer_service.h"
#include "sound_files/converter_service.h"

namespace zennic {
namespace fs = std::filesystem;
namespace {

// Every non-empty string of "paths", absolute and normal, in order; anything else is skipped.
std::vector<fs::path> ReadPathsArray(const JsonValue& body) {
  std::vector<fs::path> paths;
  const JsonValue* list = body.Find("paths");
  if (list == nullptr || list->type != JsonValue::Type::Array) return paths;
  for (const JsonValue& element : list->array_value) {
    if (element.type == JsonValue::Type::String && !element.string_value.empty()) {
      paths.push_back(AbsoluteNormalPath(Utf8ToPath(element.string_value)));
    }
  }
  return paths;
}

// A file whose path lies inside the folder but resolves outside it, through a link: converting
// it would write beside a file elsewhere and move that file into this folder's "_originals".
std::optional<ConvertItemResult> RefuseLinkedOutside(const fs::path& root, const fs::path& path) {
  std::error_code code;
  std::string reason;
  if (root.empty() || !fs::exists(path, code) ||
      HttpApi::ResolvePathInsideActiveRoot(path, root, &reason)) {
    return std::nullopt;
  }
  ConvertItemResult item;
  item.source_path = WideToUtf8(path);
  item.status = "failed";
  item.code = "path_outside_root";
  item.message = reason;
  return item;
}

}  // namespace

HttpResponse HttpApi::HandleAnalyze(const JsonValue& body) {
  if (config_.analyzer == nullptr) {
    return ErrorResponse(500, "analyzer_unavailable", "AnalyzerService is not configured");
  }
  MixerSettings settings = config_.runtime_state->GetSettings();
  std::optional<HttpResponse> refusal;
  fs::path root = ResolveRequestAudioDir(settings, body, &refusal);
  if (refusal) return *refusal;
  std::vector<fs::path> paths = ReadPathsArray(body);
  AnalyzeResult result;
  std::string error;
  bool analyzed = paths.empty()
                      ? config_.analyzer->AnalyzeFolder(root, settings.file_path, &result, &error)
                      : config_.analyzer->AnalyzePaths(root, paths, &result, &error);
  if (!analyzed) {
    return ErrorResponse(500, "analyze_failed", error.empty() ? "Analyze operation failed" : error);
  }
  JsonValue reply = BuildAnalyzeResultJson(result);
  reply["alerts"] = BuildAlertsJson();
  return MakeJsonResponse(reply);
}

HttpResponse HttpApi::HandleConvert(const JsonValue& body) {
  if (config_.converter == nullptr) {
    return ErrorResponse(500, "converter_unavailable", "ConverterService is not configured");
  }
  MixerSettings settings = config_.runtime_state->GetSettings();
  std::optional<HttpResponse> refusal;
  fs::path root = ResolveRequestAudioDir(settings, body, &refusal);
  if (refusal) return *refusal;
  std::vector<fs::path> paths = ReadPathsArray(body);
  if (paths.empty()) {
    return ErrorResponse(400, "path_invalid", "paths must contain at least one file");
  }
  // The kept sources are never edited; converting one would keep it again under
  // "_originals/_originals".
  for (const fs::path& path : paths) {
    if (!root.empty() && IsUnderOriginalsFolder(root, path)) {
      return ErrorResponse(403, "originals_folder_forbidden",
                           "Convert cannot use _originals folders");
    }
  }
  const bool overwrite_existing = body.GetBool("overwrite_existing", false);
  const bool keep_originals = body.GetBool("keep_originals", true);

  std::vector<std::optional<ConvertItemResult>> refused;
  std::vector<fs::path> allowed;
  for (const fs::path& path : paths) {
    refused.push_back(RefuseLinkedOutside(root, path));
    if (!refused.back()) allowed.push_back(path);
  }
  ConvertResult converted;
  std::string error;
  if (!config_.converter->Convert(root, allowed, keep_originals, overwrite_existing, &converted,
                                  &error)) {
    return ErrorResponse(500, "conversion_failed", error.empty() ? "Conversion failed" : error);
  }
  // One item per requested path, in request order.
  ConvertResult result = converted;
  result.results.clear();
  auto next = converted.results.begin();
  for (std::optional<ConvertItemResult>& item : refused) {
    if (item) {
      ++result.failed;
      result.results.push_back(std::move(*item));
    } else if (next != converted.results.end()) {
      result.results.push_back(*next++);
    }
  }

  // The clip chosen when the conversion ends, so that one chosen while it was being converted
  // follows it into its WAV as well; a clip chosen after that is left alone.
  const std::string chosen = config_.runtime_state->GetSettings().file_path;
  std::string selection = chosen;
  for (const ConvertItemResult& item : result.results) {
    if (item.status == "converted" && item.source_path == chosen && !item.target_path.empty()) {
      selection = item.target_path;
      break;
    }
  }
  if (selection != chosen &&
      !config_.runtime_state->MutateSettings(
          [&chosen, &selection](MixerSettings& edited) {
            if (edited.file_path == chosen) edited.file_path = selection;
          },
          /*persist=*/true, &error)) {
    return ErrorResponse(500, "settings_save_failed", error);
  }
  JsonValue reply = BuildConvertResultJson(result);
  reply["alerts"] = BuildAlertsJson();
  return MakeJsonResponse(reply);
}

}  // namespace zennic
