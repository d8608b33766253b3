#include "sound_files/analyzer_service.h"

#include <gtest/gtest.h>

#include <regex>

#include "sound_files/wav_file.h"
#include "sound_fixtures.h"
#include "support/temp_folder.h"

namespace zennic {
namespace {

namespace fs = std::filesystem;
using testing::TempFolder;

AnalyzerServiceOptions WithMediaFoundation(bool available, std::string message = "") {
  AnalyzerServiceOptions options;
  options.preset = true;
  options.media_foundation_available = available;
  options.media_foundation_message = std::move(message);
  return options;
}

void WriteSilentWav(const fs::path& path, uint32_t rate, int32_t channels, size_t frames) {
  std::string error;
  ASSERT_TRUE(WriteWavFile(path, rate, channels, std::vector<int16_t>(frames * channels), &error))
      << error;
}

AnalyzerFileMetadata Analyze(AnalyzerService& analyzer, const fs::path& root,
                             const fs::path& path) {
  AnalyzerFileMetadata metadata;
  std::string error;
  EXPECT_TRUE(analyzer.AnalyzeFile(root, path, &metadata, &error)) << path << ": " << error;
  return metadata;
}

TEST(AnalyzerService, ATargetFormatWavIsPlayableAsItStands) {
  TempFolder folder;
  WriteSilentWav(folder / "ready.wav", 48000, 2, 24000);
  AnalyzerService analyzer(AnalyzerServiceOptions{});
  const AnalyzerFileMetadata m = Analyze(analyzer, folder.path(), folder / "ready.wav");
  EXPECT_EQ(m.compatibility_state, "compatible");
  EXPECT_TRUE(m.convertible);
  EXPECT_TRUE(m.playable_now);
  EXPECT_TRUE(m.issue_codes.empty());
  EXPECT_EQ(m.path, (folder / "ready.wav").string());
  EXPECT_EQ(m.relative_path, "ready.wav");
  EXPECT_EQ(m.name, "ready.wav");
  EXPECT_EQ(m.extension, ".wav");
  EXPECT_EQ(m.size_bytes, 44u + 24000 * 4);
  EXPECT_TRUE(std::regex_match(m.modified_utc, std::regex(R"(\d{4}-\d\d-\d\dT\d\d:\d\d:\d\dZ)")))
      << m.modified_utc;
  EXPECT_EQ(m.container, "WAV");
  EXPECT_EQ(m.codec, "PCM16");
  EXPECT_EQ(m.sample_rate, 48000);
  EXPECT_EQ(m.channels, 2);
  EXPECT_EQ(m.bits_per_sample, 16);
  EXPECT_EQ(m.duration_ms, 500);
}

TEST(AnalyzerService, EachDifferenceFromTheTargetIsAnIssueInOrder) {
  TempFolder folder;
  testing::MakeToneFile(folder / "mono24.wav",
                        {.sample_rate = 44100, .channels = 1, .seconds = 0.2},
                        {"-c:a", "pcm_s24le"});
  testing::MakeToneFile(folder / "song.mp3", {.sample_rate = 48000, .channels = 2, .seconds = 0.2},
                        {"-c:a", "libmp3lame"});
  testing::MakeToneFile(folder / "float.wav", {.sample_rate = 48000, .channels = 2, .seconds = 0.2},
                        {"-c:a", "pcm_f32le"});
  AnalyzerService analyzer(AnalyzerServiceOptions{});

  AnalyzerFileMetadata m = Analyze(analyzer, folder.path(), folder / "mono24.wav");
  EXPECT_EQ(m.compatibility_state, "needs_conversion");
  EXPECT_EQ(m.issue_codes,
            (std::vector<std::string>{"sample_rate_not_48000", "channel_count_not_stereo",
                                      "codec_not_pcm16"}));
  EXPECT_EQ(m.issue_messages,
            (std::vector<std::string>{"Sample rate must be 48000 Hz",
                                      "Channel count must be stereo", "Codec must be 16-bit PCM"}));
  EXPECT_TRUE(m.convertible);
  EXPECT_FALSE(m.playable_now);

  m = Analyze(analyzer, folder.path(), folder / "song.mp3");
  EXPECT_EQ(m.issue_codes, (std::vector<std::string>{"container_not_wav", "codec_not_pcm16"}));
  EXPECT_EQ(m.bits_per_sample, 0);
  EXPECT_EQ(m.duration_ms, 200);

  m = Analyze(analyzer, folder.path(), folder / "float.wav");
  EXPECT_EQ(m.codec, "Float32");
  EXPECT_EQ(m.issue_codes, (std::vector<std::string>{"codec_not_pcm16"}));
}

TEST(AnalyzerService, UndecodableFilesAreUnsupportedWithTheirReason) {
  TempFolder folder;
  testing::WriteFile(folder / "notes.txt", "text");
  testing::MakeToneFile(folder / "voice.ogg", {.seconds = 0.2}, {"-c:a", "libopus"});
  testing::MakeToneFile(folder / "phone.wav", {.seconds = 0.2}, {"-c:a", "pcm_alaw"});
  testing::MakeToneFile(folder / "clip.m4a", {.seconds = 0.2}, {"-c:a", "aac"});
  AnalyzerService analyzer(AnalyzerServiceOptions{});
  struct Case {
    const char* file;
    const char* code;
    const char* message;
  };
  for (const Case& c :
       {Case{"notes.txt", "codec_unsupported", "File extension is not supported by the analyzer"},
        Case{"voice.ogg", "codec_ogg_opus_unsupported",
             "Only Ogg Vorbis is supported in the current build"},
        Case{"phone.wav", "codec_unsupported", "WAV codec is not supported for conversion"}}) {
    SCOPED_TRACE(c.file);
    const AnalyzerFileMetadata m = Analyze(analyzer, folder.path(), folder / c.file);
    EXPECT_EQ(m.compatibility_state, "unsupported");
    EXPECT_FALSE(m.convertible);
    EXPECT_EQ(m.issue_codes, std::vector<std::string>{c.code});
    EXPECT_EQ(m.issue_messages, std::vector<std::string>{c.message});
  }
  EXPECT_EQ(Analyze(analyzer, folder.path(), folder / "clip.m4a").compatibility_state,
            "needs_conversion");

  AnalyzerService without_media(WithMediaFoundation(false));
  EXPECT_FALSE(without_media.media_foundation_available());
  AnalyzerFileMetadata m = Analyze(without_media, folder.path(), folder / "clip.m4a");
  EXPECT_EQ(m.compatibility_state, "unsupported");
  EXPECT_EQ(m.container, "M4A");
  EXPECT_EQ(m.codec, "Unknown");
  EXPECT_EQ(m.issue_codes, std::vector<std::string>{"media_feature_pack_required"});
  EXPECT_EQ(m.issue_messages[0],
            "AAC/M4A/WMA files require Windows Media Feature Pack. Install it from Settings > "
            "Apps > Optional features.");
  AnalyzerService with_message(WithMediaFoundation(false, "Install the media pack"));
  EXPECT_EQ(Analyze(with_message, folder.path(), folder / "clip.m4a").issue_messages[0],
            "Install the media pack");
}

TEST(AnalyzerService, FolderListingSkipsOriginalsAndOtherFilesAndSortsByPath) {
  TempFolder folder;
  fs::create_directories(folder / "sub" / "_ORIGINALS");
  fs::create_directories(folder / "_Originals");
  WriteSilentWav(folder / "b.wav", 48000, 2, 10);
  WriteSilentWav(folder / "A.wav", 48000, 2, 10);
  WriteSilentWav(folder / "sub" / "c.wav", 44100, 1, 10);
  WriteSilentWav(folder / "_Originals" / "kept.wav", 44100, 1, 10);
  WriteSilentWav(folder / "sub" / "_ORIGINALS" / "kept.wav", 44100, 1, 10);
  testing::WriteFile(folder / "notes.txt", "text");
  testing::WriteFile(folder / "broken.mp3", "not an mp3");
  fs::create_directory_symlink(folder / "sub", folder / "link");

  AnalyzerService analyzer(AnalyzerServiceOptions{});
  AnalyzeResult result;
  std::string error;
  ASSERT_TRUE(analyzer.AnalyzeFolder(folder.path(), (folder / "A.wav").string(), &result, &error))
      << error;
  EXPECT_EQ(result.root_dir, folder.path().string());
  std::vector<std::string> listed;
  // A failed record carries only its name, which then stands in for the path when sorting.
  for (const AnalyzerFileMetadata& file : result.files) {
    listed.push_back(file.relative_path.empty() ? file.name : file.relative_path);
  }
  EXPECT_EQ(listed, (std::vector<std::string>{"A.wav", "b.wav", "broken.mp3", "sub/c.wav"}));
  EXPECT_TRUE(result.files[0].playable_now);
  const AnalyzerFileMetadata& broken = result.files[2];
  EXPECT_EQ(broken.compatibility_state, "error");
  EXPECT_EQ(broken.issue_codes, std::vector<std::string>{"file_corrupt"});
  EXPECT_EQ(broken.issue_messages, std::vector<std::string>{"MP3 decoder could not open the file"});
  EXPECT_EQ(result.summary.total, 4);
  EXPECT_EQ(result.summary.compatible, 2);
  EXPECT_EQ(result.summary.needs_conversion, 1);
  EXPECT_EQ(result.summary.unsupported, 0);
  EXPECT_EQ(result.summary.error, 1);

  for (const fs::path& absent : {folder / "missing", folder / "b.wav", fs::path()}) {
    result.files.push_back({});
    ASSERT_TRUE(analyzer.AnalyzeFolder(absent, "", &result, &error)) << absent;
    EXPECT_TRUE(result.files.empty());
    EXPECT_EQ(result.summary.total, 0);
  }
}

TEST(AnalyzerService, PathListsKeepEveryRequestedFileAndTurnFailuresIntoRecords) {
  TempFolder folder;
  fs::create_directories(folder / "library");
  fs::create_directories(folder / "elsewhere");
  WriteSilentWav(folder / "library" / "a.wav", 48000, 2, 10);
  WriteSilentWav(folder / "elsewhere" / "b.wav", 48000, 2, 10);
  testing::WriteFile(folder / "library" / "notes.txt", "text");
  const fs::path root = folder / "library";
  AnalyzerService analyzer(AnalyzerServiceOptions{});
  AnalyzeResult result;
  std::string error;
  ASSERT_TRUE(
      analyzer.AnalyzePaths(root,
                            {root / "a.wav", root / "missing.wav", folder / "elsewhere/b.wav",
                             root / "notes.txt", root / "sub/../a.wav"},
                            &result, &error))
      << error;
  ASSERT_EQ(result.files.size(), 5u);
  // Sorted by relative path, else by name: the failed records carry only a name.
  EXPECT_EQ(result.files[0].relative_path, "a.wav");
  EXPECT_EQ(result.files[1].relative_path, "a.wav");
  EXPECT_EQ(result.files[2].name, "b.wav");
  EXPECT_EQ(result.files[2].issue_messages,
            std::vector<std::string>{"Path is outside the active profile folder"});
  EXPECT_EQ(result.files[3].name, "missing.wav");
  EXPECT_EQ(result.files[3].compatibility_state, "error");
  EXPECT_EQ(result.files[3].issue_codes, std::vector<std::string>{"file_corrupt"});
  EXPECT_EQ(result.files[3].issue_messages, std::vector<std::string>{"File could not be read"});
  EXPECT_EQ(result.files[3].container, "");
  EXPECT_EQ(result.files[4].compatibility_state, "unsupported");
  EXPECT_EQ(result.summary.total, 5);
  EXPECT_EQ(result.summary.compatible, 2);
  EXPECT_EQ(result.summary.unsupported, 1);
  EXPECT_EQ(result.summary.error, 2);
}

TEST(AnalyzerService, CachedAnalysisLastsWhileSizeAndWriteTimeStay) {
  TempFolder folder;
  const fs::path file = folder / "clip.wav";
  WriteSilentWav(file, 48000, 2, 100);
  AnalyzerService analyzer(AnalyzerServiceOptions{});
  EXPECT_EQ(Analyze(analyzer, folder.path(), file).compatibility_state, "compatible");

  // Rewritten in place with the same size and write time: the cached answer stands.
  const fs::file_time_type written = fs::last_write_time(file);
  WriteSilentWav(file, 44100, 2, 100);
  fs::last_write_time(file, written);
  EXPECT_EQ(Analyze(analyzer, folder.path(), file).compatibility_state, "compatible");
  // The same file by another spelling of its path shares the entry.
  EXPECT_EQ(Analyze(analyzer, folder.path(), folder / "." / "clip.wav").sample_rate, 48000);

  fs::last_write_time(file, written + std::chrono::seconds(2));
  EXPECT_EQ(Analyze(analyzer, folder.path(), file).compatibility_state, "needs_conversion");
}

TEST(AnalyzerService, NamesThatDifferInCaseAreTwoFilesListedInOneOrder) {
  TempFolder folder;
  // Same size and write time: only the exact name tells them apart.
  WriteSilentWav(folder / "horn.wav", 44100, 2, 100);
  WriteSilentWav(folder / "Horn.wav", 48000, 2, 100);
  fs::last_write_time(folder / "horn.wav", fs::last_write_time(folder / "Horn.wav"));
  AnalyzerService analyzer(AnalyzerServiceOptions{});
  EXPECT_EQ(Analyze(analyzer, folder.path(), folder / "Horn.wav").sample_rate, 48000);
  EXPECT_EQ(Analyze(analyzer, folder.path(), folder / "horn.wav").sample_rate, 44100);

  for (int round = 0; round < 20; ++round) {
    AnalyzeResult result;
    ASSERT_TRUE(analyzer.AnalyzeFolder(folder.path(), "", &result, nullptr));
    ASSERT_EQ(result.files.size(), 2u);
    EXPECT_EQ(result.files[0].name, "Horn.wav");
    EXPECT_EQ(result.files[1].name, "horn.wav");
  }
}

TEST(AnalyzerService, TheFolderCheckRunsEvenWhenTheAnswerIsCached) {
  TempFolder folder;
  fs::create_directories(folder / "library" / "sub");
  fs::create_directories(folder / "other");
  const fs::path file = folder / "library" / "sub" / "clip.wav";
  WriteSilentWav(file, 48000, 2, 100);
  AnalyzerService analyzer(AnalyzerServiceOptions{});
  EXPECT_EQ(Analyze(analyzer, "", file).relative_path, "clip.wav");
  EXPECT_EQ(Analyze(analyzer, folder / "library", file).relative_path, "sub/clip.wav");
  EXPECT_EQ(Analyze(analyzer, folder / "library" / "sub", file).relative_path, "clip.wav");

  AnalyzerFileMetadata metadata;
  std::string error;
  EXPECT_FALSE(analyzer.AnalyzeFile(folder / "other", file, &metadata, &error));
  EXPECT_EQ(error, "Path is outside the active profile folder");
}

TEST(AnalyzerService, JsonCarriesEveryFieldOfTheAnalysis) {
  TempFolder folder;
  WriteSilentWav(folder / "a.wav", 44100, 1, 441);
  AnalyzerService analyzer(AnalyzerServiceOptions{});
  AnalyzeResult result;
  ASSERT_TRUE(analyzer.AnalyzePaths(folder.path(), {folder / "a.wav"}, &result, nullptr));
  const JsonValue json = BuildAnalyzeResultJson(result);
  EXPECT_EQ(json.GetString("root_dir", ""), folder.path().string());
  const JsonValue* summary = json.Find("summary");
  ASSERT_NE(summary, nullptr);
  EXPECT_EQ(summary->GetNumber("total", -1), 1);
  EXPECT_EQ(summary->GetNumber("needs_conversion", -1), 1);
  EXPECT_EQ(summary->GetNumber("error", -1), 0);
  const JsonValue& file = json.Find("files")->array_value.at(0);
  std::vector<std::string> keys;
  for (const auto& [key, value] : file.object_value) keys.push_back(key);
  EXPECT_EQ(keys, (std::vector<std::string>{
                      "bits_per_sample", "channels", "codec", "compatibility_state", "container",
                      "convertible", "duration_ms", "extension", "issue_codes", "issue_messages",
                      "modified_utc", "name", "path", "playable_now", "relative_path",
                      "sample_rate", "size_bytes", "target"}));
  EXPECT_EQ(file.GetNumber("size_bytes", 0), 44 + 441 * 2);
  EXPECT_EQ(file.GetNumber("duration_ms", 0), 10);
  EXPECT_EQ(file.Find("issue_codes")->array_value.size(), 2u);
  const JsonValue* target = file.Find("target");
  EXPECT_EQ(target->GetString("codec", ""), "PCM16");
  EXPECT_EQ(target->GetNumber("sample_rate", 0), 48000);

  result.files[0].issue_codes.clear();
  result.files[0].issue_messages.clear();
  EXPECT_EQ(BuildAnalyzeResultJson(result).Find("files")->array_value[0].Find("issue_codes")->type,
            JsonValue::Type::Array);
}

TEST(AnalyzerService, NullOutputsAreReported) {
  AnalyzerService analyzer(WithMediaFoundation(true));
  std::string error;
  EXPECT_FALSE(analyzer.AnalyzeFile("", "a.wav", nullptr, &error));
  EXPECT_EQ(error, "AnalyzeFile metadata pointer is null");
  EXPECT_FALSE(analyzer.ReadFileMetadata("", "a.wav", nullptr, &error));
  EXPECT_EQ(error, "AnalyzerFileMetadata output pointer is null");
  EXPECT_FALSE(analyzer.AnalyzeFolder("", "", nullptr, &error));
  EXPECT_EQ(error, "AnalyzeFolder result pointer is null");
  EXPECT_FALSE(analyzer.AnalyzePaths("", {}, nullptr, &error));
  EXPECT_EQ(error, "AnalyzePaths result pointer is null");
}

TEST(AnalyzerService, SupportedExtensionsAreTheSoundFormatsInAnyCase) {
  for (const char* name :
       {"a.wav", "a.MP3", "a.Ogg", "a.flac", "a.aac", "a.adts", "a.M4A", "a.wma", "a.asf"}) {
    EXPECT_TRUE(IsSupportedAudioExtension(name)) << name;
  }
  for (const char* name : {"a", "a.", ".wav", "a.opus", "a.wav.tmp", "a.mp4"}) {
    EXPECT_FALSE(IsSupportedAudioExtension(name)) << name;
  }
}

}  // namespace
}  // namespace zennic
