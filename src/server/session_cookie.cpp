#include "server/session_cookie.h"

#include "core/text.h"
#include "platform/secure_random.h"

namespace zennic {
namespace {

constexpr size_t kTokenBytes = 16;

// Takes as long for a near miss as for a wild guess.
bool EqualInConstantTime(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  unsigned char difference = 0;
  for (size_t i = 0; i < a.size(); ++i) {
    difference |= static_cast<unsigned char>(a[i] ^ b[i]);
  }
  return difference == 0;
}

}  // namespace

std::string GenerateSessionToken() {
  unsigned char bytes[kTokenBytes];
  if (!FillSecureRandom(bytes, sizeof bytes)) return std::string();
  static constexpr char kHex[] = "0123456789abcdef";
  std::string token;
  token.reserve(2 * kTokenBytes);
  for (unsigned char byte : bytes) {
    token.push_back(kHex[byte >> 4]);
    token.push_back(kHex[byte & 0x0F]);
  }
  return token;
}

void BuildSessionSetCookie(const std::string& name, const std::string& token,
                           HttpResponse* response) {
  if (response == nullptr) return;
  response->headers["Set-Cookie"] = name + "=" + token + "; Path=/; HttpOnly; SameSite=Strict";
}

std::optional<std::string> ReadRequestCookie(const HttpRequest& request, std::string_view name) {
  std::string header = FindHeader(request, "Cookie");
  std::string_view rest = header;
  while (!rest.empty()) {
    size_t semicolon = rest.find(';');
    std::string_view piece = rest.substr(0, semicolon);
    rest = semicolon == std::string_view::npos ? std::string_view() : rest.substr(semicolon + 1);
    size_t equals = piece.find('=');
    if (equals == std::string_view::npos) continue;
    if (Trim(piece.substr(0, equals)) == name) return Trim(piece.substr(equals + 1));
  }
  return std::nullopt;
}

bool HasValidSessionCookie(const HttpRequest& request, std::string_view name,
                           std::string_view expected_token) {
  if (expected_token.empty()) return false;
  std::optional<std::string> value = ReadRequestCookie(request, name);
  return value.has_value() && EqualInConstantTime(*value, expected_token);
}

}  // namespace zennic
