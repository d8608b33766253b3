#include "platform/termination_signals.h"

#include <signal.h>
#include <sys/signalfd.h>
#include <unistd.h>

namespace zennic {
namespace {

sigset_t TerminationSignals() {
  sigset_t set;
  sigemptyset(&set);
  sigaddset(&set, SIGINT);
  sigaddset(&set, SIGTERM);
  sigaddset(&set, SIGHUP);
  return set;
}

}  // namespace

void PrepareTerminationSignals() {
  ::signal(SIGPIPE, SIG_IGN);
  sigset_t set = TerminationSignals();
  pthread_sigmask(SIG_BLOCK, &set, nullptr);
}

TerminationRequest WaitForTerminationRequest() {
  sigset_t set = TerminationSignals();
  int signal_number = 0;
  while (sigwait(&set, &signal_number) != 0) {
  }
  return signal_number == SIGHUP ? TerminationRequest::SessionEnd : TerminationRequest::Exit;
}

int OpenTerminationRequestDescriptor() {
  sigset_t set = TerminationSignals();
  return ::signalfd(-1, &set, SFD_NONBLOCK | SFD_CLOEXEC);
}

std::optional<TerminationRequest> TakeTerminationRequest(int descriptor) {
  signalfd_siginfo info{};
  if (::read(descriptor, &info, sizeof info) != static_cast<ssize_t>(sizeof info)) {
    return std::nullopt;
  }
  return info.ssi_signo == SIGHUP ? TerminationRequest::SessionEnd : TerminationRequest::Exit;
}

}  // namespace zennic
