#include "platform/user_locale.h"

#include <gtest/gtest.h>
#include <stdlib.h>

namespace zennic {
namespace {

std::string TagFor(const char* lc_all, const char* lc_messages, const char* lang) {
  auto set = [](const char* name, const char* value) {
    if (value) ::setenv(name, value, 1);
    else ::unsetenv(name);
  };
  set("LC_ALL", lc_all);
  set("LC_MESSAGES", lc_messages);
  set("LANG", lang);
  return UserLocaleTag();
}

TEST(UserLocale, FirstSetVariableWinsWithEncodingAndModifierStripped) {
  EXPECT_EQ(TagFor(nullptr, nullptr, "pt_BR.UTF-8"), "pt-BR");
  EXPECT_EQ(TagFor(nullptr, nullptr, "de_DE@euro"), "de-DE");
  EXPECT_EQ(TagFor(nullptr, nullptr, "sr_RS.UTF-8@latin"), "sr-RS");
  EXPECT_EQ(TagFor(nullptr, "fr_FR.UTF-8", "pt_BR.UTF-8"), "fr-FR");
  EXPECT_EQ(TagFor("ja_JP.UTF-8", "fr_FR.UTF-8", "pt_BR.UTF-8"), "ja-JP");
  EXPECT_EQ(TagFor("", "", "nb_NO.UTF-8"), "nb-NO");
  EXPECT_EQ(TagFor(nullptr, nullptr, "el"), "el");
}

TEST(UserLocale, NoLanguageForTheNeutralLocales) {
  EXPECT_EQ(TagFor(nullptr, nullptr, "C.UTF-8"), "");
  EXPECT_EQ(TagFor(nullptr, nullptr, "C"), "");
  EXPECT_EQ(TagFor("POSIX", nullptr, "de_DE.UTF-8"), "");
  EXPECT_EQ(TagFor(nullptr, nullptr, nullptr), "");
}

}  // namespace
}  // namespace zennic
