#include "support/isolated_user.h"

#include <stdlib.h>

namespace zennic::testing {

IsolatedUser::IsolatedUser(const std::string& lang) : home_(folder_ / "home") {
  std::filesystem::create_directories(home_);
  Set("HOME", home_.string());
  Set("XDG_DATA_HOME", (home_ / ".local/share").string());
  Set("XDG_CONFIG_HOME", (home_ / ".config").string());
  Set("LC_ALL", std::nullopt);
  Set("LC_MESSAGES", std::nullopt);
  Set("LANG", lang);
}

IsolatedUser::~IsolatedUser() {
  for (const auto& [name, value] : saved_) {
    if (value) {
      ::setenv(name.c_str(), value->c_str(), 1);
    } else {
      ::unsetenv(name.c_str());
    }
  }
}

void IsolatedUser::Set(const char* name, const std::optional<std::string>& value) {
  const char* old = ::getenv(name);
  saved_.emplace(name, old ? std::optional<std::string>(old) : std::nullopt);
  if (value) {
    ::setenv(name, value->c_str(), 1);
  } else {
    ::unsetenv(name);
  }
}

}  // namespace zennic::testing
