#pragma once

#include <string>

namespace zennic::testing {

// The value of an environment variable that scripts/test sets up (the private audio server,
// the virtual display). Fails the calling test loudly when it is missing, rather than skipping.
std::string RequiredEnvironment(const char* name);

}  // namespace zennic::testing
