#include "server/json_envelope.h"

namespace zennic {
namespace {

// No route takes anywhere near this many values, and the tree of a body stays a few MiB at
// most, whatever its size.
constexpr size_t kMaxBodyValues = 16384;

}  // namespace

HttpResponse MakeJsonErrorResponse(int status, const std::string& code, const std::string& message,
                                   const JsonValue& details) {
  JsonValue object = JsonValue::MakeObject();
  object["ok"] = false;
  object["error"] = message;
  object["code"] = code;
  object["details"] = details;
  return SetJsonBody(status, object);
}

HttpResponse MakeJsonResponse(const JsonValue& object) {
  JsonValue copy = object;
  copy["ok"] = true;
  return SetJsonBody(200, copy);
}

HttpResponse SetJsonBody(int status, const JsonValue& value) {
  HttpResponse response;
  response.status = status;
  response.headers["Content-Type"] = "application/json; charset=utf-8";
  response.body = value.Serialize(2, /*utf8_only=*/true);
  return response;
}

bool ParseJsonBody(const HttpRequest& request, JsonValue* out, std::string* error) {
  if (out == nullptr) {
    if (error) *error = "JSON body output pointer is null";
    return false;
  }
  if (request.body.empty()) {
    *out = JsonValue::MakeObject();
    return true;
  }
  // Anything but an object is refused before it costs a parse.
  size_t first = request.body.find_first_not_of(" \t\n\r\v\f");
  if (first != std::string::npos && request.body[first] != '{') {
    if (error) *error = "JSON body must be an object";
    return false;
  }
  JsonValue parsed;
  JsonParseRules rules;
  rules.require_utf8 = true;
  rules.max_values = kMaxBodyValues;
  if (!JsonValue::Parse(request.body, &parsed, error, rules)) return false;
  if (parsed.type != JsonValue::Type::Object) {
    if (error) *error = "JSON body must be an object";
    return false;
  }
  *out = std::move(parsed);
  return true;
}

}  // namespace zennic
