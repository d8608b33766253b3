#include "sound_files/selected_file_loader.h"

#include <gtest/gtest.h>

#include "sound_files/converter_service.h"
#include "sound_files/wav_file.h"
#include "sound_fixtures.h"
#include "support/temp_folder.h"

namespace zennic {
namespace {

namespace fs = std::filesystem;
using testing::TempFolder;

// A playable clip whose every sample is `value`, in 16-bit steps.
void WriteClip(const fs::path& path, int16_t value, size_t frames = 4800) {
  std::string error;
  ASSERT_TRUE(WriteWavFile(path, 48000, 2, std::vector<int16_t>(frames * 2, value), &error))
      << error;
}

// Rewrites a clip with other samples but leaves its size and last-write time as they were, so
// only a load that reads the file again can tell.
void RewriteKeepingSizeAndTime(const fs::path& path, int16_t value) {
  const fs::file_time_type written = fs::last_write_time(path);
  const size_t frames = (fs::file_size(path) - 44) / 4;
  WriteClip(path, value, frames);
  fs::last_write_time(path, written);
}

class ClipLoader : public ::testing::Test {
 protected:
  LoadedAudioFile Load(const fs::path& path) {
    LoadedAudioFile clip;
    std::string error;
    EXPECT_TRUE(loader_.Load(folder_.path(), path.string(), &clip, &error)) << error;
    return clip;
  }
  std::string LoadError(const std::string& path) {
    LoadedAudioFile clip;
    std::string error = "stale";
    EXPECT_FALSE(loader_.Load(folder_.path(), path, &clip, &error));
    return error;
  }

