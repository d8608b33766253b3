#pragma once

#include <string>

namespace zennic {

// Asks the system to schedule the calling thread as an audio thread: real-time where it
// allows that, else at a raised priority. The thread carries on as it was where the system
// refuses. Returns what was granted, as a phrase for the log ("real-time priority 10", "raised
// priority (nice -10)", or "normal priority: " and the reason).
std::string RaiseAudioThreadPriority();

}  // namespace zennic
