#include "platform/folder_opener.h"

#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <string_view>

namespace zennic {
namespace {

constexpr char kOpener[] = "xdg-open";

bool Fail(std::string* error, std::string text) {
  if (error != nullptr) *error = std::move(text);
  return false;
}

bool IsSet(const char* name) {
  const char* value = std::getenv(name);
  return value != nullptr && *value != '\0';
}

// Looked up before forking: the child may only make async-signal-safe calls.
std::string FindOnPath(const char* program) {
  const char* path = std::getenv("PATH");
  std::string_view folders = path != nullptr ? path : "/usr/local/bin:/usr/bin:/bin";
  while (!folders.empty()) {
    size_t end = folders.find(':');
    std::string_view folder = folders.substr(0, end);
    folders = end == std::string_view::npos ? std::string_view() : folders.substr(end + 1);
    if (folder.empty()) continue;
    std::string candidate = std::string(folder) + "/" + program;
    if (::access(candidate.c_str(), X_OK) == 0) return candidate;
  }
  return {};
}

void ReportAndExit(int report_fd, int code) {
  int failure = errno;
  [[maybe_unused]] ssize_t written = ::write(report_fd, &failure, sizeof failure);
  ::_exit(code);
}

}  // namespace

bool OpenFolderInFileManager(const std::filesystem::path& folder, std::string* error) {
  if (!IsSet("DISPLAY") && !IsSet("WAYLAND_DISPLAY")) {
    return Fail(error, "No desktop display is available to open the folder on");
  }
  std::string opener = FindOnPath(kOpener);
  if (opener.empty()) return Fail(error, "xdg-open is not installed");
  std::string target = folder.string();
  int null_fd = ::open("/dev/null", O_RDWR | O_CLOEXEC);
  int report[2];
  if (null_fd < 0 || ::pipe2(report, O_CLOEXEC) != 0) {
    if (null_fd >= 0) ::close(null_fd);
    return Fail(error, std::string("Could not prepare to start xdg-open: ") + std::strerror(errno));
  }

  // Twice forked, so the opener is nobody's child here and never left as a zombie; the report
  // pipe carries the errno of a failed exec and closes unread when the exec succeeds.
  pid_t child = ::fork();
  if (child == 0) {
    ::close(report[0]);
    ::setsid();
    pid_t grandchild = ::fork();
    if (grandchild < 0) ReportAndExit(report[1], 1);
    if (grandchild > 0) ::_exit(0);
    ::dup2(null_fd, STDIN_FILENO);
    ::dup2(null_fd, STDOUT_FILENO);
    ::dup2(null_fd, STDERR_FILENO);
    // Nothing of the program's (sockets, files, locks) reaches the opener.
    ::close_range(3, ~0U, CLOSE_RANGE_CLOEXEC);
    char* arguments[] = {const_cast<char*>(kOpener), const_cast<char*>(target.c_str()), nullptr};
    ::execv(opener.c_str(), arguments);
    ReportAndExit(report[1], 127);
  }
  int fork_error = errno;
  ::close(report[1]);
  ::close(null_fd);
  if (child < 0) {
    ::close(report[0]);
    return Fail(error, std::string("Could not start xdg-open: ") + std::strerror(fork_error));
  }
  int status = 0;
  while (::waitpid(child, &status, 0) < 0 && errno == EINTR) {
  }
  int failure = 0;
  ssize_t got = 0;
  do {
    got = ::read(report[0], &failure, sizeof failure);
  } while (got < 0 && errno == EINTR);
  ::close(report[0]);
  if (got == static_cast<ssize_t>(sizeof failure)) {
    return Fail(error, std::string("Could not start xdg-open: ") + std::strerror(failure));
  }
  if (error != nullptr) error->clear();
  return true;
}

}  // namespace zennic
