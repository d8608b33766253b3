// How loud the loudest sample of each requested clip is, and whether normalising is advised.

#include "api/audio_folder_rules.h"
#include "api/http_api.h"
#include "model/mixer_settings_json.h"
#include "core/paths.h"
#include "model/profile_service.h"
#include "model/runtime_state.h"
#include "core/text.h"
#include "server/json_envelope.h"
#include "sound_files/analyzer_service.h"

namespace zennic {
namespace fs = std::filesystem;
namespace {

// A verdict this route makes for a file it could not measure.
AnalyzerVolumeHealth ErrorVerdict(const fs::path& root, const fs::path& path,
                                  const std::string& code) {
  AnalyzerVolumeHealth verdict;
  verdict.path = WideToUtf8(path);
  verdict.relative_path = RelativeUtf8Path(root, path);
  verdict.error_code = code;
  return verdict;
}

// "path" first, then each usable element of "paths"; a refusal when "paths" is not a list.
std::optional<HttpResponse> ReadRequestedFiles(const JsonValue& body,
                                               std::vector<fs::path>* files) {
  std::string single = Trim(ReadJsonString(body, "path"));
  if (!single.empty()) files->push_back(AbsoluteNormalPath(Utf8ToPath(single)));
  const JsonValue* many = body.Find("paths");
  if (many != nullptr && many->type != JsonValue::Type::Array) {
    return HttpApi::ErrorResponse(400, "path_invalid", "paths must be an array of file paths");
  }
  if (many != nullptr) {
    for (const JsonValue& element : many->array_value) {
      if (element.type == JsonValue::Type::String && !Trim(element.string_value).empty()) {
        files->push_back(AbsoluteNormalPath(Utf8ToPath(element.string_value)));
      }
    }
  }
  if (files->empty()) {
    return HttpApi::ErrorResponse(400, "path_invalid",
                                  "path or paths must contain at least one file");
  }
  return std::nullopt;
}

}  // namespace

HttpResponse HttpApi::HandleFilesVolumeHealth(const JsonValue& body) {
  if (config_.analyzer == nullptr) {
    return ErrorResponse(500, "analyzer_unavailable", "AnalyzerService is not configured");
  }
  fs::path root = ProfileService::ActiveAudioDirectory(config_.runtime_state->GetSettings());
  if (std::optional<HttpResponse> refusal = RequireExistingAudioRoot(root)) return *refusal;
  std::vector<fs::path> files;
  if (std::optional<HttpResponse> refusal = ReadRequestedFiles(body, &files)) return *refusal;

  JsonValue verdicts = JsonValue::MakeArray();
  for (const fs::path& path : files) {
    if (!IsInsideAudioRoot(path, root)) {
      return ErrorResponse(403, "path_outside_root", kFileOutsideRoot);
    }
    if (IsUnderOriginalsFolder(root, path)) {
      return ErrorResponse(403, "originals_folder_forbidden",
                           "Volume health cannot use _originals folders");
    }
    std::error_code code;
    fs::file_status status = fs::status(path, code);
    if (code && code != std::errc::no_such_file_or_directory) {
      return ErrorResponse(409, "path_unavailable",
                           "Selected file could not be checked: " + code.message());
    }
    std::string error_code;
    if (!fs::exists(status)) {
      error_code = "file_not_found";
    } else if (!fs::is_regular_file(status)) {
      error_code = "path_invalid";
    } else {
      std::string reason;
      if (!ResolvePathInsideActiveRoot(path, root, &reason)) {
        return ErrorResponse(403, "path_outside_root", reason);
      }
      if (!IsSupportedAudioExtension(path)) error_code = "file_unsupported";
    }

    AnalyzerVolumeHealth verdict;
    std::string error;
    if (!error_code.empty()) {
      verdict = ErrorVerdict(root, path, error_code);
    } else if (!config_.analyzer->CheckVolumeHealth(root, path, &verdict, &error)) {
      verdict =
          ErrorVerdict(root, path, error.empty() ? "volume_health_failed" : "file_decode_failed");
    } else {
      if (verdict.path.empty()) verdict.path = WideToUtf8(path);
      if (verdict.relative_path.empty()) verdict.relative_path = RelativeUtf8Path(root, path);
    }
    verdicts.PushBack(BuildVolumeHealthJson(verdict));
  }
  JsonValue reply = JsonValue::MakeObject();
  reply["root_dir"] = WideToUtf8(root);
  reply["files"] = std::move(verdicts);
  return MakeJsonResponse(reply);
}

}  // namespace zennic
