// The Sound Inbox as a user meets it: downloads landing in a watched folder while the program
// runs, what it remembers across restarts, and a folder chosen with sounds already in it.

#include <gtest/gtest.h>
#include <signal.h>

#include <optional>
#include <thread>

#include "core/json_value.h"
#include "integration/sound_library_fixture.h"
#include "sound_files/wav_file.h"
#include "support/program_process.h"
#include "support/run_command.h"
#include "support/temp_folder.h"

namespace zennic {
namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;
using testing::ProgramProcess;
using testing::ReadFile;

constexpr uint64_t kSilenceFrames = 72000;  // the 1.5 s appended to every prepared clip
// A scan every 2 s, 5 s of quiet before a file is taken, one file per scan: this is ample.
constexpr auto kPreparationTimeout = 30s;

// A one-second 1 kHz tone at half of full scale on every channel, encoded by ffmpeg with the
// given options.
void MakeTone(const fs::path& path, int rate, int channels, std::vector<std::string> options) {
  std::string expression = "0.5*sin(2*PI*1000*t)";
  for (int c = 1; c < channels; ++c) expression += "|0.5*sin(2*PI*1000*t)";
  std::vector<std::string> arguments = {
      "ffmpeg", "-hide_banner", "-loglevel",
      "error",  "-y",           "-f",
      "lavfi",  "-i",           "aevalsrc=" + expression + ":s=" + std::to_string(rate) + ":d=1"};
  arguments.insert(arguments.end(), options.begin(), options.end());
  arguments.push_back(path.string());
  std::string output;
  ASSERT_EQ(testing::RunCommand(arguments, &output), 0) << output;
}

class SoundInboxProgram : public ::testing::Test {
 protected:
  SoundInboxProgram() : options_(testing::IsolatedProgramOptions(folder_.path())) {
    fs::create_directories(inbox_);
    fs::create_directories(staging_);
    JsonValue settings = JsonValue::MakeObject();
    settings["version"] = 3.0;
    settings["sound_inbox_enabled"] = true;
    settings["sound_inbox_dir"] = inbox_.string();
    testing::WriteFile(Root() / "settings.json", settings.Serialize(2));
  }

  std::unique_ptr<ProgramProcess> Start(const std::string& name) {
    fs::create_directories(folder_ / name);
    auto program = std::make_unique<ProgramProcess>(options_, folder_ / name);
    EXPECT_TRUE(program->Start());
    EXPECT_TRUE(program->WaitForStderr("Ruzerad started", 10s)) << program->Stderr();
    return program;
  }
  static void Stop(ProgramProcess& program) {
    program.Signal(SIGTERM);
    EXPECT_EQ(program.WaitForExit(10s), 0) << program.Stderr();
  }

  // Lands a finished download in the inbox at once, as a browser's final rename does.
  void Download(const fs::path& staged) {
    fs::copy_file(staged, staging_ / "landing.tmp", fs::copy_options::overwrite_existing);
    fs::rename(staging_ / "landing.tmp", inbox_ / staged.filename());
  }

  bool WaitForClip(const std::string& name, std::chrono::seconds timeout = kPreparationTimeout) {
    for (auto end = std::chrono::steady_clock::now() + timeout;
         std::chrono::steady_clock::now() < end; std::this_thread::sleep_for(100ms)) {
      if (fs::exists(sounds_ / name)) return true;
    }
    return false;
  }
  // The clips in the profile's folder, without the category folders and the kept originals.
  std::vector<std::string> Clips() const {
    std::vector<std::string> names;
    for (const auto& entry : fs::directory_iterator(sounds_)) {
      if (entry.is_regular_file()) names.push_back(entry.path().filename().string());
    }
    std::sort(names.begin(), names.end());
    return names;
  }
  JsonValue Ledger() const {
    JsonValue ledger;
    EXPECT_TRUE(JsonValue::Parse(ReadFile(Root() / "sound_inbox_state.json"), &ledger, nullptr));
    return ledger;
  }
  // The ledger's record of a download, waiting a while for it: a clip is in place a moment
  // before its record is.
  std::optional<JsonValue> WaitForLedgerRecord(const std::string& source_name) const {
    for (auto end = std::chrono::steady_clock::now() + kPreparationTimeout;
         std::chrono::steady_clock::now() < end; std::this_thread::sleep_for(100ms)) {
      if (std::optional<JsonValue> record = LedgerRecord(source_name)) return record;
    }
    return std::nullopt;
  }
  // Nothing while the ledger is missing or cannot be read.
  std::optional<JsonValue> LedgerRecord(const std::string& source_name) const {
    JsonValue ledger;
    std::error_code missing;
    if (!fs::exists(Root() / "sound_inbox_state.json", missing) ||
        !JsonValue::Parse(ReadFile(Root() / "sound_inbox_state.json"), &ledger, nullptr)) {
      return std::nullopt;
    }
    const JsonValue* records = ledger.Find("records");
    if (records == nullptr) return std::nullopt;
    for (const JsonValue& record : records->array_value) {
      if (record.GetString("source_path", "") == (inbox_ / source_name).string()) return record;
    }
    return std::nullopt;
  }

