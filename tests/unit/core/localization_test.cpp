#include "core/localization.h"

#include <gtest/gtest.h>
#include <stdlib.h>

#include <map>
#include <optional>
#include <thread>
#include <vector>

#include "server/embedded_asset_table.h"

namespace zennic {
namespace {

const char* const kSupportedCodes[] = {"en", "de", "fr", "ko", "nl", "sv", "it", "es", "pt",
                                       "pt-BR", "hr", "pl", "cs", "sk", "ru", "zh-CN", "ja",
                                       "tr", "uk", "hu", "ro", "zh-TW", "da", "fi", "no", "el"};

TEST(LanguageTags, RegionalAndScriptTagsReduceToTheSupportedCode) {
  EXPECT_EQ(NormalizeLanguageTag("de_AT"), "de");
  EXPECT_EQ(NormalizeLanguageTag("pt_BR"), "pt-BR");
  EXPECT_EQ(NormalizeLanguageTag("PT-br"), "pt-BR");
  EXPECT_EQ(NormalizeLanguageTag("pt-PT"), "pt");
  EXPECT_EQ(NormalizeLanguageTag("zh_HK"), "zh-TW");
  EXPECT_EQ(NormalizeLanguageTag("zh-MO"), "zh-TW");
  EXPECT_EQ(NormalizeLanguageTag("zh-SG"), "zh-CN");
  EXPECT_EQ(NormalizeLanguageTag("zh-Hant-TW"), "zh-CN");
  EXPECT_EQ(NormalizeLanguageTag("zh"), "zh-CN");
  EXPECT_EQ(NormalizeLanguageTag("nb-NO"), "no");
  EXPECT_EQ(NormalizeLanguageTag("nn"), "no");
  EXPECT_EQ(NormalizeLanguageTag("  FR \t"), "fr");
  EXPECT_EQ(NormalizeLanguageTag("el-GR"), "el");
  EXPECT_EQ(NormalizeLanguageTag("pt-br-x"), "pt");  // only the whole tag "pt-br" is Brazilian
}

TEST(LanguageTags, UnknownOrMalformedTagsGiveEnglish) {
  for (const char* tag : {"sr-Latn-RS", "x", "", "   ", "-", "-de", "dee", "p", "zhx-cn",
                          "\xC3\xA9"}) {
    EXPECT_EQ(NormalizeLanguageTag(tag), "en") << tag;
  }
}

TEST(LanguageTags, EverySupportedCodeIsItsOwnNormalForm) {
  for (const char* code : kSupportedCodes) {
    EXPECT_EQ(NormalizeLanguageTag(code), code);
  }
}

TEST(LanguageTags, UserLanguageComesFromTheLocaleEnvironment) {
  ::unsetenv("LC_ALL");
  ::unsetenv("LC_MESSAGES");
  auto detect = [](const char* lang) {
    ::setenv("LANG", lang, 1);
    return DetectUserLanguage();
  };
  EXPECT_EQ(detect("pt_BR.UTF-8"), "pt-BR");
  EXPECT_EQ(detect("nb_NO.UTF-8"), "no");
  EXPECT_EQ(detect("de_CH.UTF-8@euro"), "de");
  EXPECT_EQ(detect("C.UTF-8"), "en");
  EXPECT_EQ(detect("POSIX"), "en");
  EXPECT_EQ(detect("sr_RS.UTF-8"), "en");
}

// Catalogues of our own, for the failures the real embedded ones cannot show.
class CatalogueRows {
 public:
  void Add(const std::string& code, std::string json) { texts_[code] = std::move(json); }
  void AddWithoutData(const std::string& code) { texts_[code] = std::nullopt; }
  Localization::CatalogueSource source() const {
    return [this](std::string_view code) -> std::optional<std::string_view> {
      auto text = texts_.find(std::string(code));
      if (text == texts_.end() || !text->second) return std::nullopt;
      return std::string_view(*text->second);
    };
  }

 private:
  std::map<std::string, std::optional<std::string>> texts_;
};

std::string InitializeError(const CatalogueRows& rows) {
  Localization localization(rows.source());
  std::string error;
  EXPECT_FALSE(InitializeLocalization(&localization, &error));
  return error;
}

TEST(Localization, StartUpFailsWithoutAUsableEnglishCatalogue) {
  CatalogueRows none;
  none.Add("de", R"({"native.tray.exit": "Beenden"})");
  EXPECT_EQ(InitializeError(none), "Missing embedded i18n asset for en");

  CatalogueRows no_data;
  no_data.AddWithoutData("en");
  EXPECT_EQ(InitializeError(no_data), "Missing embedded i18n asset for en");

  CatalogueRows damaged;
  damaged.Add("en", R"({"native.tray.exit": "Exit",})");
  std::string error = InitializeError(damaged);
  EXPECT_TRUE(error.starts_with("Failed to parse embedded i18n asset en: ")) << error;
  EXPECT_GT(error.size(), std::string("Failed to parse embedded i18n asset en: ").size());

  CatalogueRows not_object;
  not_object.Add("en", R"(["Exit"])");
  EXPECT_EQ(InitializeError(not_object), "Failed to parse embedded i18n asset en: ");

  EXPECT_FALSE(InitializeLocalization(nullptr, nullptr));
}

TEST(Localization, FallsBackFromTheLanguageToEnglishToTheCallersText) {
  CatalogueRows rows;
  rows.Add("en", R"({"a.only_en": "English only", "a.both": "Both in en", "a.empty_de": "From en",
                     "a.number": "Text", "a.blank_en": ""})");
  rows.Add("de", R"({"a.both": "Beide", "a.empty_de": "", "a.number": 3, "a.only_de": "Nur"})");
  Localization localization(rows.source());
  ASSERT_TRUE(InitializeLocalization(&localization, nullptr));

