#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace zennic {

// True when the Referer is one of the allowed origins, whole or followed by a path, a query
// or a fragment; "http://127.0.0.1:50001" does not pass for port 5000.
bool RefererHasAllowedOrigin(std::string_view referer, const std::vector<std::string>& allowed);

}  // namespace zennic
