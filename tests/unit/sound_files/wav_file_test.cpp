#include "sound_files/wav_file.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>

#include "sound_fixtures.h"
#include "support/temp_folder.h"

namespace zennic {
namespace {

using testing::FmtBody;
using testing::Le16;
using testing::RiffChunk;
using testing::RiffWave;
using testing::TempFolder;

std::string ReadError(const std::filesystem::path& path) {
  WavFormatInfo info;
  std::string error;
  EXPECT_FALSE(ReadWavFormatInfo(path, &info, &error)) << path;
  return error;
}

std::string DecodeError(const std::filesystem::path& path) {
  DecodedWavData data;
  std::string error;
  EXPECT_FALSE(DecodeWavFile(path, &data, &error)) << path;
  return error;
}

TEST(WavFile, DecodesEveryEncodingAtItsScale) {
  TempFolder folder;
  struct Case {
    const char* codec_option;
    const char* codec;
    uint32_t bits;
    double tolerance;
  };
  for (const Case& c :
       {Case{"pcm_u8", "PCM8", 8, 0.01}, Case{"pcm_s16le", "PCM16", 16, 1e-4},
        Case{"pcm_s24le", "PCM24", 24, 1e-6}, Case{"pcm_s32le", "PCM32", 32, 1e-6},
        Case{"pcm_f32le", "Float32", 32, 1e-6}, Case{"pcm_f64le", "Float64", 64, 1e-6}}) {
    SCOPED_TRACE(c.codec);
    const auto path = folder / (std::string(c.codec) + ".wav");
    testing::MakeToneFile(path, {.sample_rate = 44100, .channels = 1, .seconds = 0.5},
                          {"-c:a", c.codec_option});
    DecodedWavData data;
    std::string error;
    ASSERT_TRUE(DecodeWavFile(path, &data, &error)) << error;
    EXPECT_TRUE(data.parsed);
    EXPECT_TRUE(data.decodable);
    EXPECT_EQ(data.codec, c.codec);
    EXPECT_EQ(data.bits_per_sample, c.bits);
    EXPECT_EQ(data.sample_rate, 44100u);
    EXPECT_EQ(data.frame_count, 22050u);
    ASSERT_EQ(data.samples.size(), 22050u);
    const testing::ToneFit fit = testing::FitTone(data.samples, 1, 0, 44100, 1000.0);
    EXPECT_NEAR(fit.amplitude, 0.5, c.tolerance * 4);
    EXPECT_LT(fit.residual_rms, c.tolerance * 4);
  }
}

TEST(WavFile, DecodesLayoutsFromMonoToSixChannelsAndRatesFrom8kTo192k) {
  TempFolder folder;
  for (auto [rate, channels] :
       {std::pair{8000, 1}, {22050, 2}, {48000, 3}, {96000, 6}, {192000, 2}, {44100, 4}}) {
    SCOPED_TRACE(std::to_string(rate) + " Hz, " + std::to_string(channels) + " channels");
    const auto path = folder / ("tone" + std::to_string(rate) + ".wav");
    // More than two channels makes ffmpeg write the extensible format header.
    testing::MakeToneFile(path, {.sample_rate = rate, .channels = channels, .seconds = 0.25},
                          {"-c:a", "pcm_s16le"});
    DecodedWavData data;
    std::string error;
    ASSERT_TRUE(DecodeWavFile(path, &data, &error)) << error;
    EXPECT_EQ(data.format_tag, 1);
    EXPECT_EQ(data.channels, channels);
    EXPECT_EQ(data.sample_rate, static_cast<uint32_t>(rate));
    EXPECT_EQ(data.frame_count, static_cast<uint64_t>(std::lround(rate / 4.0)));
    for (int c = 0; c < channels; ++c) {
      EXPECT_NEAR(testing::FitTone(data.samples, channels, c, rate, 1000.0).amplitude, 0.5, 1e-3);
    }
  }
}

TEST(WavFile, ReadsChunksInAnyOrderAndSkipsPaddedUnknownChunks) {
  TempFolder folder;
  const std::string samples = Le16(0x8000) + Le16(0x4000);  // -1.0 and 0.5
  testing::WriteFile(folder / "order.wav", RiffWave({{"data", samples},
                                                     {"junk", "abc"},  // odd size, pad byte follows
                                                     {"fmt ", FmtBody(1, 1, 8000, 16, 2)}}));
  DecodedWavData data;
  std::string error;
  ASSERT_TRUE(DecodeWavFile(folder / "order.wav", &data, &error)) << error;
  EXPECT_EQ(data.data_offset, 20u);
  EXPECT_EQ(data.frame_count, 2u);
  EXPECT_EQ(data.samples, (std::vector<float>{-1.0f, 0.5f}));

  // The extensible form takes its code from the sub-format; valid bits are ignored.
  std::string extensible = FmtBody(0xFFFE, 2, 48000, 24, 6) + Le16(22) + Le16(24) +
                           testing::Le32(3) + Le16(1) + std::string(14, 'x');
  testing::WriteFile(folder / "extensible.wav",
                     RiffWave({{"fmt ", extensible}, {"data", std::string(6, '\0')}}));
  WavFormatInfo info;
  ASSERT_TRUE(ReadWavFormatInfo(folder / "extensible.wav", &info, &error)) << error;
  EXPECT_EQ(info.format_tag, 1);
  EXPECT_EQ(info.codec, "PCM24");
  EXPECT_TRUE(info.decodable);

  // A short extensible header keeps the extensible code and is not decodable.
  testing::WriteFile(folder / "short.wav",
                     RiffWave({{"fmt ", FmtBody(0xFFFE, 2, 48000, 16, 4) + Le16(0)},
                               {"data", std::string(4, '\0')}}));
  ASSERT_TRUE(ReadWavFormatInfo(folder / "short.wav", &info, &error)) << error;
  EXPECT_EQ(info.format_tag, 0xFFFE);
  EXPECT_EQ(info.codec, "Unknown");
  EXPECT_FALSE(info.decodable);
}

TEST(WavFile, IntegerExtremesScaleToTheDocumentedValues) {
  TempFolder folder;
  testing::WriteFile(folder / "u8.wav", RiffWave({{"fmt ", FmtBody(1, 1, 8000, 8, 1)},
                                                  {"data", std::string("\x80\x00\xFF", 3)}}));
  DecodedWavData data;
  ASSERT_TRUE(DecodeWavFile(folder / "u8.wav", &data, nullptr));
  EXPECT_EQ(data.samples, (std::vector<float>{0.0f, -1.0f, 0.9921875f}));

  testing::WriteFile(folder / "s24.wav",
                     RiffWave({{"fmt ", FmtBody(1, 1, 8000, 24, 3)},
                               {"data", std::string("\x00\x00\x80\xFF\xFF\x7F", 6)}}));
  ASSERT_TRUE(DecodeWavFile(folder / "s24.wav", &data, nullptr));
  EXPECT_EQ(data.samples, (std::vector<float>{-1.0f, 8388607.0f / 8388608.0f}));

  // Float samples pass through unclamped, NaN included.
  testing::WriteFile(
      folder / "f32.wav",
      RiffWave({{"fmt ", FmtBody(3, 1, 8000, 32, 4)},
                {"data", testing::FloatBytes({2.5f, std::numeric_limits<float>::quiet_NaN()})}}));
  ASSERT_TRUE(DecodeWavFile(folder / "f32.wav", &data, nullptr));
  EXPECT_EQ(data.samples[0], 2.5f);
  EXPECT_TRUE(std::isnan(data.samples[1]));
}

TEST(WavFile, DamagedHeadersAreRefusedWithTheirReason) {
  TempFolder folder;
  const std::string fmt = FmtBody(1, 2, 8000, 16, 4);
  const auto write = [&](const std::string& name, const std::string& bytes) {
    testing::WriteFile(folder / name, bytes);
    return folder / name;
  };
  EXPECT_EQ(ReadError(folder / "missing.wav"), "Failed to open WAV file");
  EXPECT_EQ(ReadError(write("tiny.wav", "RIFF")), "WAV file is too small");
  EXPECT_EQ(ReadError(write("text.wav", "just some text, not a sound\n")),
            "File is not a RIFF/WAVE file");
  EXPECT_EQ(ReadError(write("nodata.wav", RiffWave({{"fmt ", fmt}}))),
            "WAV file is missing fmt or data chunks");
  EXPECT_EQ(ReadError(write("cut-header.wav", RiffWave({{"fmt ", fmt}}) + "dat")),
            "Unexpected end of WAV chunk header");
  EXPECT_EQ(
      ReadError(write("small-fmt.wav", RiffWave({{"fmt ", fmt.substr(0, 14)}, {"data", "xxxx"}}))),
      "WAV fmt chunk is too small");
  // A fmt chunk claiming 4 GB is refused before anything is sized from it.
  EXPECT_EQ(
      ReadError(write("huge-fmt.wav", RiffWave({{"fmt ", fmt, 0xFFFFFFF0u}, {"data", "xxxx"}}))),
      "Unexpected end of WAV fmt chunk");
  EXPECT_EQ(ReadError(write("align0.wav",
                            RiffWave({{"fmt ", FmtBody(1, 2, 8000, 16, 0)}, {"data", "xxxx"}}))),
            "Invalid WAV block alignment");
  // Two 16-bit channels need four bytes a frame; two would send the decoder past the data.
  EXPECT_EQ(ReadError(write("narrow.wav",
                            RiffWave({{"fmt ", FmtBody(1, 2, 8000, 16, 2)}, {"data", "xxxx"}}))),
            "Invalid WAV block alignment");

  WavFormatInfo info;
  std::string error;
  EXPECT_FALSE(ReadWavFormatInfo(folder / "x.wav", nullptr, &error));
  EXPECT_EQ(error, "WavFormatInfo output pointer is null");
  EXPECT_FALSE(DecodeWavFile(folder / "x.wav", nullptr, &error));
  EXPECT_EQ(error, "DecodedWavData output pointer is null");
}

TEST(WavFile, DataBeyondTheFileReadsTheHeaderButIsNotDecoded) {
  TempFolder folder;
  testing::WriteFile(folder / "liar.wav", RiffWave({{"fmt ", FmtBody(1, 2, 8000, 16, 4)},
                                                    {"data", std::string(8, '\0'), 0x7FFFFFF0u}}));
  WavFormatInfo info;
  ASSERT_TRUE(ReadWavFormatInfo(folder / "liar.wav", &info, nullptr));
  EXPECT_EQ(info.frame_count, 0x7FFFFFF0u / 4);
  EXPECT_EQ(DecodeError(folder / "liar.wav"), "Unexpected end of WAV data chunk");

  testing::MakeToneFile(folder / "cut.wav", {.seconds = 0.5}, {"-c:a", "pcm_s16le"});
  testing::TruncateFile(folder / "cut.wav", 0.6);
  ASSERT_TRUE(ReadWavFormatInfo(folder / "cut.wav", &info, nullptr));
  EXPECT_EQ(info.frame_count, 22050u);
  EXPECT_EQ(DecodeError(folder / "cut.wav"), "Unexpected end of WAV data chunk");
}

TEST(WavFile, OtherCodecsAreParsedButNotDecoded) {
  TempFolder folder;
  testing::MakeToneFile(folder / "mulaw.wav", {.seconds = 0.1}, {"-c:a", "pcm_mulaw"});
  WavFormatInfo info;
  ASSERT_TRUE(ReadWavFormatInfo(folder / "mulaw.wav", &info, nullptr));
  EXPECT_TRUE(info.parsed);
  EXPECT_FALSE(info.decodable);
  EXPECT_EQ(info.format_tag, 7);
  EXPECT_EQ(info.codec, "Unknown");
  EXPECT_EQ(DecodeError(folder / "mulaw.wav"), "WAV codec is not supported for decoding");
}

TEST(WavFile, WritesTheCanonicalHeaderAndReadsItBack) {
  TempFolder folder;
  const auto path = folder / "new/folder/out.wav";
  std::string error;
  ASSERT_TRUE(WriteWavFile(path, 48000, 2, {0, -32768, 32767, 1}, &error)) << error;
  const std::string bytes = testing::ReadFile(path);
  ASSERT_EQ(bytes.size(), 52u);
  EXPECT_EQ(bytes.substr(0, 4), "RIFF");
  EXPECT_EQ(bytes.substr(4, 4), testing::Le32(44));
  EXPECT_EQ(bytes.substr(8, 8), "WAVEfmt ");
  EXPECT_EQ(bytes.substr(16, 20), testing::Le32(16) + FmtBody(1, 2, 48000, 16, 4));
  EXPECT_EQ(bytes.substr(36, 8), "data" + testing::Le32(8));
  DecodedWavData data;
  ASSERT_TRUE(DecodeWavFile(path, &data, &error)) << error;
  EXPECT_EQ(data.samples, (std::vector<float>{0.0f, -1.0f, 32767.0f / 32768.0f, 1.0f / 32768.0f}));

  ASSERT_TRUE(WriteWavFile(folder / "empty.wav", 48000, 2, {}, &error)) << error;
  EXPECT_EQ(testing::ReadFile(folder / "empty.wav").substr(4, 4), testing::Le32(36));
  ASSERT_TRUE(DecodeWavFile(folder / "empty.wav", &data, &error)) << error;
  EXPECT_EQ(data.codec, "PCM16");
  EXPECT_EQ(data.frame_count, 0u);
  EXPECT_TRUE(data.samples.empty());
}

TEST(WavFile, WriteFailuresNameTheProblem) {
  TempFolder folder;
  std::string error;
  EXPECT_FALSE(WriteWavFile(folder / "a.wav", 0, 2, {}, &error));
  EXPECT_EQ(error, "Invalid WAV output format");
  EXPECT_FALSE(WriteWavFile(folder / "a.wav", 0x80000000u, 2, {}, &error));
  EXPECT_EQ(error, "Invalid WAV output format");
  EXPECT_FALSE(WriteWavFile(folder / "a.wav", 48000, 0, {}, &error));
  EXPECT_EQ(error, "Invalid WAV output format");
  std::filesystem::create_directories(folder / "taken.wav");
  EXPECT_FALSE(WriteWavFile(folder / "taken.wav", 48000, 2, {}, &error));
  EXPECT_EQ(error, "Failed to open WAV output path");
  EXPECT_FALSE(std::filesystem::exists(folder / "a.wav"));
}

}  // namespace
}  // namespace zennic
