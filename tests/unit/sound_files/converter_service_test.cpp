#include "sound_files/converter_service.h"

#include <gtest/gtest.h>

#include <cmath>
#include <latch>
#include <limits>
#include <numbers>
#include <thread>

#include "sound_files/analyzer_service.h"
#include "sound_files/audio_decoding.h"
#include "sound_files/wav_file.h"
#include "sound_fixtures.h"
#include "support/read_only_folder.h"
#include "support/temp_folder.h"

namespace zennic {
namespace {

namespace fs = std::filesystem;
using testing::ReadFile;
using testing::TempFolder;

class Converter : public ::testing::Test {
 protected:
  fs::path Root() const { return folder_.path(); }

  ConvertResult Convert(const std::vector<fs::path>& paths, bool keep_originals = true,
                        bool overwrite_existing = false) {
    ConvertResult result;
    std::string error;
    EXPECT_TRUE(
        converter_.Convert(Root(), paths, keep_originals, overwrite_existing, &result, &error))
        << error;
    EXPECT_EQ(result.results.size(), paths.size());
    return result;
  }

  ConvertItemResult ConvertOne(const fs::path& path, bool keep_originals = true,
                               bool overwrite_existing = false) {
    ConvertResult result = Convert({path}, keep_originals, overwrite_existing);
    return result.results.empty() ? ConvertItemResult() : result.results[0];
  }

