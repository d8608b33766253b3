#include "core/text.h"

#include <gtest/gtest.h>

#include <system_error>

namespace zennic {
namespace {

TEST(Text, TrimLowerAndCompareTouchAsciiOnly) {
  EXPECT_EQ(Trim(" \t x y \r\n"), "x y");
  EXPECT_EQ(Trim("   "), "");
  EXPECT_EQ(Trim("\v\fa\v\f"), "a");
  EXPECT_EQ(ToLower("AbC \xC3\x84"), "abc \xC3\x84");
  EXPECT_TRUE(EqualsIgnoreCase("CABLE Input", "cable input"));
  EXPECT_TRUE(EqualsIgnoreCase("", ""));
  EXPECT_FALSE(EqualsIgnoreCase("\xC3\x84", "\xC3\xA4"));
  EXPECT_FALSE(EqualsIgnoreCase("abc", "abcd"));
  EXPECT_EQ(NormalizeChoiceKey(" Deep  Voice "), "deepvoice");
  EXPECT_EQ(NormalizeChoiceKey("CABLE Input"), NormalizeChoiceKey("cableinput"));
}

TEST(Text, CutUtf8StopsBeforeACharacterThatWouldCrossTheLimit) {
  EXPECT_EQ(CutUtf8("abc", 5), "abc");
  EXPECT_EQ(CutUtf8("abcdef", 3), "abc");
  EXPECT_EQ(CutUtf8("a\xC3\xA9", 2), "a");              // two-byte letter
  EXPECT_EQ(CutUtf8("a\xE2\x82\xAC", 3), "a");          // three-byte sign
  EXPECT_EQ(CutUtf8("a\xF0\x9F\x98\x80" "b", 4), "a");      // four-byte emoji
  EXPECT_EQ(CutUtf8("a\xF0\x9F\x98\x80" "b", 5), "a\xF0\x9F\x98\x80");
  EXPECT_EQ(CutUtf8("\xE2\x82\xAC", 0), "");
}

TEST(Text, SlugsCollapseSeparatorsAndNeverComeOutEmpty) {
  EXPECT_EQ(MakeSlug("My Profile!"), "my-profile");
  EXPECT_EQ(MakeSlug("--A--B--"), "a-b");
  EXPECT_EQ(MakeSlug("!!!"), "default");
  EXPECT_EQ(MakeSlug(""), "default");
  EXPECT_EQ(MakeSlug("Caf\xC3\xA9"), "caf");
  EXPECT_EQ(MakeSlug("Caf\xC3\xA9 Sounds"), "caf-sounds");
  EXPECT_EQ(MakeSlug("\xC3\x9Cn\xC3\xAF" "c\xC3\xB6" "d\xC3\xA9"), "n-c-d");
}

TEST(Text, Utf8ToWideReplacesMalformedBytes) {
  EXPECT_EQ(Utf8ToWide("\xC3\xA9"), std::wstring(1, L'\u00E9'));
  EXPECT_EQ(Utf8ToWide("\xE9"), std::wstring(1, static_cast<wchar_t>(0xFFFD)));
  EXPECT_EQ(Utf8ToWide("a\xE9z"), (std::wstring{L'a', static_cast<wchar_t>(0xFFFD), L'z'}));
  EXPECT_EQ(Utf8ToWide("\xF0\x9F\x98\x80"), std::wstring(1, static_cast<wchar_t>(0x1F600)));
  // Overlong forms and encoded surrogates are malformed too.
  EXPECT_EQ(Utf8ToWide("\xC0\xAF")[0], static_cast<wchar_t>(0xFFFD));
  EXPECT_EQ(Utf8ToWide("\xED\xA0\xBD")[0], static_cast<wchar_t>(0xFFFD));
  EXPECT_EQ(Utf8ToWide(""), L"");
}

TEST(Text, StrictConversionsThrowOnInvalidInput) {
  EXPECT_THROW(Utf8ToPath("\xE9"), std::system_error);
  EXPECT_THROW(Utf8ToPath("\xED\xA0\xBD"), std::system_error);
  EXPECT_EQ(Utf8ToPath("Sounds/Caf\xC3\xA9.wav").string(), "Sounds/Caf\xC3\xA9.wav");
  EXPECT_THROW(WideToUtf8(std::wstring(1, static_cast<wchar_t>(0xD800))), std::system_error);
  EXPECT_EQ(WideToUtf8(std::wstring{static_cast<wchar_t>(0xD83D), static_cast<wchar_t>(0xDE00)}),
            "\xF0\x9F\x98\x80");
  EXPECT_EQ(WideToUtf8(Utf8ToWide("\xE2\x82\xAC x")), "\xE2\x82\xAC x");
}

// Any bytes a name may hold on this system travel as UTF-8 text and come back unchanged.
TEST(Text, EveryFileNameRoundTripsThroughText) {
  struct Case {
    std::string bytes;
    std::string text;
  };
  for (const Case& c : std::vector<Case>{
           {"Caf\xC3\xA9.wav", "Caf\xC3\xA9.wav"},
           {"caf\xE9.wav", "caf\xEE\xBF\xA9.wav"},                 // Latin-1 "é": U+EFE9
           {"a\xF0\x9F.wav", "a\xEE\xBF\xB0\xEE\xBE\x9F.wav"},   // a cut 4-byte sequence
           {"\xED\xA0\xBD", "\xEE\xBF\xAD\xEE\xBE\xA0\xEE\xBE\xBD"},  // an encoded surrogate
           {"\xEE\xBE\x80", "\xEE\xBF\xAE\xEE\xBE\xBE\xEE\xBE\x80"},  // U+EF80 itself
           {"\xEE\xBD\xBF", "\xEE\xBD\xBF"},  // U+EF7F stands for no byte
       }) {
    const std::string text = WideToUtf8(std::filesystem::path(c.bytes));
    EXPECT_EQ(text, c.text) << c.bytes;
    EXPECT_TRUE(IsValidUtf8(text)) << c.bytes;
    EXPECT_EQ(Utf8ToPath(text).native(), c.bytes) << c.bytes;
  }
}

}  // namespace
}  // namespace zennic
