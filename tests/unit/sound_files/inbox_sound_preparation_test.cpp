#include "sound_files/inbox_sound_preparation.h"

#include <gtest/gtest.h>
#include <sys/resource.h>

#include <csignal>

#include "sound_files/analyzer_service.h"
#include "sound_files/audio_decoding.h"
#include "sound_files/converter_service.h"
#include "sound_files/wav_file.h"
#include "sound_fixtures.h"
#include "support/temp_folder.h"

namespace zennic {
namespace {

namespace fs = std::filesystem;
using testing::ReadFile;
using testing::TempFolder;

constexpr uint64_t kSilenceFrames = 72000;  // 1.5 s at 48 kHz

struct Outcome {
  bool prepared = false;
  ImportedSoundResult result;
  std::string code;
  std::string message;
};

// Files in a folder and below it, by path relative to it.
std::vector<std::string> ListFiles(const fs::path& folder) {
  std::vector<std::string> names;
  for (const auto& entry : fs::recursive_directory_iterator(folder)) {
    if (entry.is_regular_file()) names.push_back(entry.path().lexically_relative(folder).string());
  }
  std::sort(names.begin(), names.end());
  return names;
}

// Limits the size of files this process writes for its lifetime, as a full disk would.
class FileSizeLimit {
 public:
  explicit FileSizeLimit(rlim_t bytes) {
    getrlimit(RLIMIT_FSIZE, &saved_);
    previous_handler_ = std::signal(SIGXFSZ, SIG_IGN);
    rlimit limit = saved_;
    limit.rlim_cur = bytes;
    EXPECT_EQ(setrlimit(RLIMIT_FSIZE, &limit), 0);
  }
  ~FileSizeLimit() {
    setrlimit(RLIMIT_FSIZE, &saved_);
    std::signal(SIGXFSZ, previous_handler_);
  }

 private:
  rlimit saved_{};
  void (*previous_handler_)(int) = SIG_DFL;
};

class InboxPreparation : public ::testing::Test {
 protected:
  void SetUp() override { fs::create_directories(profile_); }

  Outcome Prepare(const fs::path& source, double silence = 1.5, int64_t max_bytes = 78'643'200,
                  double max_seconds = 600.0) {
    Outcome outcome;
    outcome.code = "stale";
    outcome.message = "stale";
    outcome.prepared = converter_.PrepareInboxSound(profile_, source, silence, max_bytes,
                                                    max_seconds, &outcome.result, &outcome.code,
                                                    &outcome.message);
    return outcome;
  }

