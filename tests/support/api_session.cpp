#include "support/api_session.h"

#include <signal.h>

#include "support/temp_folder.h"

namespace zennic::testing {

using namespace std::chrono_literals;

ApiSession::ApiSession(const std::filesystem::path& folder, const JsonValue& settings)
    : folder_(folder), data_folder_(folder / "data" / "Ruzerad"), port_(FindFreeLoopbackPort()) {
  JsonValue file = settings;
  file["version"] = 3.0;
  file["server_port"] = static_cast<double>(port_);
  WriteFile(data_folder_ / "settings.json", file.Serialize(2));
}

ApiSession::~ApiSession() {
  if (program_ && program_->Running()) Stop();
}

bool ApiSession::Start() {
  std::filesystem::create_directories(folder_ / "output");
  std::filesystem::create_directories(temp_folder());
  ProgramProcess::Options options = IsolatedProgramOptions(folder_);
  options.set_environment["TMPDIR"] = temp_folder().string();
  program_ = std::make_unique<ProgramProcess>(options, folder_ / "output");
  if (!program_->Start() || !program_->WaitForStderr("Ruzerad started", 10s)) return false;
  HttpReply page = HttpTestClient(port_).Send("GET", "/");
  std::string set_cookie = page.headers["Set-Cookie"];
  cookie_ = set_cookie.substr(0, set_cookie.find(';'));
  return page.status == 200 && !cookie_.empty();
}

void ApiSession::Stop() {
  program_->Signal(SIGTERM);
  program_->WaitForExit(10s);
}

ApiReply ApiSession::Post(const std::string& route, const JsonValue& body) const {
  ApiReply reply;
  reply.http = HttpTestClient(port_).Send("POST", route, {{"Cookie", cookie_}}, body.Serialize(0));
  reply.status = reply.http.status;
  if (!JsonValue::Parse(reply.http.body, &reply.json, nullptr)) reply.json = JsonValue();
  return reply;
}

long ApiSession::PeakMemoryKiB() const {
  std::string status = ReadFile("/proc/" + std::to_string(program_->pid()) + "/status");
  size_t field = status.find("VmHWM:");
  return field == std::string::npos ? -1 : std::stol(status.substr(field + 6));
}

JsonValue ApiSession::SavedSettings() const {
  JsonValue settings;
  JsonValue::Parse(ReadFile(data_folder_ / "settings.json"), &settings, nullptr);
  return settings;
}

}  // namespace zennic::testing
