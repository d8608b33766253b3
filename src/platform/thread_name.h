#pragma once

#include <string>

namespace zennic {

// Names the calling thread for the system's own tools (a thread list, a profiler, a probe that
// watches where the audio threads run); at most 15 characters are kept.
void NameThisThread(const char* name);
// The calling thread's name, as it was given.
std::string ThisThreadName();

}  // namespace zennic