  fs::path Root() const { return folder_ / "data/Ruzerad"; }

  testing::TempFolder folder_;
  ProgramProcess::Options options_;
  fs::path inbox_ = folder_ / "home/Downloads/Sound Inbox";
  fs::path staging_ = folder_ / "staging";
  // The default profile's folder for this user.
  fs::path sounds_ = folder_ / "home/Documents/Ruzerad/Sounds";
};

// Decodes a prepared clip and checks what every one must be.
DecodedWavData ReadPrepared(const fs::path& path) {
  DecodedWavData clip;
  std::string error;
  EXPECT_TRUE(DecodeWavFile(path, &clip, &error)) << path << ": " << error;
  EXPECT_EQ(clip.codec, "PCM16") << path;
  EXPECT_EQ(clip.sample_rate, 48000u) << path;
  EXPECT_EQ(clip.channels, 2) << path;
  EXPECT_GE(clip.frame_count, kSilenceFrames) << path;
  // Above half its peak a sine spends two thirds of its time.
  const size_t sound = clip.samples.size() - kSilenceFrames * 2;
  size_t loud = 0;
  for (size_t i = 0; i < sound; ++i) {
    if (std::abs(clip.samples[i]) > 0.25f) ++loud;
  }
  EXPECT_GT(loud, sound / 2) << path << ": the tone is there on both sides";
  for (size_t i = clip.samples.size() - kSilenceFrames * 2; i < clip.samples.size(); ++i) {
    if (clip.samples[i] != 0.0f) {
      ADD_FAILURE() << path << ": the last 1.5 s must be silent, sample " << i;
      break;
    }
  }
  return clip;
}

TEST_F(SoundInboxProgram, DownloadsOfEachFormatBecomeClipsOfTheActiveProfile) {
  MakeTone(staging_ / "Airhorn (1).mp3", 44100, 1, {"-c:a", "libmp3lame"});
  MakeTone(staging_ / "Beep.wav", 22050, 2, {"-c:a", "pcm_s16le"});
  MakeTone(staging_ / "Voice: hello?.m4a", 48000, 2, {"-c:a", "aac"});
  testing::WriteFile(staging_ / "broken.mp3", std::string(8000, '\x55'));
  auto program = Start("run");
  for (const char* name : {"Airhorn (1).mp3", "Beep.wav", "Voice: hello?.m4a", "broken.mp3"}) {
    Download(staging_ / name);
  }

  ASSERT_TRUE(WaitForClip("Airhorn (1).wav")) << program->Stderr();
  ASSERT_TRUE(WaitForClip("Beep.wav")) << program->Stderr();
  ASSERT_TRUE(WaitForClip("Voice_ hello_.wav")) << program->Stderr();
  ReadPrepared(sounds_ / "Airhorn (1).wav");
  ReadPrepared(sounds_ / "Voice_ hello_.wav");
  EXPECT_EQ(ReadPrepared(sounds_ / "Beep.wav").frame_count, 48000u + kSilenceFrames);
  for (const char* name : {"Airhorn (1).mp3", "Beep.wav", "Voice: hello?.m4a"}) {
    EXPECT_EQ(ReadFile(inbox_ / name), ReadFile(staging_ / name)) << "the download stays as it was";
    EXPECT_EQ(ReadFile(sounds_ / "_originals/_inbox" / name), ReadFile(staging_ / name));
    const std::optional<JsonValue> record = WaitForLedgerRecord(name);
    ASSERT_TRUE(record.has_value()) << name;
    EXPECT_FALSE(record->GetBool("failed", true));
    EXPECT_EQ(record->GetString("code", "?"), "");
  }

  // The broken download is handled in its turn, as a failure with its reason.
  const std::optional<JsonValue> broken = WaitForLedgerRecord("broken.mp3");
  ASSERT_TRUE(broken.has_value()) << program->Stderr();
  EXPECT_TRUE(broken->GetBool("failed", false));
  EXPECT_NE(broken->GetString("code", ""), "");
  EXPECT_EQ(broken->GetString("prepared_path", "?"), "");
  EXPECT_TRUE(fs::exists(inbox_ / "broken.mp3"));
  EXPECT_NE(program->Stderr().find("[SoundInboxService] Could not prepare " +
                                   (inbox_ / "broken.mp3").string() + ": "),
            std::string::npos)
      << "the reason is logged with the file";
  EXPECT_EQ(Clips(),
            (std::vector<std::string>{"Airhorn (1).wav", "Beep.wav", "Voice_ hello_.wav"}));
  Stop(*program);
}

TEST_F(SoundInboxProgram, ADownloadStillBeingWrittenIsTakenOnlyWhenComplete) {
  MakeTone(staging_ / "long.wav", 48000, 2, {"-c:a", "pcm_s16le"});
  const std::string whole = ReadFile(staging_ / "long.wav");
  auto program = Start("run");
  // Written a piece a second for 8 s, so no scan ever sees it unchanged for 5 s.
  const size_t pieces = 8;
  for (size_t i = 1; i <= pieces; ++i) {
    testing::WriteFile(inbox_ / "growing.wav", whole.substr(0, whole.size() * i / pieces));
    std::this_thread::sleep_for(1s);
    ASSERT_TRUE(Clips().empty()) << "taken while still growing, after piece " << i;
  }
  ASSERT_TRUE(WaitForClip("growing.wav")) << program->Stderr();
  EXPECT_EQ(ReadPrepared(sounds_ / "growing.wav").frame_count, 48000u + kSilenceFrames);
  std::this_thread::sleep_for(3s);
  EXPECT_EQ(Clips(), std::vector<std::string>{"growing.wav"}) << "taken once, whole";
  Stop(*program);
}

TEST_F(SoundInboxProgram, RestartsHonourTheLedgerAndADamagedOneIsReplaced) {
  MakeTone(staging_ / "Horn.mp3", 44100, 1, {"-c:a", "libmp3lame"});
  auto first = Start("first");
  Download(staging_ / "Horn.mp3");
  ASSERT_TRUE(WaitForClip("Horn.wav")) << first->Stderr();
  Stop(*first);

  // Long enough for the file to have settled and been offered twice over.
  auto second = Start("second");
  std::this_thread::sleep_for(10s);
  EXPECT_EQ(Clips(), std::vector<std::string>{"Horn.wav"}) << "nothing handled is prepared again";
  Stop(*second);
  ASSERT_EQ(Ledger().Find("records")->array_value.size(), 1u);

  testing::WriteFile(Root() / "sound_inbox_state.json", "{\"records\": [{\"source_pa");
  auto third = Start("third");
  ASSERT_TRUE(WaitForClip("Horn-2.wav")) << "the inbox works on without its ledger";
  EXPECT_TRUE(fs::exists(inbox_ / "Horn.mp3"));
  const std::optional<JsonValue> record = WaitForLedgerRecord("Horn.mp3");
  ASSERT_TRUE(record.has_value()) << "a sound ledger is written again";
  EXPECT_EQ(record->GetString("prepared_path", ""), (sounds_ / "Horn-2.wav").string());
  Stop(*third);
}

using SoundInboxChosen = testing::SoundLibraryTest;

TEST_F(SoundInboxChosen, SoundsAlreadyInTheChosenFolderStayAndOnlyANewArrivalIsPrepared) {
  // Until then the inbox watched another folder, where it is still preparing a long download
  // when the user chooses the new one.
  const fs::path earlier = folder_ / "Earlier";
  fs::create_directories(earlier);
  JsonValue settings = ProfileSettings();
  settings["sound_inbox_enabled"] = true;
  settings["sound_inbox_dir"] = Text(earlier);
  ASSERT_TRUE(StartProgram(settings));

  const fs::path downloads = folder_ / "Downloads";
  fs::create_directories(downloads);
  const std::vector<std::string> present = {"song.wav", "ringtone.wav", "voice memo.wav"};
  for (const std::string& name : present) {
    testing::WriteToneWav(downloads / name, 1.0, 0.5, 44100, 1);
  }
  const std::string before = ReadFile(downloads / "song.wav");

  testing::WriteToneWav(folder_ / "long talk.wav", 540.0, 0.5, 44100, 1);
  fs::rename(folder_ / "long talk.wav", earlier / "long talk.wav");
  bool preparing = false;
  for (auto end = std::chrono::steady_clock::now() + kPreparationTimeout;
       !preparing && std::chrono::steady_clock::now() < end; std::this_thread::sleep_for(10ms)) {
    preparing = Post("/api/mixer/sound-inbox/status", JsonValue::MakeObject())
                    .json["sound_inbox"]
                    .GetString("phase", "") == "preparing";
  }
  ASSERT_TRUE(preparing) << program_->Stderr();

  testing::ApiReply chosen =
      Post("/api/mixer/sound-inbox/configure",
           testing::Json({{"enabled", true}, {"folder_path", Text(downloads)}}));
  // Lands the moment the answer comes, before the inbox has scanned the folder.
  testing::WriteToneWav(downloads / "new download.wav", 1.0, 0.5, 44100, 1);
  ASSERT_EQ(chosen.status, 200) << chosen.http.raw;
  // The sounds already there were seen first: prepared, they would have come first.
  bool prepared = false;
  for (auto end = std::chrono::steady_clock::now() + kPreparationTimeout;
       !prepared && std::chrono::steady_clock::now() < end; std::this_thread::sleep_for(100ms)) {
    prepared = fs::exists(audio_ / "new download.wav");
  }
  ASSERT_TRUE(prepared) << program_->Stderr();
  std::this_thread::sleep_for(2500ms);
  testing::ApiReply files = Post("/api/mixer/files", JsonValue::MakeObject());
  std::vector<std::string> listed;
  for (const JsonValue& file : files.json["files"].array_value) {
    listed.push_back(file.GetString("name", ""));
  }
  EXPECT_EQ(listed, (std::vector<std::string>{"long talk.wav", "new download.wav"}));
  for (const std::string& name : present) EXPECT_TRUE(fs::exists(downloads / name)) << name;
  EXPECT_EQ(ReadFile(downloads / "song.wav"), before) << "what was there is left as it was";
}

}  // namespace
}  // namespace zennic
