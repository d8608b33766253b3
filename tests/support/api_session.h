#pragma once

#include <filesystem>
#include <memory>
#include <string>

#include "model/json_value.h"
#include "support/http_test_client.h"
#include "support/program_process.h"

namespace zennic::testing {

// One answer of the API: the status, the parsed envelope (null when the body is not JSON) and
// the reply as it came.
struct ApiReply {
  int status = 0;
  JsonValue json;
  HttpReply http;

  std::string code() const { return json.GetString("code", ""); }
};

// The built program with a private data folder under `folder`, started on a free port with the
// given settings.json members, and a session as the web client holds one.
class ApiSession {
 public:
  ApiSession(const std::filesystem::path& folder, const JsonValue& settings);
  ~ApiSession();
  ApiSession(const ApiSession&) = delete;
  ApiSession& operator=(const ApiSession&) = delete;

  // Starts the program and opens the page for its session cookie; false on failure.
  bool Start();
  // Ends the program with SIGTERM and waits for it.
  void Stop();

  ApiReply Post(const std::string& route, const JsonValue& body) const;
  // The settings as the program saved them.
  JsonValue SavedSettings() const;
  const std::filesystem::path& data_folder() const { return data_folder_; }
  // The program's own temporary folder.
  std::filesystem::path temp_folder() const { return folder_ / "tmp"; }
  // The program's peak resident memory so far.
  long PeakMemoryKiB() const;

 private:
  std::filesystem::path folder_;
  std::filesystem::path data_folder_;
  uint16_t port_ = 0;
  std::string cookie_;
  std::unique_ptr<ProgramProcess> program_;
};

}  // namespace zennic::testing
