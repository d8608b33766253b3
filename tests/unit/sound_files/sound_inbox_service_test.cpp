#include "sound_files/sound_inbox_service.h"

#include <gtest/gtest.h>

#include <thread>

#include "core/app_paths.h"
#include "core/files.h"
#include "model/runtime_state.h"
#include "sound_files/analyzer_service.h"
#include "sound_files/converter_service.h"
#include "sound_files/sound_inbox_folder.h"
#include "sound_files/wav_file.h"
#include "sound_fixtures.h"
#include "support/temp_folder.h"

namespace zennic {
namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;
using testing::ReadFile;
using testing::TempFolder;

// A WAV of `seconds` of a tone at 44.1 kHz mono, which the inbox must convert.
void MakeDownload(const fs::path& path, double seconds = 0.5) {
  testing::MakeToneFile(path, {.sample_rate = 44100, .channels = 1, .seconds = seconds},
                        {"-c:a", "pcm_s16le"});
}

std::vector<SoundInboxRecord> ReadLedger(const fs::path& file) {
  JsonValue document;
  EXPECT_TRUE(JsonValue::Parse(ReadFile(file), &document, nullptr));
  return ParseSoundInboxLedgerJson(document);
}

class SoundInbox : public ::testing::Test {
 protected:
  void SetUp() override {
    fs::create_directories(inbox_);
    fs::create_directories(profile_);
    settings_.sound_inbox_enabled = true;
    settings_.sound_inbox_dir = inbox_.string();
    settings_.profiles = {Profile{"default", "Default", profile_.string()}};
    settings_.selected_profile_id = "default";
  }

  std::unique_ptr<SoundInboxService> MakeService() {
    return std::make_unique<SoundInboxService>(nullptr, nullptr, &converter_, ledger_, logs_);
  }
  // One scan `seconds` after the test's start.
  SoundInboxStatus ScanAt(double seconds, SoundInboxService* service = nullptr) {
    if (service == nullptr) service = service_.get();
    const auto at = start_ + std::chrono::duration_cast<Clock::duration>(
                                 std::chrono::duration<double>(seconds));
    service->ScanOnce(settings_, at, nullptr);
    return service->GetStatus();
  }
  std::vector<std::string> Clips() const {
    std::vector<std::string> names;
    for (const auto& entry : fs::directory_iterator(profile_)) {
      if (entry.is_regular_file()) names.push_back(entry.path().filename().string());
    }
    std::sort(names.begin(), names.end());
    return names;
  }

