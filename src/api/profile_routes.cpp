#include "api/http_api.h"
#include "model/mixer_settings_json.h"
#include "model/profile_service.h"
#include "core/text.h"
#include "server/json_envelope.h"

namespace zennic {
namespace {

// Every request key of these routes is a string; anything else counts as empty.
std::string TrimmedKey(const JsonValue& body, const char* key) {
  return Trim(ReadJsonString(body, key));
}

JsonValue BuildProfilesJson(const std::vector<Profile>& profiles) {
  JsonValue array = JsonValue::MakeArray();
  for (const Profile& profile : profiles) array.PushBack(ProfileToJson(profile));
  return array;
}

JsonValue ActiveProfileJson(const ProfileResult& result) {
  return result.active_profile ? ProfileToJson(*result.active_profile) : JsonValue::MakeObject();
}

// The service's refusal with the status its code calls for on this route; other codes are 500.
HttpResponse ProfileRefusal(const ProfileError& error,
                            std::initializer_list<std::pair<const char*, int>> statuses) {
  int status = 500;
  for (const auto& [code, code_status] : statuses) {
    if (error.code == code) status = code_status;
  }
  return HttpApi::ErrorResponse(status, error.code, error.message);
}

}  // namespace

void HttpApi::RegisterProfileRoutes() {
  routes_.emplace("/api/mixer/profiles/upsert",
                  [this](const JsonValue& body) { return HandleProfilesUpsert(body); });
  routes_.emplace("/api/mixer/profiles/delete",
                  [this](const JsonValue& body) { return HandleProfilesDelete(body); });
  routes_.emplace("/api/mixer/profiles/select",
                  [this](const JsonValue& body) { return HandleProfilesSelect(body); });
}

std::optional<HttpResponse> HttpApi::RefuseWithoutProfileService() const {
  if (config_.profile_service != nullptr) return std::nullopt;
  return ErrorResponse(500, "profile_service_unavailable", "ProfileService is not configured");
}

HttpResponse HttpApi::HandleProfilesUpsert(const JsonValue& body) {
  if (std::optional<HttpResponse> refusal = RefuseWithoutProfileService()) return *refusal;
  ProfileResult result;
  ProfileError error;
  if (!config_.profile_service->Upsert(TrimmedKey(body, "id"), TrimmedKey(body, "name"),
                                       TrimmedKey(body, "audio_dir"), &result, &error)) {
    return ProfileRefusal(error, {{"duplicate_profile_name", 409}, {"path_invalid", 400}});
  }
  JsonValue reply = JsonValue::MakeObject();
  reply["profile"] = ActiveProfileJson(result);
  reply["profiles"] = BuildProfilesJson(result.settings.profiles);
  reply["selected_profile_id"] = result.settings.selected_profile_id;
  reply["file_cleared"] = result.file_cleared;
  return MakeJsonResponse(reply);
}

HttpResponse HttpApi::HandleProfilesDelete(const JsonValue& body) {
  if (std::optional<HttpResponse> refusal = RefuseWithoutProfileService()) return *refusal;
  ProfileResult result;
  ProfileError error;
  if (!config_.profile_service->Delete(TrimmedKey(body, "id"), &result, &error)) {
    return ProfileRefusal(error, {{"cannot_delete_last_profile", 409}, {"invalid_profile", 404}});
  }
  JsonValue reply = JsonValue::MakeObject();
  reply["profiles"] = BuildProfilesJson(result.settings.profiles);
  reply["selected_profile_id"] = result.settings.selected_profile_id;
  return MakeJsonResponse(reply);
}

HttpResponse HttpApi::HandleProfilesSelect(const JsonValue& body) {
  if (std::optional<HttpResponse> refusal = RefuseWithoutProfileService()) return *refusal;
  ProfileResult result;
  ProfileError error;
  if (!config_.profile_service->Select(TrimmedKey(body, "id"), &result, &error)) {
    return ProfileRefusal(error, {{"invalid_profile", 404}});
  }
  JsonValue reply = JsonValue::MakeObject();
  reply["selected_profile_id"] = result.settings.selected_profile_id;
  reply["profile"] = ActiveProfileJson(result);
  reply["file_cleared"] = result.file_cleared;
  reply["files"] = BuildFileListJson(ProfileService::ActiveAudioDirectory(result.settings),
                                     result.settings.file_path);
  return MakeJsonResponse(reply);
}

}  // namespace zennic
