#include "support/test_environment.h"

#include <gtest/gtest.h>

#include <cstdlib>

namespace zennic::testing {

std::string RequiredEnvironment(const char* name) {
  const char* value = std::getenv(name);
  if (value == nullptr || *value == '\0') {
    ADD_FAILURE() << name << " is not set: run the tests through scripts/test, which starts the "
                  << "private audio server and the virtual display they need";
    return {};
  }
  return value;
}

}  // namespace zennic::testing
