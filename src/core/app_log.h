#pragma once

#include <filesystem>
#include <string_view>

namespace zennic {

// Appends "[YYYY-MM-DD HH:MM:SS] [tag] message" to app.log in `logs_folder` and sends the same
// line to the debugger output. Never fails its caller: an unwritable log drops the line.
// An empty `logs_folder` writes the debugger output only.
void WriteLogLine(const std::filesystem::path& logs_folder, std::string_view tag,
                  std::string_view message);

}  // namespace zennic