  TempFolder folder_;
  fs::path inbox_ = folder_ / "inbox";
  fs::path profile_ = folder_ / "profile";
  AnalyzerService analyzer_{AnalyzerServiceOptions{}};
  ConverterService converter_{&analyzer_};
};

TEST_F(InboxPreparation, ADownloadBecomesAPlayableClipWithSilenceAndAKeptOriginal) {
  const fs::path source = inbox_ / "Airhorn (1).mp3";
  fs::create_directories(inbox_);
  testing::MakeToneFile(source, {.sample_rate = 44100, .channels = 1, .seconds = 10},
                        {"-c:a", "libmp3lame"});
  const std::string source_bytes = ReadFile(source);
  DecodedAudioData decoded;
  ASSERT_TRUE(DecodeAudioFile(source, &decoded, nullptr));
  const uint64_t source_frames = decoded.samples.size();

  const Outcome outcome = Prepare(inbox_ / "." / "Airhorn (1).mp3");
  ASSERT_TRUE(outcome.prepared) << outcome.code << ": " << outcome.message;
  EXPECT_EQ(outcome.code, "");
  EXPECT_EQ(outcome.message, "");
  const ImportedSoundResult& result = outcome.result;
  EXPECT_EQ(result.source_path, source.string());
  EXPECT_EQ(result.prepared_path, (profile_ / "Airhorn (1).wav").string());
  EXPECT_EQ(result.backup_path, (profile_ / "_originals/_inbox/Airhorn (1).mp3").string());
  EXPECT_EQ(result.file_name, "Airhorn (1).wav");
  EXPECT_DOUBLE_EQ(result.duration_seconds, source_frames / 44100.0 + 1.5);

  DecodedWavData clip;
  ASSERT_TRUE(DecodeWavFile(result.prepared_path, &clip, nullptr));
  EXPECT_EQ(clip.codec, "PCM16");
  EXPECT_EQ(clip.sample_rate, 48000u);
  EXPECT_EQ(clip.channels, 2);
  EXPECT_EQ(clip.frame_count, (source_frames * 48000 + 22050) / 44100 + kSilenceFrames);
  EXPECT_NEAR(static_cast<double>(clip.frame_count), 480000 + kSilenceFrames, 48000 * 0.01);
  for (size_t i = clip.samples.size() - kSilenceFrames * 2; i < clip.samples.size(); ++i) {
    ASSERT_EQ(clip.samples[i], 0.0f) << "silence at the end, sample " << i;
  }
  EXPECT_NEAR(testing::FitTone(clip.samples, 2, 0, 48000, 1000.0).amplitude, 0.5, 0.05);

  EXPECT_EQ(ReadFile(result.backup_path), source_bytes);
  EXPECT_EQ(ReadFile(source), source_bytes) << "the download itself is never touched";
  EXPECT_EQ(ListFiles(profile_),
            (std::vector<std::string>{"Airhorn (1).wav", "_originals/_inbox/Airhorn (1).mp3"}))
      << "no work files are left";
}

TEST_F(InboxPreparation, TakenNamesGetANumberAndNamesAreMadeSafe) {
  fs::create_directories(inbox_);
  testing::MakeToneFile(inbox_ / "Airhorn.wav", {.seconds = 0.2}, {"-c:a", "pcm_s16le"});
  testing::WriteFile(profile_ / "Airhorn.wav", "someone else's clip");
  Outcome first = Prepare(inbox_ / "Airhorn.wav");
  ASSERT_TRUE(first.prepared) << first.message;
  EXPECT_EQ(first.result.file_name, "Airhorn-2.wav");
  Outcome second = Prepare(inbox_ / "Airhorn.wav");
  ASSERT_TRUE(second.prepared) << second.message;
  EXPECT_EQ(second.result.file_name, "Airhorn-3.wav");
  EXPECT_EQ(second.result.backup_path, (profile_ / "_originals/_inbox/Airhorn-2.wav").string());
  EXPECT_EQ(ReadFile(profile_ / "Airhorn.wav"), "someone else's clip");

  fs::copy_file(inbox_ / "Airhorn.wav", inbox_ / "...wav");
  Outcome dots = Prepare(inbox_ / "...wav");
  ASSERT_TRUE(dots.prepared) << dots.message;
  EXPECT_EQ(dots.result.file_name, "inbox_sound.wav");

  EXPECT_EQ(SanitizeInboxStem("a?b:c*d|e\"f<g>h\\i\tj.mp3"), "a_b_c_d_e_f_g_h_i_j");
  EXPECT_EQ(SanitizeInboxStem("  Grüße aus Köln . .mp3"), "Grüße aus Köln");
  EXPECT_EQ(SanitizeInboxStem(" .mp3"), "inbox_sound");
  EXPECT_EQ(SanitizeInboxStem("...mp3"), "inbox_sound");
  EXPECT_EQ(SanitizeInboxStem("folder/..mp3"), "inbox_sound");
}

TEST_F(InboxPreparation, SizeAndLengthLimitsAreCheckedBeforeDecoding) {
  fs::create_directories(inbox_);
  testing::WriteFile(inbox_ / "noise.mp3", std::string(1000, 'x'));
  Outcome large = Prepare(inbox_ / "noise.mp3", 1.5, 999);
  EXPECT_FALSE(large.prepared);
  EXPECT_EQ(large.code, "sound_inbox_too_large") << "refused before the content is looked at";
  EXPECT_EQ(large.message, "Inbox audio file is too large to prepare safely");
  EXPECT_NE(Prepare(inbox_ / "noise.mp3", 1.5, 1000).code, "sound_inbox_too_large");

  testing::MakeToneFile(inbox_ / "two.wav", {.sample_rate = 48000, .seconds = 2},
                        {"-c:a", "pcm_s16le"});
  Outcome longer = Prepare(inbox_ / "two.wav", 1.5, 0, 1.99);
  EXPECT_EQ(longer.code, "sound_inbox_too_large");
  EXPECT_EQ(longer.message, "Inbox audio file is too long to prepare safely");
  Outcome exact = Prepare(inbox_ / "two.wav", 1.5, 0, 2.0);
  ASSERT_TRUE(exact.prepared) << "the silence does not count against the limit";
  EXPECT_DOUBLE_EQ(exact.result.duration_seconds, 3.5);

  Outcome no_silence = Prepare(inbox_ / "two.wav", -1.0);
  ASSERT_TRUE(no_silence.prepared) << no_silence.message;
  EXPECT_DOUBLE_EQ(no_silence.result.duration_seconds, 2.0);
  WavFormatInfo format;
  ASSERT_TRUE(ReadWavFormatInfo(no_silence.result.prepared_path, &format, nullptr));
  EXPECT_EQ(format.frame_count, 96000u);
}

TEST_F(InboxPreparation, RefusalsCarryACodeAndLeaveNothingBehind) {
  fs::create_directories(inbox_);
  testing::MakeToneFile(inbox_ / "voice.ogg", {.sample_rate = 48000}, {"-c:a", "libopus"});
  Outcome opus = Prepare(inbox_ / "voice.ogg");
  EXPECT_EQ(opus.code, "codec_ogg_opus_unsupported");
  AudioFormatInfo probe;
  ASSERT_TRUE(AnalyzeAudioFile(inbox_ / "voice.ogg", &probe, nullptr));
  EXPECT_EQ(opus.message, probe.issue_message);

  testing::WriteFile(inbox_ / "broken.mp3", std::string(4000, '\x55'));
  Outcome broken = Prepare(inbox_ / "broken.mp3");
  EXPECT_FALSE(broken.prepared);
  EXPECT_FALSE(broken.code.empty());
  EXPECT_FALSE(broken.message.empty());
  EXPECT_EQ(broken.result.source_path, (inbox_ / "broken.mp3").string());
  EXPECT_EQ(broken.result.prepared_path, "");

  Outcome gone = Prepare(inbox_ / "gone.mp3");
  EXPECT_EQ(gone.code, "path_unavailable");
  EXPECT_EQ(gone.message, "The inbox audio file is no longer available");
  Outcome folder_as_source = Prepare(inbox_);
  EXPECT_EQ(folder_as_source.message, "The inbox audio file is no longer available");

  EXPECT_TRUE(ListFiles(profile_).empty()) << "nothing is made before the copy of the source";

  std::string code;
  std::string message;
  ImportedSoundResult result;
  EXPECT_FALSE(converter_.PrepareInboxSound(folder_ / "no profile", inbox_ / "voice.ogg", 1.5, 0,
                                            0, &result, &code, &message));
  EXPECT_EQ(code, "path_unavailable");
  EXPECT_EQ(message, "The active profile audio folder is not available");
  EXPECT_FALSE(converter_.PrepareInboxSound(profile_, inbox_ / "voice.ogg", 1.5, 0, 0, nullptr,
                                            &code, &message));
  EXPECT_EQ(code, "prepare_failed");
  EXPECT_EQ(message, "Imported sound result pointer is null");
}

TEST_F(InboxPreparation, AWriteCutShortLeavesNoHalfWrittenFile) {
  fs::create_directories(inbox_);
  testing::MakeToneFile(inbox_ / "long.mp3", {.seconds = 5}, {"-c:a", "libmp3lame"});
  const uintmax_t source_size = fs::file_size(inbox_ / "long.mp3");
  Outcome outcome;
  {
    // Room for the copy of the source, not for the clip.
    FileSizeLimit limit(source_size + 1000);
    outcome = Prepare(inbox_ / "long.mp3");
  }
  EXPECT_FALSE(outcome.prepared);
  EXPECT_EQ(outcome.code, "write_failed");
  EXPECT_EQ(ListFiles(profile_), (std::vector<std::string>{"_originals/_inbox/long.mp3"}))
      << "the copy of the source stays; no part of the clip does";

  fs::remove_all(profile_ / "_originals");
  {
    FileSizeLimit limit(source_size / 2);
    outcome = Prepare(inbox_ / "long.mp3");
  }
  EXPECT_EQ(outcome.code, "backup_failed");
  EXPECT_EQ(outcome.message.rfind("Failed to copy imported original: ", 0), 0u) << outcome.message;
  EXPECT_TRUE(ListFiles(profile_).empty()) << "a copy cut short is not left as the original";
}

}  // namespace
}  // namespace zennic
