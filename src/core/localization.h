#pragma once

#include <functional>
#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace zennic {

// The native texts (tray, balloons, boxes, welcome window) in the user's language, read from
// the same catalogues as the web client: flat JSON objects of text keys, one per language code.
// A catalogue is parsed the first time its language is asked for and kept for the process.
class Localization {
 public:
  // Placeholder name to value; applied in ascending order of name.
  using Parameters = std::map<std::string, std::string>;

  // The bytes of the catalogue of a supported language code, or nothing when there is none.
  // The bytes must stay valid while this object lives.
  using CatalogueSource = std::function<std::optional<std::string_view>(std::string_view code)>;

  explicit Localization(CatalogueSource catalogues);
  Localization(const Localization&) = delete;
  Localization& operator=(const Localization&) = delete;

  // The text of `key` in `language`, else in English, else `fallback` (an empty catalogue
  // text counts as missing), with every "{{name}}" of `parameters` filled in.
  std::string Translate(std::string_view language, std::string_view key,
                        const Parameters& parameters, std::string_view fallback);

 private:
  friend bool InitializeLocalization(Localization* localization, std::string* error);

  using TextTable = std::map<std::string, std::string, std::less<>>;

  // Caller holds mutex_.
  bool LoadI18nTable(std::string_view code, std::string* error);
  std::string FindCachedText(std::string_view code, std::string_view key) const;
  std::string LookupTranslation(std::string_view language, std::string_view key,
                                const Parameters& parameters, std::string_view fallback) const;

  const CatalogueSource catalogues_;
  std::mutex mutex_;
  // Only catalogues that loaded; a failed language is tried again on its next use.
  std::map<std::string, TextTable, std::less<>> cache_;
};

// Loads the English catalogue, which every other language falls back on. False with
// "Missing embedded i18n asset for en" or the parser's message when it cannot be read.
bool InitializeLocalization(Localization* localization, std::string* error);

// The supported language of the user's locale; "en" when the locale names none.
std::string DetectUserLanguage();

// Any language tag ("de_AT", " FR ", "zh-Hant-TW") reduced to one of the 26 supported codes;
// anything unknown or malformed gives "en".
std::string NormalizeLanguageTag(std::string_view tag);

// As NormalizeLanguageTag for a tag that is already trimmed, lower-case and '-'-separated.
std::string MapToSupportedLanguage(std::string_view tag);

}  // namespace zennic