  TempFolder folder_;
  fs::path inbox_ = folder_ / "Downloads";
  fs::path profile_ = folder_ / "Sounds";
  fs::path ledger_ = folder_ / "data/sound_inbox_state.json";
  fs::path logs_ = folder_ / "data/logs";
  MixerSettings settings_;
  AnalyzerService analyzer_{AnalyzerServiceOptions{}};
  ConverterService converter_{&analyzer_};
  std::unique_ptr<SoundInboxService> service_ = MakeService();
  Clock::time_point start_ = Clock::now();
};

TEST_F(SoundInbox, ASettledDownloadIsPreparedOnceAndCounted) {
  EXPECT_EQ(ScanAt(0).phase, "watching");
  MakeDownload(inbox_ / "Airhorn.wav");
  SoundInboxStatus status = ScanAt(2);
  EXPECT_EQ(status.phase, "detected");
  EXPECT_EQ(status.message, "New sound detected");
  EXPECT_EQ(status.pending_count, 1u);
  EXPECT_EQ(ScanAt(6).phase, "detected") << "4 seconds unchanged is not yet settled";
  EXPECT_TRUE(Clips().empty());

  status = ScanAt(8);
  EXPECT_EQ(status.phase, "ready") << status.message;
  EXPECT_EQ(status.message, "Ready");
  EXPECT_EQ(status.imported_count, 1u);
  EXPECT_EQ(status.pending_count, 0u);
  EXPECT_EQ(status.revision, 1u);
  EXPECT_EQ(status.last_source_path, (inbox_ / "Airhorn.wav").string());
  EXPECT_EQ(status.last_prepared_path, (profile_ / "Airhorn.wav").string());
  EXPECT_EQ(Clips(), std::vector<std::string>{"Airhorn.wav"});
  WavFormatInfo format;
  ASSERT_TRUE(ReadWavFormatInfo(profile_ / "Airhorn.wav", &format, nullptr));
  EXPECT_EQ(format.sample_rate, 48000u);
  EXPECT_EQ(format.channels, 2);
  EXPECT_EQ(format.frame_count, 24000u + 72000u);
  EXPECT_TRUE(fs::exists(inbox_ / "Airhorn.wav"));

  status = ScanAt(10);
  EXPECT_EQ(status.phase, "watching");
  EXPECT_EQ(status.imported_count, 1u);
  EXPECT_EQ(status.revision, 1u) << "nothing new to see";
  EXPECT_EQ(Clips(), std::vector<std::string>{"Airhorn.wav"});

  const std::vector<SoundInboxRecord> ledger = ReadLedger(ledger_);
  ASSERT_EQ(ledger.size(), 1u);
  EXPECT_EQ(ledger[0].prepared_path, (profile_ / "Airhorn.wav").string());
  EXPECT_EQ(ledger[0].backup_path, (profile_ / "_originals/_inbox/Airhorn.wav").string());
  EXPECT_FALSE(ledger[0].failed);
  EXPECT_EQ(ledger[0].source_size, fs::file_size(inbox_ / "Airhorn.wav"));
}

TEST_F(SoundInbox, AGrowingFileWaitsUntilItHasSettled) {
  MakeDownload(inbox_ / "partial.wav", 2.0);
  const std::string whole = ReadFile(inbox_ / "partial.wav");
  testing::WriteFile(inbox_ / "partial.wav", whole.substr(0, whole.size() / 2));
  EXPECT_EQ(ScanAt(0).pending_count, 1u);
  testing::WriteFile(inbox_ / "partial.wav", whole);
  EXPECT_EQ(ScanAt(6).phase, "detected") << "it changed: its wait starts again";
  EXPECT_EQ(ScanAt(10).phase, "detected");
  EXPECT_EQ(ScanAt(12).phase, "ready");
  WavFormatInfo format;
  ASSERT_TRUE(ReadWavFormatInfo(profile_ / "partial.wav", &format, nullptr));
  EXPECT_EQ(format.frame_count, 96000u + 72000u) << "the whole file was taken";
}

TEST_F(SoundInbox, FilesThatAreNotFinishedSoundsAreIgnored) {
  fs::create_directories(inbox_ / "sub");
  MakeDownload(inbox_ / "sub/notes.txt.wav");
  for (const char* name : {"song.mp3.crdownload", "clip.TMP", "clip.wav.part", "notes.txt"}) {
    fs::copy_file(inbox_ / "sub/notes.txt.wav", inbox_ / "sub" / name);
  }
  fs::remove(inbox_ / "sub/notes.txt.wav");
  testing::WriteFile(inbox_ / "empty.wav", "");
  // A link in the inbox to a sound elsewhere brings nothing in from there.
  MakeDownload(folder_ / "elsewhere.wav");
  fs::create_symlink(folder_ / "elsewhere.wav", inbox_ / "linked.wav");
  EXPECT_EQ(ScanAt(0).pending_count, 0u);
  const SoundInboxStatus status = ScanAt(10);
  EXPECT_EQ(status.phase, "watching");
  EXPECT_EQ(status.failed_count, 0u);
  EXPECT_FALSE(fs::exists(ledger_)) << "nothing was recorded";

  EXPECT_TRUE(IsPartialDownloadName("a/b.CrDownload"));
  EXPECT_FALSE(IsPartialDownloadName(".tmp")) << "a name that is only an extension has none";
  EXPECT_FALSE(IsPartialDownloadName("part"));
}

TEST_F(SoundInbox, AFileThatRemainsBrokenIsRecordedAsFailedAndStays) {
  testing::WriteFile(inbox_ / "broken.mp3", std::string(5000, '\x55'));
  ScanAt(0);
  std::string error;
  EXPECT_FALSE(service_->ScanOnce(settings_, start_ + 6s, &error));
  const SoundInboxStatus status = service_->GetStatus();
  EXPECT_EQ(status.phase, "failed");
  EXPECT_FALSE(status.code.empty());
  EXPECT_EQ(error, "Could not prepare " + (inbox_ / "broken.mp3").string() + ": " + status.message)
      << "the log line names the file";
  EXPECT_EQ(status.failed_count, 1u);
  EXPECT_EQ(status.last_prepared_path, "");
  EXPECT_TRUE(fs::exists(inbox_ / "broken.mp3"));
  EXPECT_TRUE(Clips().empty());
  const std::vector<SoundInboxRecord> ledger = ReadLedger(ledger_);
  ASSERT_EQ(ledger.size(), 1u);
  EXPECT_TRUE(ledger[0].failed);
  EXPECT_EQ(ledger[0].code, status.code);

  EXPECT_EQ(ScanAt(20).failed_count, 1u) << "not tried again while unchanged";
}

TEST_F(SoundInbox, AnOversizedDownloadIsRefusedAtOnceAndOnlyOnce) {
  testing::WriteFile(inbox_ / "exact.wav", "");
  fs::resize_file(inbox_ / "exact.wav", SoundInboxService::kMaxSourceBytes);
  SoundInboxStatus status = ScanAt(0);
  EXPECT_EQ(status.pending_count, 1u) << "exactly the limit is allowed";

  testing::WriteFile(inbox_ / "huge.wav", "");
  fs::resize_file(inbox_ / "huge.wav", SoundInboxService::kMaxSourceBytes + 1);
  status = ScanAt(1);
  EXPECT_EQ(status.phase, "failed");
  EXPECT_EQ(status.code, "sound_inbox_too_large");
  EXPECT_EQ(status.message, "Inbox audio file is too large to prepare safely");
  EXPECT_EQ(status.last_source_path, (inbox_ / "huge.wav").string());
  EXPECT_EQ(status.failed_count, 1u);
  EXPECT_EQ(status.revision, 1u);
  EXPECT_EQ(ReadLedger(ledger_).at(0).code, "sound_inbox_too_large");

  status = ScanAt(2);
  EXPECT_EQ(status.failed_count, 1u);
  EXPECT_EQ(status.pending_count, 1u);
}

TEST_F(SoundInbox, TooManyFilesEndTheScan) {
  for (int i = 0; i < 2001; ++i) testing::WriteFile(inbox_ / (std::to_string(i) + ".txt"), "");
  EXPECT_EQ(ScanAt(0).phase, "watching") << "2001 files and no further entry";
  testing::WriteFile(inbox_ / "one more.txt", "");
  MakeDownload(inbox_ / "old.wav");
  service_->WatchFromNow(inbox_, [] { return true; });
  const SoundInboxStatus status = ScanAt(2);
  EXPECT_EQ(status.phase, "failed");
  EXPECT_EQ(status.code, "sound_inbox_too_many_files");
  EXPECT_EQ(status.message, "Sound Inbox has too many files to scan safely");

  // Chosen while too full to count, the folder's sounds are counted by the first scan that can.
  fs::remove(inbox_ / "one more.txt");
  fs::remove(inbox_ / "0.txt");
  EXPECT_EQ(ScanAt(4).pending_count, 0u);
  EXPECT_EQ(ScanAt(10).phase, "watching");
  EXPECT_TRUE(Clips().empty());
}

TEST_F(SoundInbox, AFileRemovedBeforeItSettledIsForgotten) {
  MakeDownload(inbox_ / "a.wav");
  MakeDownload(inbox_ / "b.wav");
  EXPECT_EQ(ScanAt(0).pending_count, 2u);
  fs::remove(inbox_ / "a.wav");
  const SoundInboxStatus status = ScanAt(2);
  EXPECT_EQ(status.pending_count, 1u);
  EXPECT_EQ(ScanAt(6).last_source_path, (inbox_ / "b.wav").string());
}

TEST_F(SoundInbox, OneFileIsPreparedPerScanInTheOrderSeen) {
  MakeDownload(inbox_ / "first.wav");
  ScanAt(0);
  MakeDownload(inbox_ / "second.wav");
  ScanAt(2);
  EXPECT_EQ(ScanAt(7).last_source_path, (inbox_ / "first.wav").string());
  EXPECT_EQ(Clips(), std::vector<std::string>{"first.wav"});
  EXPECT_EQ(ScanAt(9).last_source_path, (inbox_ / "second.wav").string());
  EXPECT_EQ(Clips(), (std::vector<std::string>{"first.wav", "second.wav"}));
}

TEST_F(SoundInbox, TheLedgerIsHonouredAfterARestart) {
  MakeDownload(inbox_ / "Airhorn.wav");
  // A last-write time with every digit used, as real files have.
  fs::last_write_time(inbox_ / "Airhorn.wav",
                      fs::last_write_time(inbox_ / "Airhorn.wav") + 123456789ns);
  ScanAt(0);
  ASSERT_EQ(ScanAt(6).phase, "ready");

  service_ = MakeService();
  EXPECT_EQ(ScanAt(20).pending_count, 0u) << "the file read back from the ledger is known";
  EXPECT_EQ(ScanAt(30).imported_count, 0u);
  EXPECT_EQ(Clips(), std::vector<std::string>{"Airhorn.wav"});

  // Changed afterwards, it is a new file.
  MakeDownload(inbox_ / "Airhorn.wav", 0.25);
  ScanAt(40);
  EXPECT_EQ(ScanAt(46).phase, "ready");
  EXPECT_EQ(Clips(), (std::vector<std::string>{"Airhorn-2.wav", "Airhorn.wav"}));
}

TEST_F(SoundInbox, SoundsLyingInTheFolderWhenItIsChosenStaySeenAcrossRestarts) {
  MakeDownload(inbox_ / "old song.wav");
  MakeDownload(inbox_ / "old beep.wav");
  service_->WatchFromNow(inbox_, [] { return true; });
  // Landed after the choice, before any scan: a new download.
  MakeDownload(inbox_ / "new.wav");
  EXPECT_EQ(ScanAt(0).pending_count, 1u);
  EXPECT_EQ(ScanAt(10).phase, "ready");

  service_ = MakeService();
  EXPECT_EQ(ScanAt(20).pending_count, 0u) << "the ledger keeps what was there";
  // Changed afterwards, a file that was there is a new download.
  MakeDownload(inbox_ / "old beep.wav", 0.25);
  EXPECT_EQ(ScanAt(22).pending_count, 1u);
  ScanAt(28);
  EXPECT_EQ(Clips(), (std::vector<std::string>{"new.wav", "old beep.wav"}));
}

TEST_F(SoundInbox, ADamagedLedgerIsReplacedAndTheInboxWorksOn) {
  MakeDownload(inbox_ / "a.wav");
  testing::WriteFile(ledger_, "{\"records\": [ {\"source_path\": ");
  ScanAt(0);
  EXPECT_EQ(ScanAt(6).phase, "ready");
  EXPECT_EQ(ReadLedger(ledger_).size(), 1u);
  EXPECT_NE(ReadFile(logs_ / "app.log").find("Sound Inbox ledger ignored"), std::string::npos);
  EXPECT_TRUE(fs::exists(inbox_ / "a.wav"));
}

TEST_F(SoundInbox, TheLedgerKeepsTheNewestFiveHundredRecords) {
  MakeDownload(inbox_ / "old.wav");
  MakeDownload(inbox_ / "recent.wav");
  const auto record_for = [](const fs::path& path) {
    SoundInboxRecord record;
    record.source_path = path.string();
    record.source_size = fs::file_size(path);
    record.modified_ticks = FileTimeToTicks(fs::last_write_time(path));
    return record;
  };
  std::vector<SoundInboxRecord> records{record_for(inbox_ / "old.wav")};
  for (int i = 0; i < 599; ++i) {
    SoundInboxRecord elsewhere;
    elsewhere.source_path = "/elsewhere/" + std::to_string(i) + ".wav";
    records.push_back(elsewhere);
  }
  records.back() = record_for(inbox_ / "recent.wav");
  WriteTextFileAtomic(ledger_, BuildSoundInboxLedgerJson(records).Serialize(0), nullptr);

  SoundInboxStatus status = ScanAt(0);
  EXPECT_EQ(status.pending_count, 1u) << "the oldest record fell out; the newest is kept";
  EXPECT_EQ(ScanAt(6).last_source_path, (inbox_ / "old.wav").string());
  const std::vector<SoundInboxRecord> ledger = ReadLedger(ledger_);
  ASSERT_EQ(ledger.size(), 500u);
  EXPECT_EQ(ledger[498].source_path, (inbox_ / "recent.wav").string());
  EXPECT_EQ(ledger[499].source_path, (inbox_ / "old.wav").string());
}

TEST_F(SoundInbox, LedgerReadingIsTolerant) {
  JsonValue document;
  ASSERT_TRUE(JsonValue::Parse(
      R"({"records": [1, {"source_path": ""}, {"source_path": "/a.wav", "source_size": -5,
          "modified_ticks": "x", "failed": "yes", "code": 7}], "version": 9})",
      &document, nullptr));
  const std::vector<SoundInboxRecord> records = ParseSoundInboxLedgerJson(document);
  ASSERT_EQ(records.size(), 1u);
  EXPECT_EQ(records[0].source_path, "/a.wav");
  EXPECT_EQ(records[0].source_size, 0u);
  EXPECT_EQ(records[0].modified_ticks, 0);
  EXPECT_FALSE(records[0].failed);
  EXPECT_EQ(records[0].code, "");
  EXPECT_TRUE(ParseSoundInboxLedgerJson(JsonValue("records")).empty());

  const JsonValue written = BuildSoundInboxLedgerJson(records);
  EXPECT_EQ(written.Serialize(0),
            R"({"records":[{"backup_path":"","code":"","failed":false,"imported_at":"",)"
            R"("modified_ticks":0,"prepared_path":"","source_path":"/a.wav","source_size":0}],)"
            R"("version":1})");
}

