#include "api/base64_decode.h"

namespace zennic {
namespace {

// The 6-bit value of an alphabet character, -1 for padding, -2 for anything else.
int SextetOf(char c) {
  if (c >= 'A' && c <= 'Z') return c - 'A';
  if (c >= 'a' && c <= 'z') return c - 'a' + 26;
  if (c >= '0' && c <= '9') return c - '0' + 52;
  if (c == '+') return 62;
  if (c == '/') return 63;
  if (c == '=') return -1;
  return -2;
}

bool IsSkippedSpace(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; }

}  // namespace

bool Base64Decode(std::string_view text, std::string* bytes) {
  if (bytes == nullptr) return false;
  bytes->clear();
  bytes->reserve(text.size() / 4 * 3);
  int group[4];
  int filled = 0;
  for (char c : text) {
    if (IsSkippedSpace(c)) continue;
    int sextet = SextetOf(c);
    if (sextet == -2) return false;
    group[filled++] = sextet;
    if (filled < 4) continue;
    filled = 0;
    // The first two always carry data; padding may only end the group.
    if (group[0] < 0 || group[1] < 0 || (group[2] < 0 && group[3] >= 0)) return false;
    bytes->push_back(static_cast<char>((group[0] << 2) | (group[1] >> 4)));
    if (group[2] < 0) continue;
    bytes->push_back(static_cast<char>(((group[1] & 0xF) << 4) | (group[2] >> 2)));
    if (group[3] < 0) continue;
    bytes->push_back(static_cast<char>(((group[2] & 0x3) << 6) | group[3]));
  }
  return filled == 0;
}

}  // namespace zennic
