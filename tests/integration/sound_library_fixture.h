#pragma once

#include <gtest/gtest.h>

#include <filesystem>
#include <initializer_list>
#include <memory>
#include <string>
#include <utility>

#include "core/json_value.h"
#include "support/http_test_client.h"
#include "support/program_process.h"
#include "support/run_command.h"
#include "support/temp_folder.h"

namespace zennic::testing {

// One answer of the API: the status, the parsed envelope (null when the body is not JSON) and
// the reply as it came.
struct ApiReply {
  int status = 0;
  JsonValue json;
  HttpReply http;

  std::string code() const { return json.GetString("code", ""); }
};

// A JSON object from key and value pairs.
JsonValue Json(std::initializer_list<std::pair<std::string, JsonValue>> members);

// A 48,000 Hz (or `rate`) 16-bit WAV of a 440 Hz sine peaking at `peak` (linear).
void WriteToneWav(const std::filesystem::path& file, double seconds, double peak, int rate = 48000,
                  int channels = 2);
std::string Base64Encode(const std::string& bytes);
// The largest sample magnitude of a decoded file; -1 when it cannot be decoded.
double PeakOf(const std::filesystem::path& file);

// The built program with one profile ("main") whose audio folder is "Sounds" in a fresh
// folder, reached with the page's session cookie; "Outside" beside the folder holds what no
// request may reach. The program has a data folder and a temporary folder of its own.
class SoundLibraryTest : public ::testing::Test {
 protected:
  SoundLibraryTest();
  ~SoundLibraryTest() override;

  // Settings with the one profile, and the selected and panic clips.
  JsonValue ProfileSettings(const std::string& file_path = "",
                            const std::string& panic_file_path = "") const;
  // Starts the program on a free port with these settings.json members and opens the page for
  // its session cookie; check with ASSERT_TRUE.
  bool StartProgram(const JsonValue& settings);
  bool StartProgram() { return StartProgram(ProfileSettings()); }
  ApiReply Post(const std::string& route, const JsonValue& body) const;
  // The settings as the program saved them.
  JsonValue SavedSettings() const;
  // The program's peak resident memory so far.
  long PeakMemoryKiB() const;

  // The UTF-8 form the routes and settings use.
  static std::string Text(const std::filesystem::path& path) { return path.string(); }

  TempFolder folder_;
  std::filesystem::path audio_;
  std::filesystem::path outside_;
  std::filesystem::path data_folder_;
  std::filesystem::path temp_folder_;
  std::unique_ptr<ProgramProcess> program_;
  uint16_t port_ = 0;
  std::string cookie_;
};

}  // namespace zennic::testing
