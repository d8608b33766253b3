#pragma once

#include <map>
#include <string>
#include <string_view>

#include "server/http_message.h"

namespace zennic {

class RuntimeState;

// One page or asset as it is served.
struct ServedAsset {
  std::string content_type;
  std::string body;
  bool no_store = true;
};

// The content type for a path's extension, ignoring case; "application/octet-stream" when
// the extension is not one the web client uses.
std::string ContentTypeForPath(std::string_view path);

// The static routes: the three pages, every file under "/assets/" and the "/help" redirect.
// Every page or asset reply carries the run's session cookie.
class EmbeddedWebAssets {
 public:
  // `runtime_state` holds the session token; without one no cookie is issued.
  EmbeddedWebAssets(std::string cookie_name, RuntimeState* runtime_state);

  // Copies the embedded table into the store; never fails.
  bool Load(std::string* error);

  // True when the request was answered here. Only GET is served; a path under "/assets/"
  // or a page that the store lacks is answered 404 without a cookie. Safe from any thread
  // once loaded.
  bool Serve(const HttpRequest& request, HttpResponse* response) const;

 private:
  void IssueSessionCookie(HttpResponse* response) const;

  std::map<std::string, ServedAsset, std::less<>> assets_;
  std::string cookie_name_;
  RuntimeState* runtime_state_;
};

}  // namespace zennic