  TempFolder folder_;
  AnalyzerService analyzer_{AnalyzerServiceOptions{}};
  ConverterService converter_{&analyzer_};
};

// What the converter promises of every output: the target format, and nothing else.
DecodedWavData ReadConverted(const fs::path& path) {
  DecodedWavData data;
  std::string error;
  EXPECT_TRUE(DecodeWavFile(path, &data, &error)) << path << ": " << error;
  EXPECT_EQ(data.codec, "PCM16");
  EXPECT_EQ(data.sample_rate, 48000u);
  EXPECT_EQ(data.channels, 2);
  EXPECT_EQ(testing::ReadFile(path).size(), 44 + data.frame_count * 4);
  return data;
}

// Linear interpolation passes a tone at `frequency` with the gain sinc^2(frequency / rate).
double InterpolationGain(double frequency, int rate) {
  if (rate == 48000) return 1.0;
  const double x = std::numbers::pi * frequency / rate;
  return std::pow(std::sin(x) / x, 2);
}

// Which of the two test tones, 440 or 1000 Hz, a sound file carries.
int ToneOf(const fs::path& path) {
  DecodedAudioData data;
  std::string error;
  EXPECT_TRUE(DecodeAudioFile(path, &data, &error)) << path << ": " << error;
  if (data.channels < 1) return 0;
  const int rate = static_cast<int>(data.sample_rate);
  const double low = testing::FitTone(data.samples, data.channels, 0, rate, 440).amplitude;
  const double high = testing::FitTone(data.samples, data.channels, 0, rate, 1000).amplitude;
  return low > high ? 440 : 1000;
}

// The names of a folder's files that are work files left behind.
std::vector<std::string> WorkFilesIn(const fs::path& folder) {
  std::vector<std::string> names;
  for (const auto& entry : fs::recursive_directory_iterator(folder)) {
    if (entry.path().extension() == ".tmp") names.push_back(entry.path().string());
  }
  return names;
}

TEST_F(Converter, EveryFormatBecomesTheSameToneAtFortyEightKilohertzStereo) {
  struct Case {
    const char* file;
    testing::ToneSpec tone;
    std::vector<std::string> options;
    // Each side's level relative to the tone's: a known layout folds down without gain.
    double left_gain;
    double right_gain;
    double level_tolerance;
    int frame_tolerance;  // beyond one 10 ms block, for lossy codecs that add or lose frames
  };
  const std::vector<Case> cases = {
      {"u8.wav", {.sample_rate = 8000, .channels = 1}, {"-c:a", "pcm_u8"}, 1, 1, 0.01, 0},
      {"s16.wav", {.sample_rate = 44100, .channels = 2}, {"-c:a", "pcm_s16le"}, 1, 1, 0.002, 0},
      {"s24.wav",
       {.sample_rate = 22050, .channels = 3, .amplitude = 0.4},
       {"-c:a", "pcm_s24le"},
       1,
       1,
       0.002,
       0},
      {"s32.wav", {.sample_rate = 48000, .channels = 1}, {"-c:a", "pcm_s32le"}, 1, 1, 0.002, 0},
      {"f32.wav", {.sample_rate = 96000, .channels = 2}, {"-c:a", "pcm_f32le"}, 1, 1, 0.002, 0},
      {"f64.wav", {.sample_rate = 192000, .channels = 2}, {"-c:a", "pcm_f64le"}, 1, 1, 0.002, 0},
      {"six.wav",
       {.sample_rate = 48000, .channels = 6, .amplitude = 0.2},
       {"-c:a", "pcm_s16le"},
       1,
       1,
       0.002,
       0},
      {"cbr.mp3", {}, {"-c:a", "libmp3lame", "-b:a", "192k"}, 1, 1, 0.02, 0},
      {"vbr.mp3",
       {.sample_rate = 32000, .channels = 1},
       {"-c:a", "libmp3lame", "-q:a", "0"},
       1,
       1,
       0.02,
       0},
      {"flac16.flac", {}, {"-c:a", "flac", "-sample_fmt", "s16"}, 1, 1, 0.002, 0},
      {"flac24.flac",
       {.sample_rate = 96000},
       {"-c:a", "flac", "-sample_fmt", "s32"},
       1,
       1,
       0.002,
       0},
      {"vorbis.ogg", {}, {"-c:a", "libvorbis"}, 1, 1, 0.02, 0},
      {"adts.aac", {}, {"-c:a", "aac", "-f", "adts"}, 1, 1, 0.02, 2229},
      {"mp4.m4a", {}, {"-c:a", "aac"}, 1, 1, 0.02, 0},
      {"wma2.wma", {}, {"-c:a", "wmav2"}, 1, 1, 0.03, 2229},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.file);
    const fs::path source = Root() / "in" / c.file;
    fs::create_directories(source.parent_path());
    testing::MakeToneFile(source, c.tone, c.options);
    const std::string original = ReadFile(source);

    const ConvertItemResult item = ConvertOne(source);
    EXPECT_EQ(item.status, "converted") << item.message;
    EXPECT_EQ(item.code, "");
    EXPECT_EQ(item.message, "Converted to 48000 Hz stereo PCM WAV");
    const fs::path target = LowerCaseExtension(source) == ".wav"
                                ? source
                                : source.parent_path() / (source.stem().string() + ".wav");
    EXPECT_EQ(item.target_path, target.string());
    EXPECT_EQ(item.backup_path, (Root() / "_originals" / "in" / c.file).string());
    EXPECT_TRUE(ReadFile(item.backup_path) == original);
    EXPECT_EQ(WorkFilesIn(source.parent_path()), std::vector<std::string>{});

    const DecodedWavData out = ReadConverted(target);
    EXPECT_NEAR(static_cast<double>(out.frame_count), c.tone.seconds * 48000,
                480 + c.frame_tolerance);
    const double level = c.tone.amplitude * InterpolationGain(c.tone.frequency, c.tone.sample_rate);
    const double gains[2] = {c.left_gain, c.right_gain};
    for (int side = 0; side < 2; ++side) {
      const testing::ToneFit fit = testing::FitTone(out.samples, 2, side, 48000, 1000.0);
      EXPECT_NEAR(fit.amplitude, level * gains[side], c.level_tolerance);
      EXPECT_LT(fit.residual_rms, c.level_tolerance + 0.01);
    }
  }
}

TEST_F(Converter, ACentreOnlySurroundClipIsHeardEquallyOnBothSides) {
  const fs::path source = Root() / "dialogue.m4a";
  testing::MakeToneFile(source, {.sample_rate = 48000, .channels = 6, .only_channel = 2},
                        {"-c:a", "aac", "-b:a", "384k"});
  ASSERT_EQ(ConvertOne(source).status, "converted");
  const DecodedWavData out = ReadConverted(Root() / "dialogue.wav");
  const testing::ToneFit left = testing::FitTone(out.samples, 2, 0, 48000, 1000.0);
  const testing::ToneFit right = testing::FitTone(out.samples, 2, 1, 48000, 1000.0);
  // The centre at 0.707 on each side, scaled by 1 / (1 + 0.707 + 0.707) against clipping.
  EXPECT_NEAR(left.amplitude, 0.5 * 0.7071 / 2.4142, 0.005);
  EXPECT_NEAR(left.amplitude, right.amplitude, 0.001);
}

TEST_F(Converter, ConversionsToOneTargetAtOnceEachKeepTheirOwnAudio) {
  const fs::path masters = Root() / "masters";
  fs::create_directories(masters);
  const std::string names[2] = {"song.mp3", "song.flac"};
  const int tones[2] = {440, 1000};
  testing::MakeToneFile(masters / names[0], {.frequency = 440}, {"-c:a", "libmp3lame"});
  testing::MakeToneFile(masters / names[1], {.frequency = 1000}, {"-c:a", "flac"});
  struct Options {
    bool keep_originals;
    bool overwrite_existing;
  };
  const Options options[] = {{true, false}, {false, false}, {true, true}};
  for (int round = 0; round < 20; ++round) {
    const Options& option = options[round % 3];
    const fs::path folder = Root() / ("round" + std::to_string(round));
    SCOPED_TRACE(folder.filename().string());
    fs::create_directories(folder);
    for (const std::string& name : names) fs::copy_file(masters / name, folder / name);

    ConvertItemResult items[2];
    std::latch start(2);
    std::vector<std::thread> threads;
    for (int i = 0; i < 2; ++i) {
      threads.emplace_back([&, i] {
        start.arrive_and_wait();
        converter_.ConvertFile(Root(), folder / names[i], option.keep_originals,
                               option.overwrite_existing, &items[i]);
      });
    }
    for (std::thread& thread : threads) thread.join();

    int converted = 0;
    for (int i = 0; i < 2; ++i) {
      SCOPED_TRACE(names[i]);
      const bool done = items[i].status == "converted";
      converted += done;
      if (done && !option.overwrite_existing) {
        EXPECT_EQ(ToneOf(items[i].target_path), tones[i]) << "the result names its own audio";
      }
      if (!done) {
        EXPECT_EQ(items[i].code, "target_exists") << items[i].message;
      }
      // The source's audio is still somewhere: in place, among the originals, or converted.
      const fs::path kept = Root() / "_originals" / folder.filename() / names[i];
      const bool survives = fs::exists(folder / names[i]) || fs::exists(kept) ||
                            (done && ToneOf(folder / "song.wav") == tones[i]);
      EXPECT_TRUE(survives);
    }
    EXPECT_GE(converted, 1);
    if (!option.overwrite_existing) {
      EXPECT_EQ(converted, 1) << "one target, so one of the two is refused";
    }
    EXPECT_EQ(WorkFilesIn(folder), std::vector<std::string>{});
  }
}

TEST_F(Converter, DamagedFilesFailWithTheirReasonAndLoseNothing) {
  const std::string audio(88200, '\x10');
  testing::MakeToneFile(Root() / "comment.ogg", {.seconds = 0.5}, {"-c:a", "libvorbis"});
  testing::DamageOggVorbisComment(Root() / "comment.ogg");
  struct Case {
    const char* name;
    std::string bytes;  // empty: made above
    const char* code;
    const char* message;
  };
  const std::vector<Case> cases = {
      {"empty-data.wav",
       testing::RiffWave({{"fmt ", testing::FmtBody(1, 1, 44100, 16, 2)}, {"data", audio, 0}}),
       "conversion_failed", "WAV data chunk is empty, but data follows it"},
      {"no-channels.wav",
       testing::RiffWave({{"fmt ", testing::FmtBody(1, 0, 44100, 16, 2)}, {"data", audio}}),
       "channel_count_unsupported", "File declares no audio channels"},
      {"one-hertz.wav",
       testing::RiffWave({{"fmt ", testing::FmtBody(1, 1, 1, 16, 2)}, {"data", audio}}),
       "sample_rate_unsupported", "Sample rate must be between 1000 and 768000 Hz"},
      {"eight-hertz.wav",
       testing::RiffWave({{"fmt ", testing::FmtBody(1, 2, 8, 16, 4)}, {"data", audio}}),
       "sample_rate_unsupported", "Sample rate must be between 1000 and 768000 Hz"},
      {"comment.ogg", "", "codec_ogg_opus_unsupported",
       "Only Ogg Vorbis is supported in the current build"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    if (!c.bytes.empty()) testing::WriteFile(Root() / c.name, c.bytes);
    const std::string before = ReadFile(Root() / c.name);
    const ConvertItemResult item = ConvertOne(Root() / c.name, /*keep_originals=*/false);
    EXPECT_EQ(item.status, "failed");
    EXPECT_EQ(item.code, c.code);
    EXPECT_EQ(item.message, c.message);
    EXPECT_TRUE(ReadFile(Root() / c.name) == before) << "the source is kept as it was";
  }
  EXPECT_FALSE(fs::exists(Root() / "comment.wav"));
  EXPECT_EQ(WorkFilesIn(Root()), std::vector<std::string>{});
}

TEST_F(Converter, CompatibleFilesAreSkippedUntouched) {
  std::string error;
  ASSERT_TRUE(WriteWavFile(Root() / "ready.wav", 48000, 2, {1, 2, 3, 4}, &error)) << error;
  const std::string before = ReadFile(Root() / "ready.wav");
  const ConvertResult result = Convert({Root() / "ready.wav"});
  EXPECT_EQ(result.skipped, 1);
  const ConvertItemResult& item = result.results[0];
  EXPECT_EQ(item.status, "skipped");
  EXPECT_EQ(item.code, "");
  EXPECT_EQ(item.message, "File is already compatible");
  EXPECT_EQ(item.target_path, (Root() / "ready.wav").string());
  EXPECT_TRUE(ReadFile(Root() / "ready.wav") == before);
  EXPECT_FALSE(fs::exists(Root() / "_originals"));
}

TEST_F(Converter, AnExistingTargetIsKeptUnlessOverwritingIsAllowed) {
  testing::MakeToneFile(Root() / "song.mp3", {.seconds = 0.3}, {"-c:a", "libmp3lame"});
  testing::WriteFile(Root() / "song.wav", "an older song.wav");
  const std::string mp3 = ReadFile(Root() / "song.mp3");

  ConvertItemResult item = ConvertOne(Root() / "song.mp3");
  EXPECT_EQ(item.status, "failed");
  EXPECT_EQ(item.code, "target_exists");
  EXPECT_EQ(item.message, "Conversion target exists and overwrite is disabled");
  EXPECT_EQ(ReadFile(Root() / "song.wav"), "an older song.wav");
  EXPECT_TRUE(ReadFile(Root() / "song.mp3") == mp3);
  EXPECT_EQ(WorkFilesIn(Root()), std::vector<std::string>{});

  item = ConvertOne(Root() / "song.mp3", /*keep_originals=*/true, /*overwrite_existing=*/true);
  EXPECT_EQ(item.status, "converted") << item.message;
  EXPECT_EQ(ReadConverted(Root() / "song.wav").frame_count, 14400u);
  EXPECT_FALSE(fs::exists(Root() / "song.mp3"));
  EXPECT_TRUE(ReadFile(Root() / "_originals" / "song.mp3") == mp3);
}

TEST_F(Converter, AWavIsConvertedInPlaceKeepingOrDroppingTheOriginal) {
  fs::create_directories(Root() / "sub");
  testing::MakeToneFile(Root() / "sub" / "clip.WAV",
                        {.sample_rate = 44100, .channels = 1, .seconds = 0.3},
                        {"-c:a", "pcm_s16le"});
  testing::MakeToneFile(Root() / "drop.wav", {.sample_rate = 44100, .channels = 1, .seconds = 0.3},
                        {"-c:a", "pcm_s16le"});
  const std::string original = ReadFile(Root() / "sub" / "clip.WAV");

  ConvertItemResult item = ConvertOne(Root() / "sub" / "clip.WAV");
  EXPECT_EQ(item.status, "converted") << item.message;
  EXPECT_EQ(item.target_path, (Root() / "sub" / "clip.WAV").string());
  EXPECT_EQ(item.backup_path, (Root() / "_originals" / "sub" / "clip.WAV").string());
  EXPECT_TRUE(ReadFile(item.backup_path) == original);
  EXPECT_EQ(ReadConverted(Root() / "sub" / "clip.WAV").frame_count, 14400u);

  item = ConvertOne(Root() / "drop.wav", /*keep_originals=*/false);
  EXPECT_EQ(item.status, "converted") << item.message;
  EXPECT_EQ(item.backup_path, "");
  EXPECT_EQ(ReadConverted(Root() / "drop.wav").frame_count, 14400u);
  EXPECT_FALSE(fs::exists(Root() / "_originals" / "drop.wav"));
}

TEST_F(Converter, OriginalsMirrorTheirPlaceAndNeverReplaceAnEarlierOne) {
  fs::create_directories(Root() / "a" / "b");
  testing::WriteFile(Root() / "_originals" / "a" / "b" / "x.flac", "an earlier original");
  testing::MakeToneFile(Root() / "a" / "b" / "x.flac", {.seconds = 0.2}, {"-c:a", "flac"});
  const ConvertItemResult item = ConvertOne(Root() / "a" / "b" / "x.flac");
  EXPECT_EQ(item.status, "converted") << item.message;
  EXPECT_EQ(item.backup_path, (Root() / "_originals" / "a" / "b" / "x-2.flac").string());
  EXPECT_EQ(ReadFile(Root() / "_originals" / "a" / "b" / "x.flac"), "an earlier original");

  // Without a root the original stays beside the source, never in the working folder.
  EXPECT_EQ(BuildOriginalsBackupPath("", Root() / "a" / "y.mp3"),
            Root() / "a" / "_originals" / "y.mp3");
}

TEST_F(Converter, WithoutKeepingOriginalsTheSourceIsDeleted) {
  testing::MakeToneFile(Root() / "tone.ogg", {.seconds = 0.2}, {"-c:a", "libvorbis"});
  const ConvertItemResult item = ConvertOne(Root() / "tone.ogg", /*keep_originals=*/false);
  EXPECT_EQ(item.status, "converted") << item.message;
  EXPECT_FALSE(fs::exists(Root() / "tone.ogg"));
  EXPECT_FALSE(fs::exists(Root() / "_originals"));
  EXPECT_EQ(ReadConverted(Root() / "tone.wav").frame_count, 9600u);
}

TEST_F(Converter, AFailingStepHalfWayThroughLosesNoFile) {
  for (const char* name : {"first", "second", "third", "fourth"}) {
    fs::create_directories(Root() / name);
  }
  testing::MakeToneFile(Root() / "first" / "a.mp3", {.seconds = 0.2}, {"-c:a", "libmp3lame"});
  testing::MakeToneFile(Root() / "second" / "b.mp3", {.seconds = 0.2}, {"-c:a", "libmp3lame"});
  testing::MakeToneFile(Root() / "third" / "c.wav", {.seconds = 0.2}, {"-c:a", "pcm_s24le"});
  testing::MakeToneFile(Root() / "fourth" / "d.flac", {.seconds = 0.2}, {"-c:a", "flac"});
  fs::create_directories(Root() / "_originals" / "third");
  fs::create_directories(Root() / "_originals" / "fourth");
  const std::string b = ReadFile(Root() / "second" / "b.mp3");
  const std::string c = ReadFile(Root() / "third" / "c.wav");
  const std::string d = ReadFile(Root() / "fourth" / "d.flac");

  ConvertResult result;
  {
    // The second file's folder takes no new file; the third and fourth keep their sources
    // in folders that take none either.
    testing::ReadOnlyFolder second(Root() / "second");
    testing::ReadOnlyFolder third(Root() / "_originals" / "third");
    testing::ReadOnlyFolder fourth(Root() / "_originals" / "fourth");
    result = Convert({Root() / "first" / "a.mp3", Root() / "second" / "b.mp3",
                      Root() / "third" / "c.wav", Root() / "fourth" / "d.flac"});
  }
  EXPECT_EQ(result.converted, 1);
  EXPECT_EQ(result.failed, 3);
  EXPECT_EQ(result.results[0].status, "converted");
  EXPECT_TRUE(fs::exists(Root() / "_originals" / "first" / "a.mp3"));

  EXPECT_EQ(result.results[1].message.rfind("Unable to open temp file for writing: ", 0), 0u)
      << result.results[1].message;
  EXPECT_TRUE(ReadFile(Root() / "second" / "b.mp3") == b);
  EXPECT_FALSE(fs::exists(Root() / "second" / "b.wav"));

  EXPECT_EQ(result.results[2].code, "conversion_failed");
  EXPECT_EQ(result.results[2].message.rfind("Failed to replace original with converted file: ", 0),
            0u)
      << result.results[2].message;
  EXPECT_TRUE(ReadFile(Root() / "third" / "c.wav") == c);
  EXPECT_EQ(WorkFilesIn(Root() / "third"), std::vector<std::string>{});

  // The converted file is in place and the source still beside it.
  EXPECT_EQ(result.results[3].message.rfind("Failed to move original file to backup: ", 0), 0u)
      << result.results[3].message;
  EXPECT_TRUE(ReadFile(Root() / "fourth" / "d.flac") == d);
  ReadConverted(Root() / "fourth" / "d.wav");
}

TEST_F(Converter, UnconvertibleFilesReportTheAnalyzersReason) {
  fs::create_directories(Root() / ".." / "elsewhere");
  testing::WriteFile(Root() / "notes.txt", "text");
  testing::WriteFile(Root() / "fake.mp3", "text");
  testing::MakeToneFile(Root() / "voice.ogg", {.seconds = 0.2}, {"-c:a", "libopus"});
  testing::MakeToneFile(Root() / "tone.m4a", {.seconds = 0.2}, {"-c:a", "aac"});
  testing::WriteFile(Root().parent_path() / "outside.mp3", "text");
  const ConvertResult result =
      Convert({Root() / "notes.txt", Root() / "fake.mp3", Root() / "voice.ogg",
               Root() / "missing.flac", Root().parent_path() / "outside.mp3"});
  fs::remove(Root().parent_path() / "outside.mp3");
  EXPECT_EQ(result.failed, 5);
  const auto expect = [&](size_t i, const char* code, const char* message) {
    SCOPED_TRACE(i);
    EXPECT_EQ(result.results[i].status, "failed");
    EXPECT_EQ(result.results[i].code, code);
    EXPECT_EQ(result.results[i].message, message);
    EXPECT_EQ(result.results[i].target_path, "");
  };
  expect(0, "codec_unsupported", "File extension is not supported by the analyzer");
  expect(1, "conversion_failed", "MP3 decoder could not open the file");
  expect(2, "codec_ogg_opus_unsupported", "Only Ogg Vorbis is supported in the current build");
  expect(3, "conversion_failed", "File could not be read");
  expect(4, "conversion_failed", "Path is outside the active profile folder");

  // Without the media framework its formats are skipped, not failed.
  AnalyzerServiceOptions no_media;
  no_media.preset = true;
  AnalyzerService analyzer(no_media);
  ConverterService converter(&analyzer);
  ConvertItemResult item;
  EXPECT_TRUE(converter.ConvertFile(Root(), Root() / "tone.m4a", true, false, &item));
  EXPECT_EQ(item.status, "skipped");
  EXPECT_EQ(item.code, "media_feature_pack_required");
  EXPECT_EQ(item.target_path, (Root() / "tone.m4a").string());

  ConverterService unconfigured(nullptr);
  EXPECT_FALSE(unconfigured.ConvertFile(Root(), Root() / "tone.m4a", true, false, &item));
  EXPECT_EQ(item.message, "AnalyzerService is not configured");
  std::string error;
  EXPECT_FALSE(unconfigured.Convert(Root(), {}, true, false, nullptr, &error));
  EXPECT_EQ(error, "ConvertResult output pointer is null");
}

TEST_F(Converter, NonFiniteSamplesBecomeSilenceAndOutputIsRepeatable) {
  const float nan = std::numeric_limits<float>::quiet_NaN();
  const std::string wav = testing::RiffWave(
      {{"fmt ", testing::FmtBody(3, 2, 48000, 32, 8)},
       {"data", testing::FloatBytes(
                    {nan, 0.5f, std::numeric_limits<float>::infinity(), -0.5f, 0.0f, 0.0f})}});
  testing::WriteFile(Root() / "a.wav", wav);
  testing::WriteFile(Root() / "b.wav", wav);
  ASSERT_EQ(ConvertOne(Root() / "a.wav", false).status, "converted");
  ASSERT_EQ(ConvertOne(Root() / "b.wav", false).status, "converted");
  EXPECT_TRUE(ReadFile(Root() / "a.wav") == ReadFile(Root() / "b.wav"));
  const DecodedWavData out = ReadConverted(Root() / "a.wav");
  ASSERT_EQ(out.samples.size(), 6u);
  EXPECT_LE(std::abs(out.samples[0]), 1.0f / 32768);
  EXPECT_NEAR(out.samples[1], 0.5f, 1e-4);
  EXPECT_LE(std::abs(out.samples[2]), 1.0f / 32768);
}

TEST_F(Converter, ResultJsonUsesNullForEmptyCodesAndBackups) {
  ConvertResult result;
  result.converted = 1;
  result.failed = 1;
  result.results.push_back({"/a/x.mp3", "/a/x.wav", "", "converted", "", "Converted"});
  result.results.push_back({"/a/y.mp3", "", "", "failed", "target_exists", "exists"});
  const JsonValue json = BuildConvertResultJson(result);
  EXPECT_EQ(json.Find("summary")->GetNumber("converted", 0), 1);
  EXPECT_EQ(json.Find("summary")->GetNumber("skipped", -1), 0);
  const JsonValue& first = json.Find("results")->array_value.at(0);
  EXPECT_EQ(first.Find("backup_path")->type, JsonValue::Type::Null);
  EXPECT_EQ(first.Find("code")->type, JsonValue::Type::Null);
  EXPECT_EQ(first.GetString("target_path", ""), "/a/x.wav");
  const JsonValue& second = json.Find("results")->array_value.at(1);
  EXPECT_EQ(second.GetString("code", ""), "target_exists");
  EXPECT_EQ(second.GetString("target_path", "missing"), "");
}

TEST(ConverterPaths, TargetsSitBesideTheSource) {
  EXPECT_EQ(ConvertTargetPath("/m/Song.MP3"), fs::path("/m/Song.wav"));
  EXPECT_EQ(ConvertTargetPath("/m/clip.WAV"), fs::path("/m/clip.WAV"));
  EXPECT_EQ(ConvertTargetPath("/m/archive.tar.ogg"), fs::path("/m/archive.tar.wav"));
}

}  // namespace
}  // namespace zennic