  EXPECT_EQ(localization.Translate("de_DE", "a.both", {}, "fb"), "Beide");
  EXPECT_EQ(localization.Translate("de", "a.only_en", {}, "fb"), "English only");
  EXPECT_EQ(localization.Translate("de", "a.empty_de", {}, "fb"), "From en");
  EXPECT_EQ(localization.Translate("de", "a.number", {}, "fb"), "Text");
  EXPECT_EQ(localization.Translate("de", "a.missing", {}, "fb"), "fb");
  EXPECT_EQ(localization.Translate("de", "a.blank_en", {}, "fb"), "fb");
  EXPECT_EQ(localization.Translate("de", "a.missing", {}, ""), "");
  // A language without a catalogue row, and one that is not supported at all.
  EXPECT_EQ(localization.Translate("fr", "a.both", {}, "fb"), "Both in en");
  EXPECT_EQ(localization.Translate("tlh", "a.both", {}, "fb"), "Both in en");
  EXPECT_EQ(localization.Translate("en", "a.only_de", {}, "fb"), "fb");
}

TEST(Localization, WorksWithoutInitializationAndWithoutEnglish) {
  CatalogueRows rows;
  rows.Add("de", R"({"a.both": "Beide"})");
  Localization localization(rows.source());
  EXPECT_EQ(localization.Translate("de", "a.both", {}, "fb"), "Beide");
  EXPECT_EQ(localization.Translate("de", "a.other", {}, "fb"), "fb");
}

TEST(Localization, AFailedCatalogueIsTriedAgainOnTheNextUse) {
  CatalogueRows rows;
  rows.Add("en", R"({"a.key": "English"})");
  rows.Add("fr", R"({"a.key": )");
  Localization localization(rows.source());
  ASSERT_TRUE(InitializeLocalization(&localization, nullptr));
  EXPECT_EQ(localization.Translate("fr", "a.key", {}, "fb"), "English");
  EXPECT_EQ(localization.Translate("fr", "a.key", {}, "fb"), "English");

  rows.Add("fr", R"({"a.key": "Fran\u00e7ais"})");
  EXPECT_EQ(localization.Translate("fr", "a.key", {}, "fb"), "Fran\xC3\xA7" "ais");

  // Once loaded, a catalogue is kept as it was read.
  rows.Add("fr", R"({"a.key": "Autre"})");
  EXPECT_EQ(localization.Translate("fr", "a.key", {}, "fb"), "Fran\xC3\xA7" "ais");
}

TEST(Localization, PlaceholdersAreFilledByNameInOrder) {
  CatalogueRows rows;
  rows.Add("en", R"({"a.twice": "{{a}} and {{a}}", "a.chain": "{{a}}/{{b}}",
                     "a.spaced": "{{ a }} {{a}} {{missing}}"})");
  Localization localization(rows.source());
  ASSERT_TRUE(InitializeLocalization(&localization, nullptr));

  EXPECT_EQ(localization.Translate("en", "a.twice", {{"a", "x"}}, ""), "x and x");
  // A value holding its own token is not expanded again, and the loop ends.
  EXPECT_EQ(localization.Translate("en", "a.twice", {{"a", "[{{a}}]"}}, ""),
            "[{{a}}] and [{{a}}]");
  // A value inserted for an earlier name is searched for later names' tokens.
  EXPECT_EQ(localization.Translate("en", "a.chain", {{"a", "{{b}}"}, {"b", "B"}}, ""), "B/B");
  EXPECT_EQ(localization.Translate("en", "a.chain", {{"a", ""}}, ""), "/{{b}}");
  EXPECT_EQ(localization.Translate("en", "a.spaced", {{"a", "1"}}, ""), "{{ a }} 1 {{missing}}");
  EXPECT_EQ(localization.Translate("en", "a.absent",
                                   {{"url", "http://127.0.0.1:5123"}},
                                   "Copied {{url}} to the clipboard."),
            "Copied http://127.0.0.1:5123 to the clipboard.");
}

TEST(Localization, ConcurrentCallersEachGetTheirLanguage) {
  Localization localization(EmbeddedCatalogue);
  ASSERT_TRUE(InitializeLocalization(&localization, nullptr));
  const std::string english = localization.Translate("en", "native.tray.exit", {}, "");
  std::vector<std::thread> threads;
  std::vector<std::string> results(std::size(kSupportedCodes));
  for (size_t i = 0; i < std::size(kSupportedCodes); ++i) {
    threads.emplace_back([&, i] {
      for (int round = 0; round < 50; ++round) {
        results[i] = localization.Translate(kSupportedCodes[i], "native.tray.exit", {}, "");
      }
    });
  }
  for (auto& thread : threads) thread.join();
  for (size_t i = 0; i < std::size(kSupportedCodes); ++i) {
    EXPECT_FALSE(results[i].empty()) << kSupportedCodes[i];
    EXPECT_EQ(results[i], localization.Translate(kSupportedCodes[i], "native.tray.exit", {}, ""));
  }
  EXPECT_EQ(results[0], english);
}

}  // namespace
}  // namespace zennic
