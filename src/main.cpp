#include <optional>
#include <string>

#include "app/app_host.h"
#include "app/command_line.h"
#include "app/startup_failure.h"
#include "platform/memory_release.h"
#include "platform/termination_signals.h"

int main(int argc, char** argv) {
  if (std::optional<int> answered = zennic::AnswerCommandLine({argv + 1, argv + argc})) {
    return *answered;
  }
  zennic::LimitAllocatorArenas();
  // Before any thread starts, so every thread inherits the blocked termination signals.
  zennic::PrepareTerminationSignals();

  // Whatever escapes ends the program with its message rather than an abort.
  try {
    zennic::AppHost host;
    std::string error;
    if (!host.Initialize(&error)) {
      zennic::ReportStartupFailure(error.empty() ? "Ruzerad failed to initialize." : error);
      return 1;
    }
    return host.Run();
  } catch (const std::exception& failure) {
    zennic::ReportStartupFailure(std::string("Ruzerad stopped: ") + failure.what());
  } catch (...) {
    zennic::ReportStartupFailure("Ruzerad stopped on an unknown failure");
  }
  return 1;
}
