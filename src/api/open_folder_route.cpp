// Shows a profile's audio folder in the desktop's file manager, so sounds can be dropped in.

#include "api/audio_folder_rules.h"
#include "api/http_api.h"
#include "model/runtime_state.h"
#include "core/text.h"
#include "server/json_envelope.h"

namespace zennic {
namespace fs = std::filesystem;

void HttpApi::RegisterOpenFolderRoute() {
  routes_.emplace("/api/mixer/open-folder",
                  [this](const JsonValue& body) { return HandleOpenFolder(body); });
}

bool HttpApi::OpenFolder(const std::string& folder, std::string* error) {
  return config_.folder_opener ? config_.folder_opener(folder, error)
                               : OpenFolderInExplorer(folder, error);
}

HttpResponse HttpApi::HandleOpenFolder(const JsonValue& body) {
  std::optional<HttpResponse> refusal;
  fs::path folder = ResolveRequestAudioDir(config_.runtime_state->GetSettings(), body, &refusal);
  if (refusal) return *refusal;
  if (folder.empty()) return ErrorResponse(400, "path_invalid", "Audio folder is not configured");
  // A missing folder is an answer; any other failure to look throws, and the router answers it.
  if (!fs::is_directory(fs::status(folder))) return PathUnavailableResponse(kAudioRootUnavailable);
  std::string utf8_folder = WideToUtf8(folder);
  std::string error;
  if (!OpenFolder(utf8_folder, &error)) {
    return ErrorResponse(500, "open_folder_failed",
                         error.empty() ? "Windows Explorer could not open the selected folder" : error);
  }
  JsonValue reply = JsonValue::MakeObject();
  reply["opened_path"] = utf8_folder;
  return MakeJsonResponse(reply);
}

}  // namespace zennic
