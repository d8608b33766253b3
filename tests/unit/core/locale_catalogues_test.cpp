// The shipped catalogues, as the program embeds them: a translation that drops a key or garbles
// a placeholder would otherwise only show up as an English or broken text on someone's screen.
#include <gtest/gtest.h>

#include <map>
#include <regex>
#include <set>

#include "core/localization.h"
#include "core/json_value.h"
#include "server/embedded_asset_table.h"

namespace zennic {
namespace {

constexpr std::string_view kCataloguePrefix = "/assets/i18n/";
constexpr std::string_view kCatalogueSuffix = ".json";

using Catalogue = std::map<std::string, std::string>;

// Code to catalogue, for every embedded "/assets/i18n/<code>.json".
std::map<std::string, Catalogue> EmbeddedCatalogues() {
  std::map<std::string, Catalogue> catalogues;
  for (const EmbeddedAsset& asset : GetEmbeddedAssets()) {
    std::string_view path = asset.path;
    if (!path.starts_with(kCataloguePrefix) || !path.ends_with(kCatalogueSuffix)) continue;
    std::string code(path.substr(kCataloguePrefix.size(),
                                 path.size() - kCataloguePrefix.size() - kCatalogueSuffix.size()));
    JsonValue root;
    std::string error;
    std::string_view text(reinterpret_cast<const char*>(asset.data), asset.length);
    EXPECT_TRUE(JsonValue::Parse(text, &root, &error)) << code << ": " << error;
    EXPECT_EQ(root.type, JsonValue::Type::Object) << code;
    Catalogue& catalogue = catalogues[code];
    for (const auto& [key, value] : root.object_value) {
      EXPECT_EQ(value.type, JsonValue::Type::String) << code << " " << key;
      EXPECT_FALSE(value.string_value.empty()) << code << " " << key;
      catalogue[key] = value.string_value;
    }
  }
  return catalogues;
}

// The placeholder names of a text; fails the test on a brace that belongs to no placeholder.
std::multiset<std::string> Placeholders(const std::string& text, const std::string& where) {
  static const std::regex kPlaceholder(R"(\{\{([A-Za-z0-9_]+)\}\})");
  std::multiset<std::string> names;
  for (auto match = std::sregex_iterator(text.begin(), text.end(), kPlaceholder);
       match != std::sregex_iterator(); ++match) {
    names.insert((*match)[1]);
  }
  size_t braces = 0;
  for (char c : text) braces += (c == '{' || c == '}');
  EXPECT_EQ(braces, names.size() * 4) << "stray or malformed brace in " << where << ": " << text;
  return names;
}

TEST(LocaleCatalogues, OneForEachSupportedLanguage) {
  auto catalogues = EmbeddedCatalogues();
  EXPECT_EQ(catalogues.size(), 26u);
  for (const auto& [code, catalogue] : catalogues) {
    EXPECT_EQ(NormalizeLanguageTag(code), code) << "catalogue of an unsupported language";
  }
}

TEST(LocaleCatalogues, EnglishHoldsEveryNativeTextWithItsPlaceholders) {
  const std::map<std::string, std::multiset<std::string>> native_keys = {
      {"native.tray.open_ui", {}},
      {"native.tray.copy_url", {}},
      {"native.tray.setup_guide", {}},
      {"native.tray.about", {}},
      {"native.tray.exit", {}},
      {"native.tray.startup_balloon_title", {}},
      {"native.tray.startup_balloon_message", {}},
      {"native.tray.startup_balloon_message_no_tray", {"url"}},
      {"native.tray.copy_url_balloon", {"url"}},
      {"native.about.title", {}},
      {"native.about.body", {"version"}},
      {"native.welcome.title", {}},
      {"native.welcome.body_intro", {}},
      {"native.welcome.body_outro", {}},
      {"native.welcome.body_intro_no_tray", {}},
      {"native.welcome.body_outro_no_tray", {}},
      {"native.welcome.copy_button", {}},
      {"native.welcome.ok_button", {}},
      {"native.welcome.checkbox", {}},
      {"native.welcome.fallback_prefix", {}},
      {"native.welcome.fallback_suffix", {}},
      {"native.port_warning.title", {}},
      {"native.port_warning.message", {"requested_port", "url"}},
      {"native.port_warning.message_no_tray", {"requested_port", "url"}},
      {"native.port_warning.balloon_message", {"requested_port", "effective_port"}},
      {"native.audio_recovery.title", {}},
      {"native.audio_recovery.message", {"output", "input"}},
      {"native.audio_recovery.failed", {}},
  };
  Catalogue english = EmbeddedCatalogues()["en"];
  size_t native_in_english = 0;
  for (const auto& [key, text] : english) native_in_english += key.starts_with("native.");
  EXPECT_EQ(native_in_english, native_keys.size()) << "a native text nobody asks for";
  for (const auto& [key, placeholders] : native_keys) {
    ASSERT_TRUE(english.contains(key)) << key;
    EXPECT_EQ(Placeholders(english[key], "en " + key), placeholders) << key;
  }
}

TEST(LocaleCatalogues, EveryLanguageHasEnglishsKeysAndPlaceholders) {
  static const std::regex kKey(R"([a-z0-9_]+(\.[a-z0-9_]+){1,3})");
  auto catalogues = EmbeddedCatalogues();
  const Catalogue& english = catalogues["en"];
  ASSERT_FALSE(english.empty());
  for (const auto& [code, catalogue] : catalogues) {
    std::set<std::string> missing, extra;
    for (const auto& [key, text] : english) {
      if (!catalogue.contains(key)) missing.insert(key);
    }
    for (const auto& [key, text] : catalogue) {
      EXPECT_TRUE(std::regex_match(key, kKey)) << code << ": malformed key " << key;
      auto reference = english.find(key);
      if (reference == english.end()) {
        extra.insert(key);
        continue;
      }
      EXPECT_EQ(Placeholders(text, code + " " + key),
                Placeholders(reference->second, "en " + key))
          << code << " " << key << ": " << text;
    }
    EXPECT_TRUE(missing.empty()) << code << " lacks " << ::testing::PrintToString(missing);
    EXPECT_TRUE(extra.empty()) << code << " has extra " << ::testing::PrintToString(extra);
  }
}

// The tray, dialogs and notifications read these catalogues through the program's own lookup.
TEST(LocaleCatalogues, EveryLanguageIsServedByTheProgramsLookup) {
  Localization localization(EmbeddedCatalogue);
  ASSERT_TRUE(InitializeLocalization(&localization, nullptr));
  for (const auto& [code, catalogue] : EmbeddedCatalogues()) {
    for (const auto& [key, text] : catalogue) {
      EXPECT_EQ(localization.Translate(code, key, {}, "fallback"), text) << code << " " << key;
    }
  }
}

}  // namespace
}  // namespace zennic
