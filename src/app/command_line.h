#pragma once

#include <optional>
#include <string>
#include <vector>

namespace zennic {

// The program takes no options: everything is set in its web client. Asked for its usage or
// version, it answers and ends before it creates or starts anything. Returns the exit code
// when the arguments were answered so; nothing when the program is to start.
std::optional<int> AnswerCommandLine(const std::vector<std::string>& arguments);

}  // namespace zennic