TEST_F(SoundInbox, ADisabledInboxSaysSoWithoutNewRevisions) {
  settings_.sound_inbox_enabled = false;
  MakeDownload(inbox_ / "a.wav");
  for (double at : {0.0, 2.0, 8.0}) {
    const SoundInboxStatus status = ScanAt(at);
    EXPECT_EQ(status.phase, "disabled");
    EXPECT_EQ(status.message, "Sound Inbox is disabled");
    EXPECT_FALSE(status.enabled);
    EXPECT_EQ(status.revision, 0u);
  }
  EXPECT_TRUE(Clips().empty());
}

TEST_F(SoundInbox, AFolderThatCannotBeTheInboxFailsEachScan) {
  settings_.sound_inbox_dir = (folder_ / "missing").string();
  SoundInboxStatus status = ScanAt(0);
  EXPECT_EQ(status.phase, "failed");
  EXPECT_EQ(status.code, "sound_inbox_folder_invalid");
  EXPECT_EQ(status.folder_path, settings_.sound_inbox_dir);
  EXPECT_EQ(ScanAt(2).revision, 2u);
}

TEST(SoundInboxFolder, OnlyARealFolderApartFromEveryProfileQualifies) {
  TempFolder folder;
  fs::create_directories(folder / "Sounds/Comedy");
  fs::create_directories(folder / "Downloads");
  fs::create_directories(folder / "SoundsMore");
  MixerSettings settings;
  settings.profiles = {Profile{"a", "A", (folder / "Sounds").string()},
                       Profile{"b", "B", "  "}};
  const auto check = [&](const fs::path& inbox) {
    std::string code = "stale";
    std::string message = "stale";
    const bool valid = ValidateSoundInboxFolder(settings, inbox, &code, &message);
    EXPECT_EQ(valid, code.empty()) << code;
    EXPECT_EQ(code.empty(), message.empty());
    return code;
  };
  EXPECT_EQ(check(folder / "Downloads"), "");
  EXPECT_EQ(check(folder / "SoundsMore"), "") << "a sibling that shares a prefix is apart";
  EXPECT_EQ(check(""), "sound_inbox_folder_required");
  EXPECT_EQ(check(folder / "missing"), "sound_inbox_folder_invalid");
  testing::WriteFile(folder / "file.txt", "x");
  EXPECT_EQ(check(folder / "file.txt"), "sound_inbox_folder_invalid");
  fs::create_directory_symlink(folder / "Downloads", folder / "link");
  EXPECT_EQ(check(folder / "link"), "sound_inbox_folder_invalid");
  EXPECT_EQ(check("/"), "sound_inbox_drive_root");
  EXPECT_EQ(check(folder / "Sounds"), "sound_inbox_profile_overlap");
  EXPECT_EQ(check(folder / "Sounds/Comedy"), "sound_inbox_profile_overlap");
  EXPECT_EQ(check(folder.path()), "sound_inbox_profile_overlap");
  fs::create_directory_symlink(folder / "Sounds", folder / "Sounds link");
  settings.profiles[0].audio_dir = (folder / "Sounds link").string();
  EXPECT_EQ(check(folder / "Sounds/Comedy"), "sound_inbox_profile_overlap")
      << "a profile reached through a link is the folder it names";

  std::string message;
  ValidateSoundInboxFolder(settings, folder.path(), nullptr, &message);
  EXPECT_EQ(message,
            "Sound Inbox cannot be inside a Ruzerad profile folder, and profile folders cannot "
            "be inside the inbox");
}

