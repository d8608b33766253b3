#include <system_error>

#include "api/http_api.h"
#include "model/mixer_settings_json.h"
#include "core/paths.h"
#include "model/runtime_state.h"
#include "core/text.h"
#include "server/json_envelope.h"
#include "sound_files/sound_inbox_folder.h"
#include "sound_files/sound_inbox_service.h"

namespace zennic {
namespace {

namespace fs = std::filesystem;

constexpr char kInboxFolderName[] = "Ruzerad Inbox";

// The validator's refusal: an overlap with a profile is a conflict, anything else bad input.
HttpResponse FolderRefusal(const std::string& code, const std::string& message) {
  return HttpApi::ErrorResponse(code == "sound_inbox_profile_overlap" ? 409 : 400,
                                code.empty() ? "sound_inbox_folder_invalid" : code,
                                message.empty() ? "Invalid Sound Inbox folder" : message);
}

std::optional<HttpResponse> RefuseFolder(const MixerSettings& settings, const fs::path& folder) {
  std::string code;
  std::string message;
  if (ValidateSoundInboxFolder(settings, folder, &code, &message)) return std::nullopt;
  return FolderRefusal(code, message);
}

// The folder text of a configure request: "folder_path", else "sound_inbox_dir", else what is
// stored.
std::string RequestedFolderText(const JsonValue& body, const MixerSettings& settings) {
  for (const char* key : {"folder_path", "sound_inbox_dir"}) {
    const JsonValue* member = body.Find(key);
    if (member != nullptr && member->type == JsonValue::Type::String) {
      return Trim(member->string_value);
    }
  }
  return settings.sound_inbox_dir;
}

}  // namespace

void HttpApi::RegisterSoundInboxRoutes() {
  routes_.emplace("/api/mixer/sound-inbox/configure",
                  [this](const JsonValue& body) { return HandleSoundInboxConfigure(body); });
  routes_.emplace("/api/mixer/sound-inbox/use-default",
                  [this](const JsonValue& body) { return HandleSoundInboxUseDefault(body); });
  routes_.emplace("/api/mixer/sound-inbox/status",
                  [this](const JsonValue&) { return HandleSoundInboxStatus(); });
}

JsonValue HttpApi::SoundInboxStatusJson(const MixerSettings& settings) const {
  if (config_.sound_inbox_service != nullptr) {
    return BuildSoundInboxStatusJson(config_.sound_inbox_service->GetStatus());
  }
  SoundInboxStatus status;
  status.enabled = settings.sound_inbox_enabled;
  status.watching = settings.sound_inbox_enabled;
  status.folder_path = settings.sound_inbox_dir;
  status.phase = settings.sound_inbox_enabled ? "watching" : "disabled";
  status.message = settings.sound_inbox_enabled ? "Watching folder" : "Sound Inbox is disabled";
  return BuildSoundInboxStatusJson(status);
}

std::optional<HttpResponse> HttpApi::StoreSoundInboxSettings(bool enabled,
                                                             const std::string& folder,
                                                             JsonValue* reply) {
  std::string error;
  bool saved = false;
  const auto choose = [&] {
    bool chosen_now = false;
    saved = config_.runtime_state->MutateSettings(
        [&](MixerSettings& settings) {
          chosen_now = enabled && (!settings.sound_inbox_enabled ||
                                   AbsoluteNormalPath(Utf8ToPath(settings.sound_inbox_dir)) !=
                                       AbsoluteNormalPath(Utf8ToPath(folder)));
          settings.sound_inbox_enabled = enabled;
          settings.sound_inbox_dir = folder;
        },
        true, &error);
    return saved && chosen_now;
  };
  if (config_.sound_inbox_service != nullptr) {
    // The sounds already there were not downloaded for the inbox: only what arrives after this
    // answer is prepared.
    config_.sound_inbox_service->WatchFromNow(Utf8ToPath(folder), choose);
  } else {
    choose();
  }
  if (!saved) {
    return ApiRefusal(500, "settings_save_failed", error, "Failed to save Sound Inbox settings");
  }
  if (config_.sound_inbox_service != nullptr) config_.sound_inbox_service->Wake();
  MixerSettings stored = config_.runtime_state->GetSettings();
  (*reply)["settings"] = MixerSettingsToJson(stored);
  (*reply)["sound_inbox"] = SoundInboxStatusJson(stored);
  return std::nullopt;
}

HttpResponse HttpApi::HandleSoundInboxConfigure(const JsonValue& body) {
  MixerSettings settings = config_.runtime_state->GetSettings();
  const JsonValue* enabled_member = body.Find("enabled");
  bool enabled = enabled_member != nullptr && enabled_member->type == JsonValue::Type::Bool
                     ? enabled_member->bool_value
                     : settings.sound_inbox_enabled;
  std::string folder = RequestedFolderText(body, settings);
  // A switched-off inbox keeps whatever folder it is given; it is checked when switched on.
  if (enabled) {
    if (std::optional<HttpResponse> refusal =
            RefuseFolder(settings, AbsoluteNormalPath(Utf8ToPath(folder)))) {
      return *refusal;
    }
  }
  JsonValue reply = JsonValue::MakeObject();
  if (std::optional<HttpResponse> failure = StoreSoundInboxSettings(enabled, folder, &reply)) {
    return *failure;
  }
  return MakeJsonResponse(reply);
}

HttpResponse HttpApi::HandleSoundInboxUseDefault(const JsonValue& body) {
  const JsonValue* enabled_member = body.Find("enabled");
  bool enabled = enabled_member == nullptr || enabled_member->type != JsonValue::Type::Bool ||
                 enabled_member->bool_value;
  std::string mode = ToLower(Trim(body.GetString("mode", "ruzerad_inbox")));
  if (mode != "downloads" && mode != "ruzerad_inbox") {
    return ErrorResponse(400, "sound_inbox_mode_invalid",
                         "Unknown Sound Inbox default folder mode");
  }

  fs::path downloads =
      AbsoluteNormalPath(config_.known_folder ? config_.known_folder(KnownFolder::Downloads)
                                              : GetKnownFolderPath(KnownFolder::Downloads));
  std::error_code code;
  if (downloads.empty() || !fs::is_directory(downloads, code)) {
    return ErrorResponse(500, "sound_inbox_downloads_unavailable",
                         "Windows Downloads folder is not available");
  }
  fs::path target = downloads;
  if (mode == "ruzerad_inbox") {
    target = downloads / kInboxFolderName;
    fs::file_status own = fs::symlink_status(target, code);
    if (own.type() == fs::file_type::not_found) {
      // Another request may have made it a moment ago; only a folder that is still missing
      // counts as a failure.
      if (!fs::create_directory(target, code) && code) {
        return ErrorResponse(500, "sound_inbox_create_failed",
                             "Could not create Ruzerad Inbox folder: " + code.message());
      }
    } else if (!fs::is_directory(target, code)) {
      return ErrorResponse(409, "sound_inbox_default_conflict",
                           "Ruzerad Inbox path already exists and is not a folder");
    }
  }
  target = AbsoluteNormalPath(target);
  if (std::optional<HttpResponse> refusal =
          RefuseFolder(config_.runtime_state->GetSettings(), target)) {
    return *refusal;
  }

  JsonValue reply = JsonValue::MakeObject();
  if (std::optional<HttpResponse> failure =
          StoreSoundInboxSettings(enabled, WideToUtf8(target), &reply)) {
    return *failure;
  }
  reply["folder_path"] = reply["settings"].GetString("sound_inbox_dir", "");
  reply["enabled"] = reply["settings"].GetBool("sound_inbox_enabled", false);
  reply["mode"] = mode;
  return MakeJsonResponse(reply);
}

HttpResponse HttpApi::HandleSoundInboxStatus() {
  JsonValue reply = JsonValue::MakeObject();
  reply["sound_inbox"] = SoundInboxStatusJson(config_.runtime_state->GetSettings());
  return MakeJsonResponse(reply);
}

}  // namespace zennic
