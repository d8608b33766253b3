#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace zennic {

// A version by Semantic Versioning 2.0.0. Build metadata is checked when parsing and then
// dropped: it never takes part in precedence.
struct SemanticVersion {
  int32_t major = 0;
  int32_t minor = 0;
  int32_t patch = 0;
  std::string prerelease;  // empty when none
};

// Every piece between delimiters, the last one included, empty pieces kept.
std::vector<std::string> SplitString(std::string_view text, char delimiter);

// Dot-separated identifiers of ASCII letters, digits and "-", none empty; a prerelease
// identifier of digits alone has no leading zero.
bool IsValidSemVerIdentifiers(std::string_view text, bool prerelease);

// Surrounding white space is ignored; each core number is at most 2,147,483,647.
bool ParseSemVer(std::string_view text, SemanticVersion* version);

// -1, 0 or 1 by the precedence of two prerelease texts.
int ComparePrerelease(std::string_view a, std::string_view b);

// Negative, zero or positive as `a` is lower than, equal to or higher than `b`.
int CompareVersions(const SemanticVersion& a, const SemanticVersion& b);

}  // namespace zennic