  TempFolder folder_;
  AnalyzerService analyzer_{AnalyzerServiceOptions{}};
  SelectedFileLoader loader_{&analyzer_};
};

TEST_F(ClipLoader, LoadsACompatibleWavWithItsFormatAndAnalysis) {
  const fs::path path = folder_ / "Airhorn.wav";
  WriteClip(path, 16384, 24000);
  const LoadedAudioFile clip = Load(folder_ / "sub/../Airhorn.wav");
  EXPECT_EQ(clip.path, path.string());
  EXPECT_EQ(clip.size_bytes, fs::file_size(path));
  EXPECT_NE(clip.modified_ticks, 0);
  EXPECT_EQ(clip.sample_rate, 48000u);
  EXPECT_EQ(clip.channels, 2u);
  EXPECT_EQ(clip.duration_ms, 500);
  ASSERT_EQ(clip.samples.size(), 48000u);
  EXPECT_FLOAT_EQ(clip.samples.front(), 0.5f);
  EXPECT_FLOAT_EQ(clip.samples.back(), 0.5f);
  EXPECT_EQ(clip.metadata.compatibility_state, "compatible");
  EXPECT_EQ(clip.metadata.relative_path, "Airhorn.wav");
}

TEST_F(ClipLoader, AnUnchangedFileIsServedFromMemoryUntilItChangesOrIsCleared) {
  const fs::path path = folder_ / "clip.wav";
  WriteClip(path, 8192);
  EXPECT_FLOAT_EQ(Load(path).samples[0], 0.25f);

  RewriteKeepingSizeAndTime(path, -8192);
  EXPECT_FLOAT_EQ(Load(path).samples[0], 0.25f) << "same path, size and time: the kept clip";

  loader_.Clear();
  EXPECT_FLOAT_EQ(Load(path).samples[0], -0.25f) << "after Clear the file is read again";

  WriteClip(path, 4096, 9600);
  const LoadedAudioFile longer = Load(path);
  EXPECT_EQ(longer.samples.size(), 9600u * 2) << "a new size is a new clip";
  EXPECT_FLOAT_EQ(longer.samples[0], 0.125f);
}

TEST_F(ClipLoader, RefusalsNameTheirReasonAndKeepThePreviousClip) {
  const fs::path kept = folder_ / "kept.wav";
  WriteClip(kept, 8192);
  Load(kept);
  RewriteKeepingSizeAndTime(kept, 0);

  testing::MakeToneFile(folder_ / "tone.mp3", {}, {"-c:a", "libmp3lame"});
  EXPECT_EQ(LoadError((folder_ / "tone.mp3").string()), "Container must be WAV");
  testing::MakeToneFile(folder_ / "cd.wav", {.sample_rate = 44100}, {"-c:a", "pcm_s16le"});
  EXPECT_EQ(LoadError((folder_ / "cd.wav").string()), "Sample rate must be 48000 Hz");
  testing::WriteFile(folder_ / "notes.txt", "not a sound");
  EXPECT_EQ(LoadError((folder_ / "notes.txt").string()),
            "File extension is not supported by the analyzer");
  EXPECT_EQ(LoadError((folder_ / "missing.wav").string()), "Selected file does not exist");
  EXPECT_EQ(LoadError(""), "No file has been selected");
  EXPECT_EQ(LoadError("\xC3("), std::make_error_code(std::errc::illegal_byte_sequence).message())
      << "a path that is not UTF-8";

  TempFolder elsewhere;
  WriteClip(elsewhere / "outside.wav", 100);
  EXPECT_EQ(LoadError((elsewhere / "outside.wav").string()),
            "Path is outside the active profile folder");

  EXPECT_FLOAT_EQ(Load(kept).samples[0], 0.25f) << "no refusal drops the kept clip";
}

TEST_F(ClipLoader, DecodedSamplesOfAnotherFormatAreNeverHandedOut) {
  const fs::path path = folder_ / "clip.wav";
  WriteClip(path, 8192);
  Load(path);
  loader_.Clear();
  // The analysis stays cached as compatible; the file now holds 44.1 kHz samples.
  const fs::file_time_type written = fs::last_write_time(path);
  std::string error;
  ASSERT_TRUE(WriteWavFile(path, 44100, 2, std::vector<int16_t>(4800 * 2), &error)) << error;
  fs::last_write_time(path, written);
  EXPECT_EQ(LoadError(path.string()), "Sample rate must be 48000 Hz");
}

TEST_F(ClipLoader, AFileThatNeedsConversionLoadsOnceConverted) {
  testing::MakeToneFile(folder_ / "horn.mp3", {.sample_rate = 44100, .channels = 1},
                        {"-c:a", "libmp3lame"});
  EXPECT_EQ(LoadError((folder_ / "horn.mp3").string()), "Container must be WAV");

  ConverterService converter(&analyzer_);
  ConvertResult result;
  ASSERT_TRUE(converter.Convert(folder_.path(), {folder_ / "horn.mp3"}, true, false, &result,
                                nullptr));
  ASSERT_EQ(result.converted, 1) << result.results[0].message;
  const LoadedAudioFile clip = Load(folder_ / "horn.wav");
  EXPECT_EQ(clip.channels, 2u);
  EXPECT_NEAR(static_cast<double>(clip.samples.size()) / 2, 48000, 48000 * 0.05);
  const testing::ToneFit fit = testing::FitTone(clip.samples, 2, 1, 48000, 1000.0);
  EXPECT_NEAR(fit.amplitude, 0.5, 0.05) << "the tone reaches both sides";
}

TEST_F(ClipLoader, AnEmptyCompatibleClipLoadsWithNoSamples) {
  WriteClip(folder_ / "empty.wav", 0, 0);
  const LoadedAudioFile clip = Load(folder_ / "empty.wav");
  EXPECT_TRUE(clip.samples.empty());
  EXPECT_EQ(clip.sample_rate, 48000u);
}

TEST(ClipLoaderSetUp, ChecksComeInTheirOrder) {
  SelectedFileLoader without_analyzer(nullptr);
  LoadedAudioFile clip;
  std::string error;
  EXPECT_FALSE(without_analyzer.Load({}, "", &clip, &error));
  EXPECT_EQ(error, "AnalyzerService is not configured");
  EXPECT_FALSE(without_analyzer.Load({}, "", nullptr, &error));
  EXPECT_EQ(error, "LoadedAudioFile output pointer is null");
  EXPECT_FALSE(without_analyzer.Load({}, "", &clip, nullptr)) << "the message is optional";
}

}  // namespace
}  // namespace zennic
