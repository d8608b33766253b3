#pragma once

#include <cstdint>
#include <string>

namespace zennic {

// The parts of an http or https address that the update checker needs.
struct ParsedUrl {
  std::string scheme;                // lower case
  std::string host;                  // lower case
  uint16_t port = 443;               // the scheme's port unless the address names one
  std::string path_and_query = "/";  // always begins with "/"
  std::string path = "/";            // without query and fragment
};

// Refuses user information before an "@" in the authority, so the host read here is the
// host a client would connect to.
bool ParseUrl(const std::string& url, ParsedUrl* parsed, std::string* error);

}  // namespace zennic
