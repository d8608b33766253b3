// Damaged and hostile sound files where a user's downloads land and in the clip library: the
// program keeps running and answering across restarts, says what is wrong with each file,
// deletes none and keeps its memory.

#include <signal.h>

#include <chrono>
#include <thread>

#include "sound_library_fixture.h"
#include "support/sound_file_bytes.h"

namespace zennic {
namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;
using testing::ApiReply;
using testing::Json;
using testing::SoundLibraryTest;

class DamagedSounds : public SoundLibraryTest {
 protected:
  JsonValue Settings() const {
    JsonValue settings = ProfileSettings();
    settings["sound_inbox_enabled"] = true;
    settings["sound_inbox_dir"] = Text(inbox_);
    return settings;
  }

  // Nothing while the ledger is missing or cannot be read.
  std::vector<JsonValue> LedgerRecords() const {
    JsonValue ledger;
    std::error_code missing;
    if (!fs::exists(data_folder_ / "sound_inbox_state.json", missing) ||
        !JsonValue::Parse(testing::ReadFile(data_folder_ / "sound_inbox_state.json"), &ledger,
                          nullptr) ||
        ledger.Find("records") == nullptr) {
      return {};
    }
    return ledger.Find("records")->array_value;
  }

  long ResidentMemoryKiB() const {
    const std::string status =
        testing::ReadFile("/proc/" + std::to_string(program_->pid()) + "/status");
    const size_t field = status.find("VmRSS:");
    return field == std::string::npos ? -1 : std::stol(status.substr(field + 6));
  }

  void Restart() {
    program_->Signal(SIGTERM);
    ASSERT_EQ(program_->WaitForExit(10s), 0) << program_->Stderr();
    ASSERT_TRUE(StartProgram(Settings())) << program_->Stderr();
  }

