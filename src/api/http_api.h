#pragma once

#include <cstdint>
#include <exception>
#include <functional>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "model/json_value.h"
#include "server/http_message.h"

namespace zennic {

class RuntimeState;

// What the API works with; filled by the host and taken over by the API.
struct HttpApiConfig {
  RuntimeState* runtime_state = nullptr;
  std::string session_cookie_name;
  // The port the server really listens on; empty or 0 means 5000.
  std::function<uint16_t()> server_port;
};

// Answers every request under "/api/mixer/": the gates in a fixed order (method, runtime
// state, Origin and Referer, session cookie, JSON body), then an exact-path dispatch. Every
// answer is the JSON envelope. Called from many connection threads at once; the router keeps
// no state between requests.
class HttpApi {
 public:
  explicit HttpApi(HttpApiConfig config);

  // False when the path is not under "/api/mixer/" (the response is untouched); otherwise the
  // answer is in `response`.
  bool HandleRequest(const HttpRequest& request, HttpResponse* response);

  // True when the request's head alone passes every gate before the body's, so its body is
  // worth reading. The server asks this before it reads a body, so a refused request never
  // makes it buffer one.
  bool AcceptsRequestHead(const HttpRequest& head) const;

  static std::vector<std::string> AllowedOrigins(uint16_t port);
  // Passes a request that names no origin at all, and one whose Origin and Referer both name
  // the local web client on `port`.
  static bool IsAllowedOrigin(const HttpRequest& request, uint16_t port);

  // 500 "handler_exception".
  static HttpResponse HandlerExceptionResponse(const std::string& message);
  // 409 "path_unavailable".
  static HttpResponse PathUnavailableResponse(const std::string& detail);
  // The answer for what a handler threw: a vanished file or folder is 409, anything else 500.
  static HttpResponse ExceptionResponse(std::exception_ptr thrown);

 private:
  using RouteHandler = std::function<HttpResponse(const JsonValue& body)>;

  std::optional<HttpResponse> RefusalOfHead(const HttpRequest& request) const;
  uint16_t ServerPort() const;
  HttpResponse Dispatch(const std::string& path, const JsonValue& body);

  HttpApiConfig config_;
  // Exact paths; each family of routes adds its own.
  std::map<std::string, RouteHandler, std::less<>> routes_;
};

}  // namespace zennic
