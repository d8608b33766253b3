#include "app/startup_failure.h"

#include <cstdio>

#include "app/desktop_shell.h"
#include "platform/desktop_display.h"

namespace zennic {

void ReportStartupFailure(const std::string& message) {
  std::fprintf(stderr, "%s\n", message.c_str());
  std::fflush(stderr);
  if (!OpenDesktopDisplay(nullptr)) return;
  // A shell of its own: the host's, if it was built, is gone with the host.
  DesktopShell shell{std::filesystem::path()};
  shell.ShowMessageBox(MessageBoxIcon::Error, "Ruzerad", message);
}

}  // namespace zennic
