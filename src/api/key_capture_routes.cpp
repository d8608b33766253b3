#include "api/http_api.h"
#include "engine/key_binding_service.h"
#include "model/mixer_settings_json.h"
#include "core/text.h"
#include "server/json_envelope.h"

namespace zennic {
namespace {

constexpr int32_t kDefaultCaptureTimeoutMs = 10000;

JsonValue OptionalBindingJson(const std::optional<KeyBinding>& binding) {
  return binding ? KeyBindingToJson(*binding) : JsonValue();
}

JsonValue CaptureJson(const KeyCaptureResult& result) {
  JsonValue reply = JsonValue::MakeObject();
  reply["capture_id"] = result.capture_id;
  reply["expected_binding"] = OptionalBindingJson(result.expected_binding);
  reply["message"] = result.message;
  reply["status"] = result.status;
  reply["target"] = result.target;
  reply["timeout_ms"] = static_cast<double>(result.timeout_ms);
  reply["verify_only"] = result.verify_only;
  return reply;
}

HttpResponse ServiceMissing() {
  return ApiRefusal(500, "keybinding_unavailable", "KeyBindingService is not configured");
}

}  // namespace

void HttpApi::RegisterKeyCaptureRoutes() {
  routes_.emplace("/api/mixer/keycapture/start",
                  [this](const JsonValue& body) { return HandleKeyCaptureStart(body); });
  routes_.emplace("/api/mixer/keycapture/status",
                  [this](const JsonValue& body) { return HandleKeyCaptureStatus(body); });
}

HttpResponse HttpApi::HandleKeyCaptureStart(const JsonValue& body) {
  KeyBindingService* service = config_.key_binding_service;
  if (service == nullptr) return ServiceMissing();
  std::string target = Trim(body.GetString("target", ""));
  // The service bounds the time-out itself.
  int32_t timeout_ms = JsonMemberInt32(body, "timeout_ms").value_or(kDefaultCaptureTimeoutMs);
  bool verify_only = body.GetBool("verify_only", false);
  KeyCaptureResult result;
  std::string error;
  bool started = verify_only ? service->StartKeyVerification(target, timeout_ms, &result, &error)
                             : service->StartKeyCapture(target, timeout_ms, &result, &error);
  if (!started) return ApiRefusal(400, "invalid_capture_target", error);
  return MakeJsonResponse(CaptureJson(result));
}

HttpResponse HttpApi::HandleKeyCaptureStatus(const JsonValue& body) {
  KeyBindingService* service = config_.key_binding_service;
  if (service == nullptr) return ServiceMissing();
  std::string capture_id = Trim(body.GetString("capture_id", ""));
  if (capture_id.empty()) return ApiRefusal(400, "invalid_capture", "capture_id is required");
  KeyCaptureResult result;
  std::string error;
  if (!service->GetKeyCaptureResult(capture_id, &result, &error)) {
    return ApiRefusal(404, "invalid_capture", error);
  }
  JsonValue reply = CaptureJson(result);
  reply["binding"] = OptionalBindingJson(result.binding);
  return MakeJsonResponse(reply);
}

}  // namespace zennic
