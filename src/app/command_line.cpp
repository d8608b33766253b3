#include "app/command_line.h"

#include <cstdio>

#include "app/app_host.h"

namespace zennic {
namespace {

constexpr char kUsage[] =
    "Usage: ruzerad [--help | --version]\n"
    "\n"
    "Plays sound clips into a game's voice chat together with your microphone. Started without\n"
    "options, it serves its user interface at http://127.0.0.1:5000 (the port in its settings,\n"
    "or a free one when that is taken; the log names it) and runs until Exit in its tray menu,\n"
    "Ctrl+C or SIGTERM. Everything else is set in that web client.\n"
    "\n"
    "  --help     print this help and exit\n"
    "  --version  print the version and exit\n";

// Exit code of a command line that cannot be understood, as the shell's own tools use it.
constexpr int kUsageError = 2;

}  // namespace

std::optional<int> AnswerCommandLine(const std::vector<std::string>& arguments) {
  if (arguments.empty()) return std::nullopt;
  const std::string& first = arguments.front();
  if (arguments.size() == 1 && (first == "--help" || first == "-h")) {
    std::fputs(kUsage, stdout);
    return 0;
  }
  if (arguments.size() == 1 && first == "--version") {
    std::printf("Ruzerad %s\n", AppHost::kProgramVersion);
    return 0;
  }
  std::string unknown = first == "--help" || first == "-h" || first == "--version"
                            ? arguments[1]
                            : first;
  std::fprintf(stderr, "ruzerad: unexpected argument \"%s\"\n\n%s", unknown.c_str(), kUsage);
  return kUsageError;
}

}  // namespace zennic
