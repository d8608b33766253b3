#include "api/http_api.h"

#include "server/json_envelope.h"
#include "update/update_service.h"

namespace zennic {

void HttpApi::RegisterUpdateCheckRoute() {
  routes_.emplace("/api/mixer/update/check",
                  [this](const JsonValue&) { return HandleUpdateCheck(); });
}

// An unreachable or unusable manifest is an answer, not a failure: it is reported in the
// result with status 200.
HttpResponse HttpApi::HandleUpdateCheck() {
  if (config_.update_service == nullptr) {
    return MakeJsonErrorResponse(500, "update_service_unavailable",
                                 "UpdateService is not configured", JsonValue::MakeObject());
  }
  UpdateResult result;
  std::string error;
  if (!config_.update_service->CheckForUpdates(&result, &error)) {
    return MakeJsonErrorResponse(500, "update_check_failed",
                                 error.empty() ? "Update check failed" : error,
                                 JsonValue::MakeObject());
  }
  return MakeJsonResponse(UpdateResultToJson(result));
}

}  // namespace zennic
