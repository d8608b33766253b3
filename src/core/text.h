#pragma once

#include <filesystem>
#include <string>
#include <string_view>

namespace zennic {

// Text is UTF-8 in std::string everywhere; these conversions exist for the few places that
// need wide text or paths. Byte-wise functions touch ASCII only: bytes from 0x80 up are never
// white space or letters and are never changed.

// Malformed sequences become U+FFFD.
std::wstring Utf8ToWide(std::string_view text);
// Strict: an unpaired surrogate or an invalid code point throws std::system_error.
std::string WideToUtf8(const std::wstring& text);
// A file name here may be any bytes. A byte that is not part of well-formed UTF-8 travels as the
// private-use character U+EF00 + byte (U+EF80 to U+EFFF), and so do the bytes of such a
// character in a name, so that the text is always UTF-8 and Utf8ToPath gives back the very
// same bytes.
std::string WideToUtf8(const std::filesystem::path& path);
// Strict: malformed UTF-8 throws std::system_error. U+EF80 to U+EFFF become single bytes again.
std::filesystem::path Utf8ToPath(std::string_view text);
// The bytes as WideToUtf8 writes a path of them.
std::string EscapeStrayBytes(std::string_view bytes);
// Appends one code point (or a lone surrogate, as three bytes) in UTF-8 form.
void AppendUtf8(std::string* out, char32_t code_point);
// True when the bytes form well-formed UTF-8.
bool IsValidUtf8(std::string_view text);

std::string Trim(std::string_view text);
// At most `max_bytes` bytes, cut before a character rather than inside one.
std::string CutUtf8(std::string_view text, size_t max_bytes);
std::string ToLower(std::string_view text);
bool EqualsIgnoreCase(std::string_view a, std::string_view b);
// Lower-cased with every white-space byte removed: "CABLE Input" and "cableinput" match.
std::string NormalizeChoiceKey(std::string_view text);
// ASCII letters and digits lower-cased, runs of anything else as one "-"; never empty.
std::string MakeSlug(std::string_view text);

}  // namespace zennic
