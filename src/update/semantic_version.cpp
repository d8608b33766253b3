#include "update/semantic_version.h"

#include <algorithm>
#include <limits>

#include "core/text.h"

namespace zennic {
namespace {

bool IsAsciiDigit(char c) { return c >= '0' && c <= '9'; }

bool IsAllDigits(std::string_view text) {
  return !text.empty() && std::all_of(text.begin(), text.end(), IsAsciiDigit);
}

bool IsIdentifierCharacter(char c) {
  return IsAsciiDigit(c) || (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || c == '-';
}

// A core number: digits only, no leading zero, within 32 bits.
bool ParseCoreNumber(std::string_view text, int32_t* value) {
  if (!IsAllDigits(text) || (text.size() > 1 && text.front() == '0')) return false;
  int64_t number = 0;
  for (char c : text) {
    number = number * 10 + (c - '0');
    if (number > std::numeric_limits<int32_t>::max()) return false;
  }
  *value = static_cast<int32_t>(number);
  return true;
}

int Sign(int value) { return (value > 0) - (value < 0); }

// Numeric identifiers of any length: the one with more significant digits is higher, equal
// lengths compare as text.
int CompareNumericIdentifiers(std::string_view a, std::string_view b) {
  a.remove_prefix(std::min(a.find_first_not_of('0'), a.size()));
  b.remove_prefix(std::min(b.find_first_not_of('0'), b.size()));
  if (a.size() != b.size()) return a.size() < b.size() ? -1 : 1;
  return Sign(a.compare(b));
}

}  // namespace

std::vector<std::string> SplitString(std::string_view text, char delimiter) {
  std::vector<std::string> pieces;
  size_t start = 0;
  for (size_t end; (end = text.find(delimiter, start)) != std::string_view::npos; start = end + 1) {
    pieces.emplace_back(text.substr(start, end - start));
  }
  pieces.emplace_back(text.substr(start));
  return pieces;
}

bool IsValidSemVerIdentifiers(std::string_view text, bool prerelease) {
  if (text.empty()) return false;
  for (const std::string& identifier : SplitString(text, '.')) {
    if (identifier.empty() ||
        !std::all_of(identifier.begin(), identifier.end(), IsIdentifierCharacter)) {
      return false;
    }
    if (prerelease && IsAllDigits(identifier) && identifier.size() > 1 &&
        identifier.front() == '0') {
      return false;
    }
  }
  return true;
}

bool ParseSemVer(std::string_view text, SemanticVersion* version) {
  if (version == nullptr) return false;
  std::string trimmed = Trim(text);
  std::string_view rest = trimmed;
  if (rest.empty()) return false;
  if (size_t plus = rest.find('+'); plus != std::string_view::npos) {
    if (!IsValidSemVerIdentifiers(rest.substr(plus + 1), false)) return false;
    rest = rest.substr(0, plus);
  }
  std::string_view prerelease;
  if (size_t dash = rest.find('-'); dash != std::string_view::npos) {
    prerelease = rest.substr(dash + 1);
    if (!IsValidSemVerIdentifiers(prerelease, true)) return false;
    rest = rest.substr(0, dash);
  }
  std::vector<std::string> core = SplitString(rest, '.');
  SemanticVersion parsed;
  if (core.size() != 3 || !ParseCoreNumber(core[0], &parsed.major) ||
      !ParseCoreNumber(core[1], &parsed.minor) || !ParseCoreNumber(core[2], &parsed.patch)) {
    return false;
  }
  parsed.prerelease = std::string(prerelease);
  *version = std::move(parsed);
  return true;
}

int ComparePrerelease(std::string_view a, std::string_view b) {
  std::vector<std::string> left = SplitString(a, '.');
  std::vector<std::string> right = SplitString(b, '.');
  for (size_t i = 0; i < std::min(left.size(), right.size()); ++i) {
    bool left_numeric = IsAllDigits(left[i]);
    bool right_numeric = IsAllDigits(right[i]);
    int order;
    if (left_numeric && right_numeric) {
      order = CompareNumericIdentifiers(left[i], right[i]);
    } else if (left_numeric != right_numeric) {
      order = left_numeric ? -1 : 1;
    } else {
      order = Sign(left[i].compare(right[i]));
    }
    if (order != 0) return order;
  }
  if (left.size() == right.size()) return 0;
  return left.size() < right.size() ? -1 : 1;
}

int CompareVersions(const SemanticVersion& a, const SemanticVersion& b) {
  if (a.major != b.major) return a.major < b.major ? -1 : 1;
  if (a.minor != b.minor) return a.minor < b.minor ? -1 : 1;
  if (a.patch != b.patch) return a.patch < b.patch ? -1 : 1;
  if (a.prerelease.empty() || b.prerelease.empty()) {
    return static_cast<int>(a.prerelease.empty()) - static_cast<int>(b.prerelease.empty());
  }
  return ComparePrerelease(a.prerelease, b.prerelease);
}

}  // namespace zennic
