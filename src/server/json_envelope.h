#pragma once

#include <string>

#include "core/json_value.h"
#include "server/http_message.h"

namespace zennic {

// The one envelope of every API answer. A success is the handler's object with "ok": true and
// status 200; a failure is {"code", "details", "error", "ok": false} with the caller's status.

HttpResponse MakeJsonErrorResponse(int status, const std::string& code, const std::string& message,
                                   const JsonValue& details);
HttpResponse MakeJsonResponse(const JsonValue& object);
// A fresh response holding only the JSON content type and the value, indented by two.
HttpResponse SetJsonBody(int status, const JsonValue& value);

// An empty body reads as an empty object; anything but an object is refused.
bool ParseJsonBody(const HttpRequest& request, JsonValue* out, std::string* error);

}  // namespace zennic
