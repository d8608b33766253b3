#pragma once

#include <optional>
#include <string>

namespace zennic {

// Asks on the terminal the program was started from: writes `prompt` and reads one line.
// Nothing when there is no terminal, the input ends, or the program is asked to end while it
// waits (the request stays pending for whoever waits for it).
std::optional<std::string> AskOnTerminal(const std::string& prompt);

}  // namespace zennic
