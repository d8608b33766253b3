#include "server/http_message.h"

#include "core/text.h"

namespace zennic {

std::string FindHeader(const HttpRequest& request, std::string_view name) {
  for (const auto& [stored_name, value] : request.headers) {
    if (EqualsIgnoreCase(stored_name, name)) return value;
  }
  return std::string();
}

std::string_view ReasonPhraseForStatus(int status) {
  switch (status) {
    case 200: return "OK";
    case 302: return "Found";
    case 400: return "Bad Request";
    case 403: return "Forbidden";
    case 404: return "Not Found";
    case 405: return "Method Not Allowed";
    case 409: return "Conflict";
    case 413: return "Content Too Large";
    case 421: return "Misdirected Request";
    case 500: return "Internal Server Error";
    case 501: return "Not Implemented";
    // A status without a phrase of its own goes out with none, which HTTP allows, rather than
    // with one that says the request succeeded.
    default: return "";
  }
}

std::string SerializeResponseHead(const HttpResponse& response) {
  std::string head = "HTTP/1.1 " + std::to_string(response.status) + " ";
  head += ReasonPhraseForStatus(response.status);
  head += "\r\n";
  bool has_content_type = false;
  bool has_content_length = false;
  for (const auto& [name, value] : response.headers) {
    head += name + ": " + value + "\r\n";
    has_content_type = has_content_type || EqualsIgnoreCase(name, "Content-Type");
    has_content_length = has_content_length || EqualsIgnoreCase(name, "Content-Length");
  }
  if (!has_content_type) head += "Content-Type: text/plain; charset=utf-8\r\n";
  if (!has_content_length) {
    head += "Content-Length: " + std::to_string(response.body.size()) + "\r\n";
  }
  head += "Connection: close\r\n\r\n";
  return head;
}

}  // namespace zennic