// The worker, with the settings in force in a real runtime state.
class SoundInboxWorker : public SoundInbox {
 protected:
  void SetUp() override {
    SoundInbox::SetUp();
    runtime_state_ = std::make_unique<RuntimeState>(SettingsStore(FillAppPaths(folder_ / "data"), {}, folder_ / "default sounds"));
    ASSERT_TRUE(runtime_state_->LoadSettings(nullptr));
    ASSERT_TRUE(runtime_state_->ReplaceSettings(settings_, false, nullptr));
    service_ = std::make_unique<SoundInboxService>(runtime_state_.get(), nullptr, &converter_,
                                                   ledger_, logs_);
  }
  void TearDown() override { service_.reset(); }

  template <typename Condition>
  bool WaitFor(Condition condition, std::chrono::seconds timeout) {
    for (auto end = Clock::now() + timeout; Clock::now() < end; std::this_thread::sleep_for(20ms)) {
      if (condition(service_->GetStatus())) return true;
    }
    return false;
  }

  std::unique_ptr<RuntimeState> runtime_state_;
};

TEST_F(SoundInboxWorker, PreparesADownloadOnItsOwn) {
  service_->Start();
  service_->Start();
  MakeDownload(inbox_ / "Airhorn.wav");
  ASSERT_TRUE(WaitFor([](const SoundInboxStatus& s) { return s.imported_count == 1; }, 20s))
      << service_->GetStatus().message;
  EXPECT_EQ(Clips(), std::vector<std::string>{"Airhorn.wav"});
  service_->Stop();
  service_->Stop();
}

