#include <cstdio>
#include <string>

#include "app/app_host.h"
#include "platform/termination_signals.h"

int main() {
  // Before any thread starts, so every thread inherits the blocked termination signals.
  zennic::PrepareTerminationSignals();

  zennic::AppHost host;
  std::string error;
  if (!host.Initialize(&error)) {
    std::string message = error.empty() ? "Ruzerad failed to initialize." : error;
    std::fprintf(stderr, "%s\n", message.c_str());
    return 1;
  }
  return host.Run();
}
