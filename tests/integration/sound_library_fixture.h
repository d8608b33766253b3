#pragma once

#include <gtest/gtest.h>

#include <filesystem>
#include <initializer_list>
#include <memory>
#include <string>
#include <utility>

#include "model/json_value.h"
#include "support/api_session.h"
#include "support/temp_folder.h"

namespace zennic::testing {

// A JSON object from key and value pairs.
JsonValue Json(std::initializer_list<std::pair<std::string, JsonValue>> members);

// A 48,000 Hz (or `rate`) 16-bit WAV of a 440 Hz sine peaking at `peak` (linear).
void WriteToneWav(const std::filesystem::path& file, double seconds, double peak, int rate = 48000,
                  int channels = 2);
// Runs ffmpeg quietly with the arguments; fails the test when it fails.
void RunFfmpeg(const std::vector<std::string>& arguments);
std::string Base64Encode(const std::string& bytes);
// The largest sample magnitude of a decoded file; -1 when it cannot be decoded.
double PeakOf(const std::filesystem::path& file);

// The built program with one profile ("main") whose audio folder is "Sounds" in a fresh
// folder; "Outside" beside it holds what no request may reach.
class SoundLibraryTest : public ::testing::Test {
 protected:
  SoundLibraryTest();

  // Settings with the one profile, and the selected and panic clips.
  JsonValue ProfileSettings(const std::string& file_path = "",
                            const std::string& panic_file_path = "") const;
  // Starts the program; check with ASSERT_TRUE.
  bool StartProgram(const JsonValue& settings);
  bool StartProgram() { return StartProgram(ProfileSettings()); }
  ApiReply Post(const std::string& route, const JsonValue& body) const;

  // The UTF-8 form the routes and settings use.
  static std::string Text(const std::filesystem::path& path) { return path.string(); }

  TempFolder folder_;
  std::filesystem::path audio_;
  std::filesystem::path outside_;
  std::unique_ptr<ApiSession> session_;
};

}  // namespace zennic::testing
