#include "api/audio_folder_rules.h"

#include <algorithm>
#include <cerrno>

#include "api/http_api.h"
#include "api/path_style.h"
#include "core/json_value.h"
#include "model/mixer_settings_json.h"
#include "core/paths.h"
#include "model/profile_service.h"
#include "core/text.h"
#include "platform/file_sync.h"
#include "sound_files/analyzer_service.h"

namespace zennic {
namespace fs = std::filesystem;

namespace {

constexpr char kResolvesOutside[] =
    "The requested path resolves outside the active profile audio folder";

// The members whose text the routes take as a path or a file name.
bool NamesAPath(std::string_view key) {
  return key == "path" || key == "paths" || key == "dir" || key == "folder_name" ||
         key.ends_with("_path") || key.ends_with("_dir") || key.ends_with("filename");
}

bool HoldsNulInPath(const JsonValue& value, bool path_text) {
  switch (value.type) {
    case JsonValue::Type::String:
      return path_text && value.string_value.find('\0') != std::string::npos;
    case JsonValue::Type::Array:
      return std::any_of(
          value.array_value.begin(), value.array_value.end(),
          [&](const JsonValue& element) { return HoldsNulInPath(element, path_text); });
    case JsonValue::Type::Object:
      return std::any_of(value.object_value.begin(), value.object_value.end(),
                         [](const auto& member) {
                           return HoldsNulInPath(member.second, NamesAPath(member.first));
                         });
    default:
      return false;
  }
}

}  // namespace

std::optional<HttpResponse> RefuseNulInPaths(const JsonValue& body) {
  if (!HoldsNulInPath(body, false)) return std::nullopt;
  return HttpApi::ErrorResponse(400, "path_invalid",
                                "Paths and file names cannot contain NUL characters");
}

bool IsInsideAudioRoot(const fs::path& path, const fs::path& root) {
  if (root.empty()) return false;
  return PathTextInsideRoot(AbsoluteNormalPath(path).string(), AbsoluteNormalPath(root).string(),
                            kNativePathStyle);
}

bool IsOriginalsFolder(const fs::path& path) { return IsOriginalsName(path.filename().string()); }

bool IsUnderOriginalsFolder(const fs::path& root, const fs::path& path) {
  fs::path relative = AbsoluteNormalPath(path).lexically_relative(AbsoluteNormalPath(root));
  return PathHasOriginalsComponent(relative);
}

bool PathHasOriginalsComponent(const fs::path& relative) {
  return PathTextHasOriginalsComponent(relative.string(), kNativePathStyle);
}

bool PathHasParentComponent(const fs::path& path) {
  return PathTextHasParentComponent(path.string(), kNativePathStyle);
}

std::string RelativeUtf8Path(const fs::path& root, const fs::path& path) {
  if (root.empty()) return WideToUtf8(path.filename());
  std::error_code path_error;
  std::error_code root_error;
  fs::path resolved_path = fs::weakly_canonical(path, path_error);
  fs::path resolved_root = fs::weakly_canonical(root, root_error);
  if (path_error || root_error) return WideToUtf8(path.filename());
  return WideToUtf8(resolved_path.lexically_relative(resolved_root));
}

bool SamePathIgnoreCase(const fs::path& a, const fs::path& b) {
  return SamePathText(AbsoluteNormalPath(a).string(), AbsoluteNormalPath(b).string(),
                      kNativePathStyle);
}

bool SettingPathRefersTo(const std::string& value, const fs::path& path) {
  if (Trim(value).empty()) return false;
  return SamePathIgnoreCase(Utf8ToPath(value), path);
}

bool IsExistingFolder(const fs::path& folder) {
  std::error_code code;
  return fs::is_directory(folder, code);
}

std::optional<HttpResponse> RequireExistingAudioRoot(const fs::path& root) {
  if (root.empty()) return HttpApi::ErrorResponse(400, "path_invalid", kAudioRootNotConfigured);
  if (!IsExistingFolder(root)) return HttpApi::PathUnavailableResponse(kAudioRootUnavailable);
  return std::nullopt;
}

std::optional<HttpResponse> RefuseTakenPath(const fs::path& path, const std::string& what,
                                            const HttpResponse& taken) {
  std::error_code code;
  fs::file_status status = fs::symlink_status(path, code);
  if (code && code != std::errc::no_such_file_or_directory) {
    return HttpApi::ErrorResponse(409, "path_unavailable",
                                  what + " could not be checked: " + code.message());
  }
  if (fs::exists(status)) return taken;
  return std::nullopt;
}

std::optional<HttpResponse> CheckFileToEdit(const fs::path& root, const fs::path& path,
                                            const std::string& originals_message,
                                            bool require_sound_extension) {
  if (!IsInsideAudioRoot(path, root)) {
    return HttpApi::ErrorResponse(403, "path_outside_root", kFileOutsideRoot);
  }
  if (IsUnderOriginalsFolder(root, path)) {
    return HttpApi::ErrorResponse(403, "originals_folder_forbidden", originals_message);
  }
  std::error_code code;
  fs::file_status status = fs::status(path, code);
  if (code && code != std::errc::no_such_file_or_directory) {
    return HttpApi::ErrorResponse(409, "path_unavailable",
                                  "Selected file could not be checked: " + code.message());
  }
  if (!fs::exists(status)) {
    return HttpApi::ErrorResponse(404, "file_not_found", "Selected file does not exist");
  }
  if (!fs::is_regular_file(status)) {
    return HttpApi::ErrorResponse(400, "path_invalid", "The requested path is not a file");
  }
  if (require_sound_extension && !IsSupportedAudioExtension(path)) {
    return HttpApi::ErrorResponse(409, "file_unsupported",
                                  "Selected file is not playable in the current build");
  }
  std::string reason;
  if (!HttpApi::ResolvePathInsideActiveRoot(path, root, &reason)) {
    return HttpApi::ErrorResponse(403, "path_outside_root", reason);
  }
  return std::nullopt;
}

HttpResponse ConfinementRefusal(int error_number) {
  if (error_number == ELOOP || error_number == ENOTDIR) {
    return HttpApi::ErrorResponse(403, "path_outside_root", kResolvesOutside);
  }
  return HttpApi::PathUnavailableResponse("The requested file or folder is no longer available: " +
                                          SystemErrorText(error_number));
}

bool HttpApi::ResolvePathInsideActiveRoot(const fs::path& path, const fs::path& root,
                                          std::string* reason) {
  std::error_code code;
  fs::path resolved_root = fs::canonical(root, code);
  if (code) {
    if (reason) {
      *reason = "The active profile audio folder is no longer available: " + code.message();
    }
    return false;
  }
  fs::path resolved_path = fs::canonical(path, code);
  if (code) {
    if (reason) *reason = "The requested file or folder is no longer available: " + code.message();
    return false;
  }
  if (!IsInsideAudioRoot(resolved_path, resolved_root)) {
    if (reason) *reason = kResolvesOutside;
    return false;
  }
  return true;
}

fs::path HttpApi::ResolveRequestAudioDir(const MixerSettings& settings, const JsonValue& body,
                                         std::optional<HttpResponse>* refusal) const {
  std::string dir = ReadJsonString(body, "dir");
  if (!dir.empty()) return AbsoluteNormalPath(Utf8ToPath(dir));
  std::string profile_id = ReadJsonString(body, "profile_id");
  if (profile_id.empty()) return ProfileService::ActiveAudioDirectory(settings);
  const Profile* profile = ProfileService::FindProfile(settings, profile_id);
  if (profile == nullptr) {
    if (refusal) *refusal = ErrorResponse(404, "invalid_profile", "Profile not found");
    return {};
  }
  return AbsoluteNormalPath(Utf8ToPath(profile->audio_dir));
}

}  // namespace zennic
