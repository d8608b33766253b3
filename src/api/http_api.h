#pragma once

#include <cstdint>
#include <exception>
#include <functional>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "model/json_value.h"
#include "server/http_message.h"
#include "server/http_request_handler.h"

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
class HttpApi : public HttpRequestHandler {
 public:
  // Every route takes at most 1 MiB of body, but the trim export, whose one long string may
  // hold a whole clip.
  static constexpr size_t kMaxBodyBytes = 1 << 20;
  static constexpr size_t kMaxTrimExportBodyBytes = 256 << 20;

  explicit HttpApi(HttpApiConfig config);

  // False when the path is not under "/api/mixer/" (the response is untouched); otherwise the
  // answer is in `response`. The gates and the dispatch in one step.
  bool HandleRequest(const HttpRequest& request, HttpResponse* response);

  // The gates that the head alone decides, so a refused request never has its body read.
  HttpHeadVerdict DecideOnHead(const HttpRequest& head) const override;
  // The body's gate and the dispatch, for a request whose head was told to read its body.
  HttpResponse HandleWholeRequest(const HttpRequest& request) override;
  // Decided by the path alone, before the body is read.
  static size_t MaxBodyBytes(std::string_view path);

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
