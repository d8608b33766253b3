#pragma once

#include <map>
#include <string>
#include <string_view>

namespace zennic {

// One parsed request. Header names keep their case, so "Cookie" and "cookie" are two entries;
// read headers through FindHeader.
struct HttpRequest {
  std::string method;                         // as received, not validated
  std::string path;                           // the target before any "?"; "/" when empty
  std::map<std::string, std::string> headers;  // later duplicates overwrite earlier ones
  std::string body;
  // The head was refused and its announced body never read: the body above is not the
  // client's, and no route may run on it.
  bool body_skipped = false;
};

// What every handler returns; headers are written in map order.
struct HttpResponse {
  int status = 200;
  std::map<std::string, std::string> headers;
  std::string body;
};

// The value of the first header, in map order, whose name equals `name` ignoring case; empty
// when there is none.
std::string FindHeader(const HttpRequest& request, std::string_view name);

std::string_view ReasonPhraseForStatus(int status);

// Status line and headers, ending with the empty line. Adds a plain-text Content-Type and the
// body's Content-Length when the handler set none, and always "Connection: close": every
// connection carries exactly one request.
std::string SerializeResponseHead(const HttpResponse& response);

}  // namespace zennic
