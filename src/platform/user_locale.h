#pragma once

#include <string>

namespace zennic {

// The user's locale as a language tag ("pt-BR", "de", "nb-NO"), or empty when the user has
// chosen none (the C or POSIX locale, or nothing set).
std::string UserLocaleTag();

}  // namespace zennic
