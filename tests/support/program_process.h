#pragma once

#include <sys/types.h>

#include <chrono>
#include <filesystem>
#include <map>
#include <optional>
#include <string>
#include <vector>

namespace zennic::testing {

// The built program's path.
std::filesystem::path ProgramPath();

// Runs a program as a child process with its own environment; its standard output and error
// go to files so a test can read them at any time. A child still running at destruction is
// killed.
class ProgramProcess {
 public:
  struct Options {
    std::filesystem::path executable = ProgramPath();
    std::vector<std::string> arguments;
    std::map<std::string, std::string> set_environment;
    std::vector<std::string> unset_environment;
    std::filesystem::path working_folder;  // empty: the test's own
  };

  // `output_folder` receives stdout.txt and stderr.txt.
  ProgramProcess(Options options, const std::filesystem::path& output_folder);
  ~ProgramProcess();
  ProgramProcess(const ProgramProcess&) = delete;
  ProgramProcess& operator=(const ProgramProcess&) = delete;

  bool Start();
  pid_t pid() const { return pid_; }
  bool Running();

  std::string Stdout() const;
  std::string Stderr() const;
  // Polls until the text appears on standard error (or output); false on time-out or exit.
  bool WaitForStderr(const std::string& text, std::chrono::milliseconds timeout);
  bool WaitForStdout(const std::string& text, std::chrono::milliseconds timeout);

  // A number field of the child's /proc status: "Threads", or "VmRSS" in KiB; -1 when absent.
  long StatusField(const std::string& field) const;
  // Brings the child's peak memory ("VmHWM") down to its present "VmRSS", so that a peak read
  // afterwards is what came since; false when the kernel refused.
  bool ResetPeakMemory() const;

  void Signal(int signal_number);
  // The exit code, or 128 + the signal number for a child ended by a signal; nothing on time-out.
  std::optional<int> WaitForExit(std::chrono::milliseconds timeout);

 private:
  bool WaitForText(const std::filesystem::path& file, const std::string& text,
                   std::chrono::milliseconds timeout);

  Options options_;
  std::filesystem::path stdout_file_;
  std::filesystem::path stderr_file_;
  pid_t pid_ = -1;
  std::optional<int> exit_code_;
};

// Options that give the program a private data folder ("data"), runtime folder ("run") and
// home ("home") under `folder`, so instances of different tests never meet. Without a display,
// so the program runs in its console shell.
ProgramProcess::Options IsolatedProgramOptions(const std::filesystem::path& folder);

// Puts the program of `options` (isolated under `folder`) on the test display, where it runs
// its desktop shell with no session bus, and no welcome window or port warning waiting for a
// click (settings.json, when the test has written none yet, names a free port).
void ShowOnTestDisplay(ProgramProcess::Options* options, const std::filesystem::path& folder);

}  // namespace zennic::testing
