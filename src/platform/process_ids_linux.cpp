#include "platform/process_ids.h"

#include <signal.h>
#include <unistd.h>

#include <cerrno>

namespace zennic {

int CurrentProcessId() { return static_cast<int>(::getpid()); }

bool IsProcessRunning(int process_id) {
  if (process_id <= 0) return false;
  // Signal 0 only asks; a process of another user answers that it may not be signalled.
  return ::kill(static_cast<pid_t>(process_id), 0) == 0 || errno == EPERM;
}

}  // namespace zennic
