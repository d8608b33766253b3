#include "core/localization.h"

#include "core/json_value.h"
#include "core/text.h"
#include "platform/user_locale.h"

namespace zennic {
namespace {

constexpr std::string_view kEnglish = "en";

// Lower-case primary codes (and the two Norwegian written forms) to supported codes.
const std::map<std::string, std::string, std::less<>>& LanguageTable() {
  static const std::map<std::string, std::string, std::less<>> table = [] {
    std::map<std::string, std::string, std::less<>> entries;
    for (const char* code : {"en", "de", "fr", "ko", "nl", "sv", "it", "es", "pt", "hr", "pl",
                             "cs", "sk", "ru", "ja", "tr", "uk", "hu", "ro", "da", "fi", "el",
                             "no"}) {
      entries.emplace(code, code);
    }
    entries.emplace("nb", "no");
    entries.emplace("nn", "no");
    return entries;
  }();
  return table;
}

// Parameters go in one after another, so a value inserted for an earlier name is searched for
// the tokens of later names, but never for its own token again.
std::string FillPlaceholders(std::string text, const Localization::Parameters& parameters) {
  for (const auto& [name, value] : parameters) {
    const std::string token = "{{" + name + "}}";
    size_t position = text.find(token);
    while (position != std::string::npos) {
      text.replace(position, token.size(), value);
      position = text.find(token, position + value.size());
    }
  }
  return text;
}

}  // namespace

Localization::Localization(CatalogueSource catalogues) : catalogues_(std::move(catalogues)) {}

std::string Localization::Translate(std::string_view language, std::string_view key,
                                    const Parameters& parameters, std::string_view fallback) {
  std::lock_guard lock(mutex_);
  // A catalogue that cannot be loaded only leaves its texts in English.
  LoadI18nTable(kEnglish, nullptr);
  LoadI18nTable(NormalizeLanguageTag(language), nullptr);
  return LookupTranslation(language, key, parameters, fallback);
}

bool Localization::LoadI18nTable(std::string_view code, std::string* error) {
  const std::string normalized = NormalizeLanguageTag(code);
  if (cache_.contains(normalized)) return true;

  const std::optional<std::string_view> text = catalogues_ ? catalogues_(normalized) : std::nullopt;
  if (!text) {
    if (error) *error = "Missing embedded i18n asset for " + normalized;
    return false;
  }
  JsonValue root;
  std::string parse_error;
  if (!JsonValue::Parse(*text, &root, &parse_error) || root.type != JsonValue::Type::Object) {
    if (error) *error = "Failed to parse embedded i18n asset " + normalized + ": " + parse_error;
    return false;
  }
  TextTable table;
  for (auto& [key, value] : root.object_value) {
    if (value.type == JsonValue::Type::String) table.emplace(key, std::move(value.string_value));
  }
  cache_.emplace(normalized, std::move(table));
  return true;
}

std::string Localization::FindCachedText(std::string_view code, std::string_view key) const {
  auto table = cache_.find(code);
  if (table == cache_.end()) return {};
  auto text = table->second.find(key);
  return text == table->second.end() ? std::string() : text->second;
}

std::string Localization::LookupTranslation(std::string_view language, std::string_view key,
                                            const Parameters& parameters,
                                            std::string_view fallback) const {
  const std::string code = NormalizeLanguageTag(language);
  std::string text = FindCachedText(code, key);
  if (text.empty() && code != kEnglish) text = FindCachedText(kEnglish, key);
  if (text.empty()) text = fallback;
  return FillPlaceholders(std::move(text), parameters);
}

bool InitializeLocalization(Localization* localization, std::string* error) {
  if (localization == nullptr) {
    if (error) *error = "Localization output pointer is null";
    return false;
  }
  std::lock_guard lock(localization->mutex_);
  return localization->LoadI18nTable(kEnglish, error);
}

std::string DetectUserLanguage() { return NormalizeLanguageTag(UserLocaleTag()); }

std::string NormalizeLanguageTag(std::string_view tag) {
  std::string normalized = ToLower(Trim(tag));
  for (char& c : normalized) {
    if (c == '_') c = '-';
  }
  return MapToSupportedLanguage(normalized);
}

std::string MapToSupportedLanguage(std::string_view tag) {
  if (tag.empty()) return std::string(kEnglish);
  if (tag == "pt-br") return "pt-BR";
  if (tag == "zh-cn" || tag == "zh-sg") return "zh-CN";
  if (tag == "zh-tw" || tag == "zh-hk" || tag == "zh-mo") return "zh-TW";

  const auto& table = LanguageTable();
  if (auto exact = table.find(tag); exact != table.end()) return exact->second;
  std::string_view primary = tag.substr(0, tag.find('-'));
  if (auto entry = table.find(primary); entry != table.end()) return entry->second;
  if (primary == "zh") return "zh-CN";
  return std::string(kEnglish);
}

}  // namespace zennic
