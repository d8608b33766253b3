#include "core/text.h"

#include <cerrno>
#include <system_error>

namespace zennic {
namespace {

constexpr char32_t kReplacementCharacter = 0xFFFD;
// U+EF80 to U+EFFF stand for the bytes 0x80 to 0xFF of a name that is not UTF-8.
constexpr char32_t kStrayByteBase = 0xEF00;

bool IsStrayByteCharacter(char32_t code_point) {
  return code_point >= kStrayByteBase + 0x80 && code_point <= kStrayByteBase + 0xFF;
}

bool IsAsciiSpace(char c) {
  return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
}

bool IsContinuationByte(char c) { return (static_cast<unsigned char>(c) & 0xC0) == 0x80; }

char AsciiLower(char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c; }

bool IsAsciiAlnum(char c) {
  return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9');
}

// Decodes one well-formed UTF-8 sequence at `pos`; false when the bytes there are malformed
// (overlong forms, surrogates and values above U+10FFFF included).
bool DecodeUtf8(std::string_view text, size_t* pos, char32_t* code_point) {
  auto byte = [&](size_t i) { return static_cast<unsigned char>(text[i]); };
  unsigned char lead = byte(*pos);
  if (lead < 0x80) {
    *code_point = lead;
    ++*pos;
    return true;
  }
  size_t length = 0;
  char32_t value = 0;
  char32_t minimum = 0;
  if ((lead & 0xE0) == 0xC0) {
    length = 2;
    value = lead & 0x1F;
    minimum = 0x80;
  } else if ((lead & 0xF0) == 0xE0) {
    length = 3;
    value = lead & 0x0F;
    minimum = 0x800;
  } else if ((lead & 0xF8) == 0xF0) {
    length = 4;
    value = lead & 0x07;
    minimum = 0x10000;
  } else {
    return false;
  }
  if (text.size() - *pos < length) return false;
  for (size_t i = 1; i < length; ++i) {
    unsigned char next = byte(*pos + i);
    if ((next & 0xC0) != 0x80) return false;
    value = (value << 6) | (next & 0x3F);
  }
  if (value < minimum || value > 0x10FFFF || (value >= 0xD800 && value <= 0xDFFF)) return false;
  *code_point = value;
  *pos += length;
  return true;
}

[[noreturn]] void ThrowIllegalSequence() {
  throw std::system_error(std::make_error_code(std::errc::illegal_byte_sequence));
}

}  // namespace

void AppendUtf8(std::string* out, char32_t code_point) {
  if (code_point < 0x80) {
    out->push_back(static_cast<char>(code_point));
  } else if (code_point < 0x800) {
    out->push_back(static_cast<char>(0xC0 | (code_point >> 6)));
    out->push_back(static_cast<char>(0x80 | (code_point & 0x3F)));
  } else if (code_point < 0x10000) {
    out->push_back(static_cast<char>(0xE0 | (code_point >> 12)));
    out->push_back(static_cast<char>(0x80 | ((code_point >> 6) & 0x3F)));
    out->push_back(static_cast<char>(0x80 | (code_point & 0x3F)));
  } else {
    out->push_back(static_cast<char>(0xF0 | (code_point >> 18)));
    out->push_back(static_cast<char>(0x80 | ((code_point >> 12) & 0x3F)));
    out->push_back(static_cast<char>(0x80 | ((code_point >> 6) & 0x3F)));
    out->push_back(static_cast<char>(0x80 | (code_point & 0x3F)));
  }
}

std::wstring Utf8ToWide(std::string_view text) {
  std::wstring result;
  result.reserve(text.size());
  size_t pos = 0;
  while (pos < text.size()) {
    char32_t code_point = 0;
    if (DecodeUtf8(text, &pos, &code_point)) {
      result.push_back(static_cast<wchar_t>(code_point));
    } else {
      result.push_back(static_cast<wchar_t>(kReplacementCharacter));
      ++pos;
    }
  }
  return result;
}

std::string WideToUtf8(const std::wstring& text) {
  std::string result;
  result.reserve(text.size());
  for (size_t i = 0; i < text.size(); ++i) {
    char32_t unit = static_cast<char32_t>(text[i]);
    // A 16-bit wide string may carry surrogate pairs; a 32-bit one carries code points.
    if (unit >= 0xD800 && unit <= 0xDBFF && i + 1 < text.size()) {
      char32_t low = static_cast<char32_t>(text[i + 1]);
      if (low >= 0xDC00 && low <= 0xDFFF) {
        AppendUtf8(&result, 0x10000 + ((unit - 0xD800) << 10) + (low - 0xDC00));
        ++i;
        continue;
      }
    }
    if ((unit >= 0xD800 && unit <= 0xDFFF) || unit > 0x10FFFF) ThrowIllegalSequence();
    AppendUtf8(&result, unit);
  }
  return result;
}

std::string WideToUtf8(const std::filesystem::path& path) {
  return EscapeStrayBytes(path.native());
}

std::string EscapeStrayBytes(std::string_view bytes) {
  std::string text;
  text.reserve(bytes.size());
  size_t pos = 0;
  while (pos < bytes.size()) {
    const size_t start = pos;
    char32_t code_point = 0;
    if (DecodeUtf8(bytes, &pos, &code_point) && !IsStrayByteCharacter(code_point)) {
      text.append(bytes.substr(start, pos - start));
      continue;
    }
    // A malformed sequence, or a character that would read back as a stray byte: each of its
    // bytes on its own.
    if (pos == start) pos = start + 1;
    for (size_t i = start; i < pos; ++i) {
      AppendUtf8(&text, kStrayByteBase + static_cast<unsigned char>(bytes[i]));
    }
  }
  return text;
}

std::filesystem::path Utf8ToPath(std::string_view text) {
  std::string bytes;
  bytes.reserve(text.size());
  size_t pos = 0;
  while (pos < text.size()) {
    const size_t start = pos;
    char32_t code_point = 0;
    if (!DecodeUtf8(text, &pos, &code_point)) ThrowIllegalSequence();
    if (IsStrayByteCharacter(code_point)) {
      bytes.push_back(static_cast<char>(code_point - kStrayByteBase));
    } else {
      bytes.append(text.substr(start, pos - start));
    }
  }
  return std::filesystem::path(std::move(bytes));
}

bool IsValidUtf8(std::string_view text) {
  size_t pos = 0;
  char32_t ignored = 0;
  while (pos < text.size()) {
    if (!DecodeUtf8(text, &pos, &ignored)) return false;
  }
  return true;
}

std::string Trim(std::string_view text) {
  size_t first = 0;
  while (first < text.size() && IsAsciiSpace(text[first])) ++first;
  size_t last = text.size();
  while (last > first && IsAsciiSpace(text[last - 1])) --last;
  return std::string(text.substr(first, last - first));
}

std::string CutUtf8(std::string_view text, size_t max_bytes) {
  if (text.size() <= max_bytes) return std::string(text);
  size_t cut = max_bytes;
  // A character is at most four bytes, so at most three continuation bytes lie before a cut.
  for (int step = 0; step < 3 && cut > 0 && IsContinuationByte(text[cut]); ++step) --cut;
  return std::string(text.substr(0, cut));
}

std::string ToLower(std::string_view text) {
  std::string result(text);
  for (char& c : result) c = AsciiLower(c);
  return result;
}

bool EqualsIgnoreCase(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i) {
    if (AsciiLower(a[i]) != AsciiLower(b[i])) return false;
  }
  return true;
}

std::string NormalizeChoiceKey(std::string_view text) {
  std::string result;
  result.reserve(text.size());
  for (char c : text) {
    if (!IsAsciiSpace(c)) result.push_back(AsciiLower(c));
  }
  return result;
}

std::string MakeSlug(std::string_view text) {
  std::string slug;
  bool last_was_separator = false;
  for (char c : text) {
    if (IsAsciiAlnum(c)) {
      slug.push_back(AsciiLower(c));
      last_was_separator = false;
    } else if (!slug.empty() && !last_was_separator) {
      slug.push_back('-');
      last_was_separator = true;
    }
  }
  while (!slug.empty() && slug.back() == '-') slug.pop_back();
  return slug.empty() ? "default" : slug;
}

}  // namespace zennic