TEST_F(SoundInboxWorker, WakeScansAtOnceWithTheNewSettings) {
  ASSERT_TRUE(runtime_state_->MutateSettings(
      [&](MixerSettings& s) { s.sound_inbox_dir = (folder_ / "missing").string(); }, false,
      nullptr));
  service_->Start();
  // Each failing scan advances the revision; three of them on the 2-second tick take 6 s.
  const Clock::time_point begin = Clock::now();
  for (uint32_t revision = 1; revision <= 3; ++revision) {
    service_->Wake();
    ASSERT_TRUE(WaitFor([&](const SoundInboxStatus& s) { return s.revision >= revision; }, 10s));
  }
  EXPECT_LT(Clock::now() - begin, 4s);

  ASSERT_TRUE(runtime_state_->MutateSettings(
      [&](MixerSettings& s) { s.sound_inbox_enabled = false; }, false, nullptr));
  service_->Wake();
  EXPECT_TRUE(WaitFor([](const SoundInboxStatus& s) { return s.phase == "disabled"; }, 10s));
}

TEST(SoundInboxSetUp, AServiceWithoutItsPartsLogsWhyAndKeepsRunning) {
  TempFolder folder;
  SoundInboxService service(nullptr, nullptr, nullptr, {}, folder / "logs");
  service.Start();
  service.Wake();
  for (int i = 0; i < 250 && !fs::exists(folder / "logs/app.log"); ++i) {
    std::this_thread::sleep_for(20ms);
  }
  EXPECT_NE(ReadFile(folder / "logs/app.log").find("[SoundInboxService] Sound Inbox service is not fully configured"),
            std::string::npos);
  EXPECT_EQ(service.GetStatus().phase, "disabled");
}

TEST(SoundInboxStatusJson, HasTheTwelveFields) {
  SoundInboxStatus status;
  status.enabled = true;
  status.pending_count = 2;
  status.revision = 7;
  EXPECT_EQ(BuildSoundInboxStatusJson(status).Serialize(0),
            R"({"code":null,"enabled":true,"failed_count":0,"folder_path":"","imported_count":0,)"
            R"("last_prepared_path":null,"last_source_path":null,"message":"","pending_count":2,)"
            R"("phase":"disabled","revision":7,"watching":false})");
}

}  // namespace
}  // namespace zennic
