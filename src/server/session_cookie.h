#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "server/http_message.h"

namespace zennic {

// The per-run session: the first page of a run gets a random token as a cookie, and the API
// accepts only requests that carry it back. A restart makes every earlier cookie worthless.

// 16 random bytes as 32 lower-case hex digits; empty when the system's random source fails
// (no weaker token is ever made).
std::string GenerateSessionToken();

// Sets "Set-Cookie" to `name`=`token` for the whole site, hidden from scripts, never sent
// cross-site, and gone when the browser closes.
void BuildSessionSetCookie(const std::string& name, const std::string& token,
                           HttpResponse* response);

// The first cookie of the "Cookie" header whose name equals `name` exactly.
std::optional<std::string> ReadRequestCookie(const HttpRequest& request, std::string_view name);

// False whenever `expected_token` is empty.
bool HasValidSessionCookie(const HttpRequest& request, std::string_view name,
                           std::string_view expected_token);

}  // namespace zennic
