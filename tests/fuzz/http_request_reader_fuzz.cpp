// Feeds arbitrary bytes to the request reader the way a connection does, in pieces whose size
// the first byte chooses, and reads the outcome the way the server and the router do.

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "server/http_request_reader.h"
#include "server/json_envelope.h"
#include "server/session_cookie.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size == 0) return 0;
  size_t piece = data[0] == 0 ? 2048 : data[0];
  std::string_view bytes(reinterpret_cast<const char*>(data) + 1, size - 1);

  zennic::HttpRequestReader reader;
  using Stage = zennic::HttpRequestReader::Stage;
  for (size_t i = 0; i < bytes.size(); i += piece) {
    Stage stage = reader.Add(bytes.substr(i, piece));
    if (stage == Stage::Failed || stage == Stage::Complete) break;
  }

  const zennic::HttpRequest& request = reader.request();
  switch (reader.stage()) {
    case Stage::Failed:
      if (reader.error().empty()) std::abort();
      return 0;
    case Stage::Head:
      return 0;
    case Stage::Body:
    case Stage::Complete:
      if (request.path.empty() || request.method.empty()) std::abort();
      if (request.path.find('?') != std::string::npos) std::abort();
      if (request.body.size() > reader.body_length()) std::abort();
      break;
  }
  if (reader.stage() == Stage::Complete && request.body.size() != reader.body_length()) {
    std::abort();
  }
  zennic::HasValidSessionCookie(request, "zennic_session", "0123456789abcdef0123456789abcdef");
  zennic::JsonValue body;
  zennic::ParseJsonBody(request, &body, nullptr);
  return 0;
}
