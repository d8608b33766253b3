#include <cstdio>
#include <string>

#include "app/app_host.h"
#include "platform/termination_signals.h"

int main() {
  // Before any thread starts, so every thread inherits the blocked termination signals.
  zennic::PrepareTerminationSignals();

  // Whatever escapes ends the program with its message rather than an abort.
  try {
    zennic::AppHost host;
    std::string error;
    if (!host.Initialize(&error)) {
      std::string message = error.empty() ? "Ruzerad failed to initialize." : error;
      std::fprintf(stderr, "%s\n", message.c_str());
      return 1;
    }
    return host.Run();
  } catch (const std::exception& failure) {
    std::fprintf(stderr, "Ruzerad stopped: %s\n", failure.what());
  } catch (...) {
    std::fprintf(stderr, "Ruzerad stopped on an unknown failure\n");
  }
  return 1;
}
