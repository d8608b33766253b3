#include "core/app_log.h"

#include <chrono>
#include <ctime>
#include <fstream>
#include <string>

#include "core/files.h"
#include "platform/debug_output.h"

namespace zennic {
namespace {

std::string LocalTimeStamp() {
  std::time_t now = std::chrono::system_clock::to_time_t(std::chrono::system_clock::now());
  std::tm local{};
  char buffer[32];
  if (localtime_r(&now, &local) == nullptr ||
      std::strftime(buffer, sizeof buffer, "%Y-%m-%d %H:%M:%S", &local) == 0) {
    return "0000-00-00 00:00:00";
  }
  return buffer;
}

}  // namespace

void WriteLogLine(const std::filesystem::path& logs_folder, std::string_view tag,
                  std::string_view message) {
  std::string line = "[" + LocalTimeStamp() + "] [";
  line.append(tag);
  line.append("] ");
  line.append(message);
  line.push_back('\n');
  WriteDebugOutput(line);
  if (logs_folder.empty()) return;
  try {
    if (!CreateDirectories(logs_folder, nullptr)) return;
    std::ofstream file(logs_folder / "app.log", std::ios::binary | std::ios::app);
    if (!file.is_open()) return;
    file.write(line.data(), static_cast<std::streamsize>(line.size()));
    file.flush();
  } catch (...) {
    // Logging never fails its caller.
  }
}

}  // namespace zennic
