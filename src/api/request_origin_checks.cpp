// The origin gate: any page open in the user's browser can send requests to the loopback
// port, so a request that a browser marks as coming from elsewhere is refused.

#include "api/request_origin_checks.h"

#include "api/http_api.h"
#include "core/text.h"

namespace zennic {

std::vector<std::string> HttpApi::AllowedOrigins(uint16_t port) {
  std::string decimal = std::to_string(port);
  return {"http://127.0.0.1:" + decimal, "http://localhost:" + decimal};
}

bool HttpApi::IsAllowedOrigin(const HttpRequest& request, uint16_t port) {
  std::string origin = Trim(FindHeader(request, "Origin"));
  std::string referer = Trim(FindHeader(request, "Referer"));
  if (origin.empty() && referer.empty()) return true;
  std::vector<std::string> allowed = AllowedOrigins(port);
  if (!origin.empty()) {
    bool listed = false;
    for (const std::string& candidate : allowed) listed = listed || EqualsIgnoreCase(origin, candidate);
    if (!listed) return false;
  }
  return referer.empty() || RefererHasAllowedOrigin(referer, allowed);
}

bool RefererHasAllowedOrigin(std::string_view referer, const std::vector<std::string>& allowed) {
  std::string trimmed = Trim(referer);
  for (const std::string& origin : allowed) {
    if (trimmed.size() < origin.size()) continue;
    if (!EqualsIgnoreCase(std::string_view(trimmed).substr(0, origin.size()), origin)) continue;
    if (trimmed.size() == origin.size()) return true;
    char next = trimmed[origin.size()];
    if (next == '/' || next == '?' || next == '#') return true;
  }
  return false;
}

}  // namespace zennic
