#include "support/program_process.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstring>
#include <fstream>
#include <sstream>
#include <thread>

#include "support/http_test_client.h"
#include "support/temp_folder.h"
#include "support/test_environment.h"

extern char** environ;

namespace zennic::testing {

std::filesystem::path ProgramPath() { return ZENNIC_PROGRAM_PATH; }

ProgramProcess::Options IsolatedProgramOptions(const std::filesystem::path& folder) {
  ProgramProcess::Options options;
  options.set_environment["XDG_DATA_HOME"] = (folder / "data").string();
  options.set_environment["XDG_RUNTIME_DIR"] = (folder / "run").string();
  options.set_environment["HOME"] = (folder / "home").string();
  options.unset_environment = {"XDG_CONFIG_HOME", "DISPLAY", "WAYLAND_DISPLAY"};
  std::filesystem::create_directories(folder / "run");
  // As a session's own: the user's alone.
  std::filesystem::permissions(folder / "run", std::filesystem::perms::owner_all,
                               std::filesystem::perm_options::replace);
  return options;
}

void ShowOnTestDisplay(ProgramProcess::Options* options, const std::filesystem::path& folder) {
  options->set_environment["DISPLAY"] = RequiredEnvironment("DISPLAY");
  options->set_environment["DBUS_SESSION_BUS_ADDRESS"] = "unix:path=" + (folder / "no-bus").string();
  std::filesystem::path data = folder / "data/Ruzerad";
  std::filesystem::create_directories(data);
  WriteFile(data / "first_run_welcome_suppressed.flag", "1");
  // A port of its own, so no port-warning box waits either.
  if (!std::filesystem::exists(data / "settings.json")) {
    WriteFile(data / "settings.json",
              "{\"version\": 3, \"server_port\": " + std::to_string(FindFreeLoopbackPort()) + "}");
  }
}

ProgramProcess::ProgramProcess(Options options, const std::filesystem::path& output_folder)
    : options_(std::move(options)),
      stdout_file_(output_folder / "stdout.txt"),
      stderr_file_(output_folder / "stderr.txt") {}

ProgramProcess::~ProgramProcess() {
  if (Running()) {
    ::kill(pid_, SIGKILL);
    WaitForExit(std::chrono::seconds(10));
  }
}

bool ProgramProcess::Start() {
  std::map<std::string, std::string> environment;
  for (char** entry = environ; *entry != nullptr; ++entry) {
    std::string text(*entry);
    size_t equals = text.find('=');
    if (equals != std::string::npos) environment[text.substr(0, equals)] = text.substr(equals + 1);
  }
  for (const std::string& name : options_.unset_environment) environment.erase(name);
  for (const auto& [name, value] : options_.set_environment) environment[name] = value;

  std::vector<std::string> environment_lines;
  for (const auto& [name, value] : environment) environment_lines.push_back(name + "=" + value);
  std::vector<char*> envp;
  for (std::string& line : environment_lines) envp.push_back(line.data());
  envp.push_back(nullptr);

  std::string executable = options_.executable.string();
  std::vector<std::string> arguments = options_.arguments;
  arguments.insert(arguments.begin(), executable);
  std::vector<char*> argv;
  for (std::string& argument : arguments) argv.push_back(argument.data());
  argv.push_back(nullptr);

  // Emptied before the child starts, so a wait for its output never finds an earlier run's.
  for (const std::filesystem::path* file : {&stdout_file_, &stderr_file_}) {
    std::ofstream(*file, std::ios::trunc);
  }
  pid_ = ::fork();
  if (pid_ < 0) return false;
  if (pid_ == 0) {
    int out = ::open(stdout_file_.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    int err = ::open(stderr_file_.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    int in = ::open("/dev/null", O_RDONLY);
    if (out < 0 || err < 0 || in < 0) ::_exit(126);
    ::dup2(in, STDIN_FILENO);
    ::dup2(out, STDOUT_FILENO);
    ::dup2(err, STDERR_FILENO);
    if (!options_.working_folder.empty() && ::chdir(options_.working_folder.c_str()) != 0) {
      ::_exit(126);
    }
    // The test runner may block signals; the program must see them as a fresh process would.
    sigset_t none;
    sigemptyset(&none);
    ::sigprocmask(SIG_SETMASK, &none, nullptr);
    ::execve(executable.c_str(), argv.data(), envp.data());
    ::_exit(127);
  }
  return true;
}

bool ProgramProcess::Running() {
  if (pid_ <= 0 || exit_code_) return false;
  return !WaitForExit(std::chrono::milliseconds(0)).has_value();
}

std::string ProgramProcess::Stdout() const { return ReadFile(stdout_file_); }
std::string ProgramProcess::Stderr() const { return ReadFile(stderr_file_); }

bool ProgramProcess::WaitForText(const std::filesystem::path& file, const std::string& text,
                                 std::chrono::milliseconds timeout) {
  auto deadline = std::chrono::steady_clock::now() + timeout;
  for (;;) {
    if (ReadFile(file).find(text) != std::string::npos) return true;
    if (!Running() || std::chrono::steady_clock::now() >= deadline) {
      return ReadFile(file).find(text) != std::string::npos;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
}

bool ProgramProcess::WaitForStderr(const std::string& text, std::chrono::milliseconds timeout) {
  return WaitForText(stderr_file_, text, timeout);
}

bool ProgramProcess::WaitForStdout(const std::string& text, std::chrono::milliseconds timeout) {
  return WaitForText(stdout_file_, text, timeout);
}

long ProgramProcess::StatusField(const std::string& field) const {
  std::ifstream status("/proc/" + std::to_string(pid_) + "/status");
  std::string line;
  while (std::getline(status, line)) {
    if (line.rfind(field + ":", 0) != 0) continue;
    std::istringstream value(line.substr(field.size() + 1));
    long number = -1;
    value >> number;
    return number;
  }
  return -1;
}

bool ProgramProcess::ResetPeakMemory() const {
  std::ofstream clear_refs("/proc/" + std::to_string(pid_) + "/clear_refs");
  clear_refs << "5";
  clear_refs.close();
  return clear_refs.good();
}

void ProgramProcess::Signal(int signal_number) {
  if (pid_ > 0 && !exit_code_) ::kill(pid_, signal_number);
}

std::optional<int> ProgramProcess::WaitForExit(std::chrono::milliseconds timeout) {
  if (exit_code_) return exit_code_;
  if (pid_ <= 0) return std::nullopt;
  auto deadline = std::chrono::steady_clock::now() + timeout;
  for (;;) {
    int status = 0;
    pid_t done = ::waitpid(pid_, &status, WNOHANG);
    if (done == pid_) {
      exit_code_ = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
      return exit_code_;
    }
    if (done < 0 || std::chrono::steady_clock::now() >= deadline) return std::nullopt;
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
}

}  // namespace zennic::testing
