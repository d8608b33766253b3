#pragma once

#include <string>
#include <string_view>

namespace zennic {

// Standard Base64 (RFC 4648, "+" and "/", "=" padding), white space anywhere skipped. Groups of
// four; a padded group may be followed by more groups. False for any other character or a group
// left incomplete at the end.
bool Base64Decode(std::string_view text, std::string* bytes);

}  // namespace zennic
