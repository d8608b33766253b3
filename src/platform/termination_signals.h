#pragma once

#include <optional>

namespace zennic {

enum class TerminationRequest {
  Exit,        // the user or the system asked the program to end
  SessionEnd,  // the user's session is ending
};

// Blocks the termination signals in the calling thread, so every thread started afterwards
// inherits the mask and only WaitForTerminationRequest receives them. Also ignores SIGPIPE, so
// a peer that closes its socket never ends the program. Call first thing in main.
void PrepareTerminationSignals();

// Waits until the program is asked to end.
TerminationRequest WaitForTerminationRequest();

// For loops that wait on descriptors: one that turns readable while a termination request is
// pending (the request stays pending until taken), or -1 when none can be made. The caller
// closes it.
int OpenTerminationRequestDescriptor();

// Takes the pending request from a descriptor of OpenTerminationRequestDescriptor; nothing
// when none is pending.
std::optional<TerminationRequest> TakeTerminationRequest(int descriptor);

}  // namespace zennic
