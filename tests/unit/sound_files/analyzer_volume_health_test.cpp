#include "sound_files/analyzer_volume_health.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>

#include "sound_files/analyzer_service.h"
#include "sound_fixtures.h"
#include "support/temp_folder.h"

namespace zennic {
namespace {

namespace fs = std::filesystem;
using testing::TempFolder;

// A float WAV whose samples are exactly these values, so the peak is known to the bit.
void WriteFloatWav(const fs::path& path, uint32_t rate, uint16_t channels,
                   const std::vector<float>& samples) {
  testing::WriteFile(
      path, testing::RiffWave({{"fmt ", testing::FmtBody(3, channels, rate, 32, channels * 4)},
                               {"data", testing::FloatBytes(samples)}}));
}

// A stereo file at 48,000 Hz whose largest magnitude lies at `dbfs`.
void WritePeakAt(const fs::path& path, double dbfs) {
  std::vector<float> samples(960, 0.0f);
  samples[100] = -static_cast<float>(std::pow(10.0, dbfs / 20.0));
  WriteFloatWav(path, 48000, 2, samples);
}

AnalyzerVolumeHealth Check(AnalyzerService& analyzer, const fs::path& root, const fs::path& path,
                           std::string* error = nullptr) {
  AnalyzerVolumeHealth health;
  std::string ignored;
  EXPECT_TRUE(analyzer.CheckVolumeHealth(root, path, &health, error ? error : &ignored)) << path;
  return health;
}

TEST(VolumeHealth, PeaksAreClassifiedByTheirLevel) {
  TempFolder folder;
  AnalyzerService analyzer(AnalyzerServiceOptions{});
  struct Case {
    double dbfs;
    const char* state;
    bool recommended;
    bool can_normalize;
    double target;
  };
  for (const Case& c :
       {Case{-80.0, "silent", false, false, -3.0}, Case{-60.01, "silent", false, false, -3.0},
        Case{-59.99, "very_quiet", true, true, -3.0}, Case{-40.0, "very_quiet", true, true, -3.0},
        Case{-24.01, "very_quiet", true, true, -3.0}, Case{-23.99, "quiet", true, true, -3.0},
        Case{-12.01, "quiet", true, true, -3.0}, Case{-11.99, "volume_ok", false, true, -1.0},
        Case{-6.0206, "volume_ok", false, true, -1.0}, Case{-0.31, "volume_ok", false, true, -1.0},
        Case{-0.29, "near_clipping", false, true, -3.0},
        Case{3.5, "near_clipping", false, true, -3.0}}) {
    SCOPED_TRACE(c.dbfs);
    const fs::path path = folder / ("peak" + std::to_string(c.dbfs) + ".wav");
    WritePeakAt(path, c.dbfs);
    const AnalyzerVolumeHealth health = Check(analyzer, folder.path(), path);
    EXPECT_EQ(health.state, c.state);
    EXPECT_NEAR(health.peak_dbfs, c.dbfs, 1e-4);
    EXPECT_EQ(health.normalize_recommended, c.recommended);
    EXPECT_EQ(health.can_normalize, c.can_normalize);
    EXPECT_EQ(health.recommended_target_peak_dbfs, c.target);
    EXPECT_TRUE(health.error_code.empty());
  }
}

TEST(VolumeHealth, DigitalSilenceIsSilentAtTheFloor) {
  TempFolder folder;
  WriteFloatWav(folder / "quiet.wav", 48000, 2, std::vector<float>(96, 0.0f));
  AnalyzerService analyzer(AnalyzerServiceOptions{});
  const AnalyzerVolumeHealth health = Check(analyzer, folder.path(), folder / "quiet.wav");
  EXPECT_EQ(health.state, "silent");
  EXPECT_EQ(health.peak_dbfs, -120.0);
  EXPECT_FALSE(health.can_normalize);
  EXPECT_EQ(health.recommended_target_peak_dbfs, -3.0);
}

TEST(VolumeHealth, ThePeakIsTakenOnTheStereoMixOfFiniteSamples) {
  TempFolder folder;
  AnalyzerService analyzer(AnalyzerServiceOptions{});
  const float nan = std::numeric_limits<float>::quiet_NaN();
  const float inf = std::numeric_limits<float>::infinity();
  WriteFloatWav(folder / "nan.wav", 48000, 2, {0.5f, nan, -inf, 0.25f});
  EXPECT_NEAR(Check(analyzer, folder.path(), folder / "nan.wav").peak_dbfs, -6.0206, 1e-3);

  // Six channels at 0.45 each: every channel is quiet, the left mix is 0.45 + 0.707 * 0.9.
  WriteFloatWav(folder / "six.wav", 48000, 6, std::vector<float>(6 * 4, 0.45f));
  const AnalyzerVolumeHealth six = Check(analyzer, folder.path(), folder / "six.wav");
  EXPECT_EQ(six.state, "near_clipping");
  EXPECT_NEAR(six.peak_dbfs, 20 * std::log10(0.45 + 0.707 * 0.9), 1e-4);

  // Any encoded format is measured after resampling to 48,000 Hz.
  testing::MakeToneFile(folder / "tone.mp3", {.sample_rate = 44100, .channels = 1, .seconds = 0.5},
                        {"-c:a", "libmp3lame"});
  const AnalyzerVolumeHealth tone = Check(analyzer, folder.path(), folder / "tone.mp3");
  EXPECT_EQ(tone.state, "volume_ok");
  EXPECT_NEAR(tone.peak_dbfs, -6.02, 0.5);
}

TEST(VolumeHealth, VerdictsWithoutMeasurementSayWhy) {
  TempFolder folder;
  fs::create_directories(folder / "library");
  testing::WriteFile(folder / "library" / "notes.txt", "text");
  testing::WriteFile(folder / "library" / "clip.m4a", "not really");
  WritePeakAt(folder / "outside.wav", -6.0);
  AnalyzerService analyzer(AnalyzerServiceOptions{});
  const fs::path root = folder / "library";

  AnalyzerVolumeHealth health;
  std::string error;
  ASSERT_TRUE(analyzer.CheckVolumeHealth(root, root / "notes.txt", &health, &error));
  EXPECT_EQ(health.state, "unknown");
  EXPECT_EQ(health.error_code, "file_unsupported");
  EXPECT_EQ(health.peak_dbfs, -120.0);
  EXPECT_EQ(health.recommended_target_peak_dbfs, -1.0);
  EXPECT_EQ(health.path, (root / "notes.txt").string());
  EXPECT_EQ(health.relative_path, "notes.txt");
  EXPECT_FALSE(analyzer.GetCachedVolumeHealth(root / "notes.txt", &health));

  EXPECT_FALSE(analyzer.CheckVolumeHealth(root, root / "gone.wav", &health, &error));
  EXPECT_EQ(health.error_code, "path_unavailable");
  EXPECT_EQ(error, "Audio file could not be checked: No such file or directory");

  EXPECT_FALSE(analyzer.CheckVolumeHealth(root, folder / "outside.wav", &health, &error));
  EXPECT_EQ(health.error_code, "path_outside_profile_root");
  EXPECT_EQ(error, "Path is outside the active profile folder");

  AnalyzerServiceOptions no_media;
  no_media.preset = true;
  AnalyzerService without_media(no_media);
  error.clear();
  ASSERT_TRUE(without_media.CheckVolumeHealth(root, root / "clip.m4a", &health, &error));
  EXPECT_EQ(health.error_code, "media_feature_pack_required");
  EXPECT_TRUE(error.empty());
  EXPECT_FALSE(without_media.GetCachedVolumeHealth(root / "clip.m4a", &health));
}

TEST(VolumeHealth, DecodingFailuresAreCachedUntilTheFileChanges) {
  TempFolder folder;
  testing::WriteFile(folder / "broken.mp3", "not an mp3 at all");
  AnalyzerService analyzer(AnalyzerServiceOptions{});
  std::string error;
  AnalyzerVolumeHealth health = Check(analyzer, folder.path(), folder / "broken.mp3", &error);
  EXPECT_EQ(health.error_code, "file_decode_failed");
  EXPECT_EQ(health.state, "unknown");
  EXPECT_EQ(error, "MP3 decoder could not open the file");

  error.clear();
  health = Check(analyzer, folder.path(), folder / "broken.mp3", &error);
  EXPECT_EQ(health.error_code, "file_decode_failed");
  EXPECT_TRUE(error.empty());
  ASSERT_TRUE(analyzer.GetCachedVolumeHealth(folder / "broken.mp3", &health));

  testing::WriteFile(folder / "broken.mp3", "still not an mp3, but longer");
  EXPECT_FALSE(analyzer.GetCachedVolumeHealth(folder / "broken.mp3", &health));
}

TEST(VolumeHealth, TheFolderCheckRunsEvenWhenTheVerdictIsCached) {
  TempFolder folder;
  fs::create_directories(folder / "library");
  fs::create_directories(folder / "other");
  WritePeakAt(folder / "library" / "clip.wav", -6.0);
  AnalyzerService analyzer(AnalyzerServiceOptions{});
  EXPECT_EQ(Check(analyzer, "", folder / "library" / "clip.wav").state, "volume_ok");
  EXPECT_EQ(Check(analyzer, folder.path(), folder / "library" / "clip.wav").relative_path,
            "library/clip.wav");
  AnalyzerVolumeHealth health;
  std::string error;
  EXPECT_FALSE(analyzer.CheckVolumeHealth(folder / "other", folder / "library" / "clip.wav",
                                          &health, &error));
  EXPECT_EQ(health.error_code, "path_outside_profile_root");
}

TEST(VolumeHealth, JsonNamesTheErrorCodeOnlyWhenThereIsOne) {
  AnalyzerVolumeHealth health;
  health.path = "/a/b.wav";
  health.relative_path = "b.wav";
  health.state = "quiet";
  health.peak_dbfs = -13.5;
  JsonValue json = BuildVolumeHealthJson(health);
  EXPECT_EQ(json.Find("error_code"), nullptr);
  EXPECT_EQ(json.GetString("state", ""), "quiet");
  EXPECT_EQ(json.GetNumber("peak_dbfs", 0), -13.5);
  EXPECT_EQ(json.GetNumber("recommended_target_peak_dbfs", 0), -1.0);
  EXPECT_EQ(json.object_value.size(), 7u);
  health.error_code = "file_unsupported";
  EXPECT_EQ(BuildVolumeHealthJson(health).GetString("error_code", ""), "file_unsupported");

  AnalyzerService analyzer(AnalyzerServiceOptions{});
  std::string error;
  EXPECT_FALSE(analyzer.CheckVolumeHealth("", "a.wav", nullptr, &error));
  EXPECT_EQ(error, "AnalyzerVolumeHealth output pointer is null");
  EXPECT_FALSE(analyzer.GetCachedVolumeHealth("a.wav", nullptr));
}

}  // namespace
}  // namespace zennic