  fs::path inbox_ = folder_ / "Inbox";
};

TEST_F(DamagedSounds, TheProgramNamesEachFaultAndLosesNothing) {
  const fs::path staging = folder_ / "staging";
  fs::create_directories(staging);
  fs::create_directories(inbox_);
  // Each format cut short, and with a stretch of random bytes, from a one-second tone.
  const std::vector<std::pair<std::string, std::vector<std::string>>> formats = {
      {"wav", {"-c:a", "pcm_s16le"}}, {"mp3", {"-c:a", "libmp3lame"}},
      {"flac", {"-c:a", "flac"}},     {"ogg", {"-c:a", "libvorbis"}},
      {"m4a", {"-c:a", "aac"}},       {"aac", {"-c:a", "aac", "-f", "adts"}},
      {"wma", {"-c:a", "wmav2"}}};
  // The file, and the code its preparation must fail with; empty where the readable part of a
  // damaged stream may become a clip. A file cut short of the length its header states is
  // refused as such (an Ogg or ADTS stream states none, and an M4A whose index comes last
  // cannot be opened at all).
  std::vector<std::pair<std::string, std::string>> expected;
  for (const auto& [extension, options] : formats) {
    for (const std::string damage : {"cut", "noise"}) {
      const std::string name = damage + "." + extension;
      std::vector<std::string> arguments = {
          "-f", "lavfi", "-i", "aevalsrc=0.5*sin(2*PI*1000*t)|0.5*sin(2*PI*1000*t):s=44100:d=1"};
      arguments.insert(arguments.end(), options.begin(), options.end());
      arguments.push_back((staging / name).string());
      testing::RunFfmpeg(arguments);
      if (damage == "cut") {
        testing::TruncateFile(staging / name, 0.5);
      } else {
        testing::OverwriteWithNoise(staging / name, 0.3);
      }
      const bool states_length = extension != "ogg" && extension != "aac" && extension != "m4a";
      expected.emplace_back(name, damage == "cut" && states_length ? "audio_truncated" : "");
    }
  }
  testing::RunFfmpeg({"-f", "lavfi", "-i", "aevalsrc=0.5*sin(2*PI*1000*t):s=44100:d=1", "-c:a",
                      "libvorbis", (staging / "comment.ogg").string()});
  testing::DamageOggVorbisComment(staging / "comment.ogg");
  expected.emplace_back("comment.ogg", "codec_ogg_opus_unsupported");
  // A second of audio in several pages claiming to last 37 minutes: the claim must not be made
  // room for.
  testing::RunFfmpeg({"-f", "lavfi", "-i", "aevalsrc=0.5*sin(2*PI*1000*t)|0:s=44100:d=1", "-c:a",
                      "libvorbis", "-page_duration", "100000",
                      (staging / "long-claim.ogg").string()});
  testing::ClaimOggLength(staging / "long-claim.ogg", 100'000'000);
  expected.emplace_back("long-claim.ogg", "");
  const std::string audio(88200, '\x10');
  const std::vector<std::tuple<std::string, std::string, std::string>> headers = {
      {"empty-data.wav", testing::FmtBody(1, 1, 44100, 16, 2), "decode_failed"},
      {"no-channels.wav", testing::FmtBody(1, 0, 44100, 16, 2), "channel_count_unsupported"},
      {"one-hertz.wav", testing::FmtBody(1, 1, 1, 16, 2), "sample_rate_unsupported"},
      {"eight-hertz.wav", testing::FmtBody(1, 2, 8, 16, 4), "sample_rate_unsupported"}};
  for (const auto& [name, fmt, code] : headers) {
    const uint32_t declared = name == "empty-data.wav" ? 0 : UINT32_MAX;
    testing::WriteFile(staging / name, testing::RiffWave({{"fmt ", fmt}, {"data", audio, declared}}));
    expected.emplace_back(name, code);
  }
  // The same files in the inbox and in the library.
  for (const auto& [name, code] : expected) {
    fs::copy_file(staging / name, inbox_ / name);
    fs::copy_file(staging / name, audio_ / name);
  }

  ASSERT_TRUE(StartProgram(Settings())) << program_->Stderr();
  const long idle = ResidentMemoryKiB();
  JsonValue paths = JsonValue::MakeArray();
  for (const auto& [name, code] : expected) paths.PushBack(Text(audio_ / name));
  ApiReply health = Post("/api/mixer/files/volume-health", Json({{"paths", paths}}));
  ASSERT_EQ(health.status, 200) << health.http.body;
  for (const JsonValue& verdict : health.json.Find("files")->array_value) {
    const std::string state = verdict.GetString("state", "");
    EXPECT_TRUE(state != "unknown" || !verdict.GetString("error_code", "").empty())
        << verdict.Serialize(0);
  }

  // One file a scan, each once settled.
  for (auto end = std::chrono::steady_clock::now() + 120s;
       LedgerRecords().size() < expected.size() && std::chrono::steady_clock::now() < end;) {
    std::this_thread::sleep_for(500ms);
  }
  ASSERT_EQ(LedgerRecords().size(), expected.size()) << program_->Stderr();
  for (const JsonValue& record : LedgerRecords()) {
    const std::string name = fs::path(record.GetString("source_path", "")).filename().string();
    SCOPED_TRACE(name);
    const auto found = std::find_if(expected.begin(), expected.end(),
                                    [&](const auto& entry) { return entry.first == name; });
    ASSERT_NE(found, expected.end());
    if (!found->second.empty()) {
      EXPECT_TRUE(record.GetBool("failed", false));
      EXPECT_EQ(record.GetString("code", ""), found->second);
    } else if (record.GetBool("failed", false)) {
      EXPECT_NE(record.GetString("code", ""), "");
    } else {
      EXPECT_TRUE(fs::exists(record.GetString("prepared_path", "")));
    }
  }
  EXPECT_LT(PeakMemoryKiB() - idle, 100 * 1024) << "peak over idle, in KiB";

  for (int restart = 0; restart < 2; ++restart) {
    SCOPED_TRACE(restart);
    Restart();
    std::this_thread::sleep_for(5s);  // two scans of the inbox
    ASSERT_TRUE(program_->Running()) << program_->Stderr();
    ApiReply list = Post("/api/mixer/files", JsonValue::MakeObject());
    ASSERT_EQ(list.status, 200) << list.http.body;
    std::vector<std::string> listed;
    for (const JsonValue& file : list.json.Find("files")->array_value) {
      listed.push_back(file.GetString("name", ""));
    }
    for (const auto& [name, code] : expected) {
      EXPECT_NE(std::find(listed.begin(), listed.end(), name), listed.end()) << name;
    }
    EXPECT_EQ(LedgerRecords().size(), expected.size()) << "nothing is handled twice";
  }
  for (const auto& [name, code] : expected) {
    EXPECT_TRUE(testing::ReadFile(inbox_ / name) == testing::ReadFile(staging / name)) << name;
    EXPECT_TRUE(testing::ReadFile(audio_ / name) == testing::ReadFile(staging / name)) << name;
  }
}

}  // namespace
}  // namespace zennic
