#include "platform/user_locale.h"

#include <cstdlib>

namespace zennic {
namespace {

const char* FirstSetVariable() {
  for (const char* name : {"LC_ALL", "LC_MESSAGES", "LANG"}) {
    const char* value = std::getenv(name);
    if (value != nullptr && *value != '\0') return value;
  }
  return nullptr;
}

}  // namespace

std::string UserLocaleTag() {
  const char* value = FirstSetVariable();
  if (value == nullptr) return {};
  // language[_territory][.codeset][@modifier]
  std::string locale(value);
  size_t cut = locale.find_first_of(".@");
  if (cut != std::string::npos) locale.resize(cut);
  if (locale.empty() || locale == "C" || locale == "POSIX") return {};
  for (char& c : locale) {
    if (c == '_') c = '-';
  }
  return locale;
}

}  // namespace zennic
