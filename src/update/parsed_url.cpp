#include "update/parsed_url.h"

#include <algorithm>

#include "core/text.h"

namespace zennic {
namespace {

bool Fail(std::string* error, const char* message) {
  if (error != nullptr) *error = message;
  return false;
}

}  // namespace

bool ParseUrl(const std::string& url, ParsedUrl* parsed, std::string* error) {
  if (parsed == nullptr) return Fail(error, "URL output pointer is null");
  std::string text = Trim(url);
  size_t separator = text.find("://");
  if (separator == std::string::npos) return Fail(error, "URL must include a scheme");

  ParsedUrl result;
  result.scheme = ToLower(text.substr(0, separator));
  if (result.scheme == "https") {
    result.port = 443;
  } else if (result.scheme == "http") {
    result.port = 80;
  } else {
    return Fail(error, "URL scheme must be http or https");
  }

  size_t authority_start = separator + 3;
  size_t authority_end = std::min(text.find_first_of("/?#", authority_start), text.size());
  std::string authority = text.substr(authority_start, authority_end - authority_start);
  if (authority.empty() || authority.find('@') != std::string::npos) {
    return Fail(error, "URL host is invalid");
  }
  std::string host = authority;
  if (size_t colon = authority.rfind(':'); colon != std::string::npos) {
    std::string port_text = authority.substr(colon + 1);
    bool digits = std::all_of(port_text.begin(), port_text.end(),
                              [](char c) { return c >= '0' && c <= '9'; });
    if (port_text.empty() || !digits) {
      return Fail(error, "URL port is invalid");
    }
    // Capped while it is read, so any number of digits stays in range of the check.
    uint32_t port = 0;
    for (char c : port_text) {
      port = std::min<uint32_t>(port * 10 + static_cast<uint32_t>(c - '0'), 65536);
    }
    if (port < 1 || port > 65535) return Fail(error, "URL port is out of range");
    result.port = static_cast<uint16_t>(port);
    host = authority.substr(0, colon);
  }
  result.host = ToLower(host);
  if (result.host.empty()) return Fail(error, "URL host is empty");

  if (authority_end < text.size()) {
    result.path_and_query = text.substr(authority_end);
    if (result.path_and_query.front() != '/') result.path_and_query.insert(0, "/");
  }
  result.path = result.path_and_query.substr(0, result.path_and_query.find_first_of("?#"));
  *parsed = std::move(result);
  return true;
}

}  // namespace zennic
