#include "api/http_api.h"

#include <filesystem>

#include "api/audio_folder_rules.h"
#include "engine/mixer_engine.h"
#include "model/runtime_state.h"
#include "core/text.h"
#include "platform/default_handler.h"
#include "server/json_envelope.h"
#include "server/session_cookie.h"

namespace zennic {
namespace {

constexpr std::string_view kApiPrefix = "/api/mixer/";
constexpr uint16_t kDefaultPort = 5000;

HttpResponse Refusal(int status, const std::string& code, const std::string& message) {
  return MakeJsonErrorResponse(status, code, message, JsonValue::MakeObject());
}

}  // namespace

HttpResponse ApiRefusal(int status, const std::string& code, const std::string& message,
                        const char* fallback) {
  return Refusal(status, code, message.empty() ? std::string(fallback) : message);
}

HttpResponse AudioSetupRequiredResponse(const std::string& message, const std::string& reason) {
  JsonValue body = JsonValue::MakeObject();
  body["ok"] = false;
  body["setup_required"] = true;
  body["code"] = "audio_setup_required";
  body["message"] = message;
  body["error"] = message;
  body["details"] = JsonValue::MakeObject();
  body["details"]["reason"] = reason;
  return SetJsonBody(409, body);
}

JsonValue BuildStringArrayJson(const std::vector<std::string>& texts) {
  JsonValue array = JsonValue::MakeArray();
  for (const std::string& text : texts) array.PushBack(text);
  return array;
}

bool OpenFolderInExplorer(const std::string& folder, std::string* error) {
  auto fail = [error](const char* text) {
    if (error != nullptr) *error = text;
    return false;
  };
  if (folder.empty()) return fail("Audio folder is not configured");
  if (!OpenFolderInFileManager(Utf8ToPath(folder), nullptr)) {
    return fail("Windows Explorer could not open the selected folder");
  }
  if (error != nullptr) error->clear();
  return true;
}

HttpApi::HttpApi(HttpApiConfig config) : config_(std::move(config)) {
  RegisterAudioManagementRoutes();
  RegisterDeviceListRoute();
  RegisterKeyCaptureRoutes();
  RegisterMixerControlRoutes();
  RegisterMixerStartStopRoutes();
  RegisterStatusRoute();
  RegisterVoiceTestRoutes();
  RegisterSoundLibraryRoutes();
  RegisterUpdateCheckRoute();
  RegisterSettingsRoutes();
  RegisterProfileRoutes();
  RegisterSoundInboxRoutes();
  RegisterSoundLinkRoute();
  RegisterNativePickerRoutes();
  RegisterOpenFolderRoute();
  RegisterSetupCheckRoute();
  RegisterSetupFixRoutes();
  if (config_.game_voice_path_verifier == nullptr) {
    owned_game_voice_path_verifier_ = CreateGameVoicePathVerifier();
    config_.game_voice_path_verifier = owned_game_voice_path_verifier_.get();
  }
  if (config_.microphone_signal_verifier == nullptr) {
    owned_microphone_signal_verifier_ = CreateMicrophoneSignalVerifier();
    config_.microphone_signal_verifier = owned_microphone_signal_verifier_.get();
  }
}

uint16_t HttpApi::ServerPort() const {
  uint16_t port = config_.server_port ? config_.server_port() : 0;
  return port == 0 ? kDefaultPort : port;
}

std::optional<HttpResponse> HttpApi::RefusalOfHead(const HttpRequest& request) const {
  bool method_allowed = request.method == "POST" ||
                        (request.method == "DELETE" && request.path == "/api/mixer/files/delete");
  if (!method_allowed) {
    return Refusal(405, "method_not_allowed",
                   "Only POST is supported for mixer API routes, except DELETE "
                   "/api/mixer/files/delete");
  }
  if (config_.runtime_state == nullptr) {
    return Refusal(500, "runtime_unavailable", "Runtime state is not configured");
  }
  if (!IsAllowedOrigin(request, ServerPort())) {
    return Refusal(403, "origin_not_allowed",
                   "Mixer API requests must originate from the local Ruzerad UI on the active "
                   "localhost port");
  }
  if (!HasValidSessionCookie(request, config_.session_cookie_name,
                             config_.runtime_state->GetSessionToken())) {
    return Refusal(403, "session_required", "A valid localhost session cookie is required");
  }
  return std::nullopt;
}

size_t HttpApi::MaxBodyBytes(std::string_view path) {
  return path == "/api/mixer/trim/export" ? kMaxTrimExportBodyBytes : kMaxBodyBytes;
}

HttpHeadVerdict HttpApi::DecideOnHead(const HttpRequest& head) const {
  HttpHeadVerdict verdict;
  if (!head.path.starts_with(kApiPrefix)) return verdict;
  if (std::optional<HttpResponse> refusal = RefusalOfHead(head)) {
    verdict.kind = HttpHeadVerdict::Kind::Answered;
    verdict.answer = std::move(*refusal);
    return verdict;
  }
  verdict.kind = HttpHeadVerdict::Kind::ReadBody;
  verdict.max_body_bytes = MaxBodyBytes(head.path);
  return verdict;
}

HttpResponse HttpApi::HandleWholeRequest(const HttpRequest& request) {
  // Its head passed on inputs that may have changed since; dispatching it with an empty body
  // would run the route on a body the client never meant.
  if (request.body_skipped) {
    return Refusal(400, "invalid_http_request", "The request body was not read");
  }
  JsonValue body;
  std::string error;
  if (!ParseJsonBody(request, &body, &error)) return Refusal(400, "invalid_json", error);
  if (std::optional<HttpResponse> refusal = RefuseNulInPaths(body)) return *refusal;
  return Dispatch(request.path, body);
}

bool HttpApi::HandleRequest(const HttpRequest& request, HttpResponse* response) {
  if (response == nullptr) return false;
  HttpHeadVerdict verdict = DecideOnHead(request);
  switch (verdict.kind) {
    case HttpHeadVerdict::Kind::NotMine:
      return false;
    case HttpHeadVerdict::Kind::Answered:
      *response = std::move(verdict.answer);
      return true;
    case HttpHeadVerdict::Kind::ReadBody:
      *response = HandleWholeRequest(request);
      return true;
  }
  return false;
}

HttpResponse HttpApi::Dispatch(const std::string& path, const JsonValue& body) {
  auto route = routes_.find(path);
  if (route == routes_.end()) return Refusal(404, "route_not_found", "Mixer route not found");
  try {
    return route->second(body);
  } catch (...) {
    return ExceptionResponse(std::current_exception());
  }
}

bool HttpApi::EnumerateDevices(MixerDeviceList* devices, bool* enumerated, std::string* error) {
  *devices = MixerDeviceList{};
  *enumerated = true;
  if (config_.device_enumeration) return config_.device_enumeration(devices, error);
  if (config_.mixer_engine != nullptr) return config_.mixer_engine->ListDevices(devices, error);
  *enumerated = false;
  return true;
}

HttpResponse HttpApi::HandlerExceptionResponse(const std::string& message) {
  return Refusal(500, "handler_exception",
                 message.empty() ? "The local request handler failed unexpectedly" : message);
}

HttpResponse HttpApi::ErrorResponse(int status, const std::string& code,
                                    const std::string& message) {
  return Refusal(status, code, message);
}

HttpResponse HttpApi::BinaryResponse(const std::string& content_type, std::string bytes) {
  HttpResponse response;
  response.headers["Content-Type"] = content_type;
  response.headers["Cache-Control"] = "no-store";
  response.body = std::move(bytes);
  return response;
}

HttpResponse HttpApi::PathUnavailableResponse(const std::string& detail) {
  return Refusal(409, "path_unavailable",
                 detail.empty() ? "The selected file or folder is no longer available. Pick "
                                  "another location and try again."
                                : detail);
}

HttpResponse HttpApi::ExceptionResponse(std::exception_ptr thrown) {
  try {
    std::rethrow_exception(thrown);
  } catch (const std::filesystem::filesystem_error& error) {
    return PathUnavailableResponse(
        std::string("The selected file or folder is no longer available. Pick another location "
                    "and try again. ") +
        error.what());
  } catch (const std::exception& error) {
    return HandlerExceptionResponse(error.what());
  } catch (...) {
    return HandlerExceptionResponse("The local request handler failed unexpectedly");
  }
}

}  // namespace zennic
