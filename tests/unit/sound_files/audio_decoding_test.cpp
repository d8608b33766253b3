#include "sound_files/audio_decoding.h"

#include <gtest/gtest.h>

#include "sound_fixtures.h"
#include "support/failing_read_mount.h"
#include "support/run_command.h"
#include "support/temp_folder.h"

namespace zennic {
namespace {

using testing::TempFolder;

// One encoded fixture and what decoding it must give.
struct FormatCase {
  const char* file;
  std::vector<std::string> options;
  const char* container;
  const char* codec;
  uint32_t bits;
  // Frames the decoder may add or lose against the original: the priming and framing of
  // lossy codecs without an edit list. Zero where the stream states its exact length.
  uint64_t frame_tolerance;
  double level_tolerance;
};

std::vector<FormatCase> EncodedFormats() {
  return {
      {"cbr.mp3", {"-c:a", "libmp3lame", "-b:a", "192k"}, "MP3", "MP3", 0, 0, 0.02},
      {"vbr.mp3", {"-c:a", "libmp3lame", "-q:a", "2"}, "MP3", "MP3", 0, 0, 0.02},
      {"pcm16.flac", {"-c:a", "flac", "-sample_fmt", "s16"}, "FLAC", "FLAC", 16, 0, 1e-4},
      {"pcm24.flac", {"-c:a", "flac", "-sample_fmt", "s32"}, "FLAC", "FLAC", 24, 0, 1e-4},
      {"vorbis.ogg", {"-c:a", "libvorbis", "-q:a", "5"}, "Ogg", "Vorbis", 0, 0, 0.02},
      {"adts.aac", {"-c:a", "aac", "-f", "adts"}, "AAC", "AAC", 32, 2048, 0.02},
      {"stream.adts", {"-c:a", "aac", "-f", "adts"}, "AAC", "AAC", 32, 2048, 0.02},
      {"clip.m4a", {"-c:a", "aac"}, "M4A", "AAC", 32, 0, 0.02},
      {"clip.wma", {"-c:a", "wmav2"}, "ASF", "WMA", 32, 2048, 0.03},
      {"clip.asf", {"-c:a", "wmav2", "-f", "asf"}, "ASF", "WMA", 32, 2048, 0.03},
  };
}

DecodeOptions HalfASecond() {
  DecodeOptions options;
  options.max_seconds = 0.5;
  return options;
}

TEST(AudioDecoding, ExtensionsAreReadWithoutRegardToCase) {
  EXPECT_EQ(LowerCaseExtension("CLIP.WAV"), ".wav");
  EXPECT_EQ(LowerCaseExtension("/x/clip.Wav"), ".wav");
  EXPECT_EQ(LowerCaseExtension("/x.folder/clip"), "");
  EXPECT_EQ(LowerCaseExtension("/x/.wav"), "");
  EXPECT_EQ(LowerCaseExtension("/x/archive.tar.MP3"), ".mp3");
  EXPECT_EQ(LowerCaseExtension("/x/.."), "");
  EXPECT_EQ(LowerCaseExtension(""), "");
  EXPECT_TRUE(IsMediaFoundationExtension("a.ADTS"));
  EXPECT_FALSE(IsMediaFoundationExtension("a.mp4"));
  EXPECT_EQ(ContainerNameForExtension(".asf"), "ASF");
  EXPECT_EQ(ContainerNameForExtension(".opus"), "Unknown");
  EXPECT_EQ(CodecNameForMediaFoundationExtension(".m4a"), "AAC");
  EXPECT_EQ(CodecNameForMediaFoundationExtension(".wma"), "WMA");
  EXPECT_EQ(CodecNameForMediaFoundationExtension(".mp3"), "Unknown");
}

TEST(AudioDecoding, EachFormatDecodesToItsToneWithItsFormatFacts) {
  TempFolder folder;
  constexpr uint64_t kFrames = 44100;
  for (const FormatCase& c : EncodedFormats()) {
    SCOPED_TRACE(c.file);
    const auto path = folder / c.file;
    testing::MakeToneFile(path, {.sample_rate = 44100, .channels = 2, .seconds = 1.0}, c.options);

    AudioFormatInfo probe;
    std::string error;
    ASSERT_TRUE(AnalyzeAudioFile(path, &probe, &error)) << error;
    EXPECT_TRUE(probe.probed);
    EXPECT_TRUE(probe.decodable);
    EXPECT_EQ(probe.container, c.container);
    EXPECT_EQ(probe.codec, c.codec);
    EXPECT_EQ(probe.sample_rate, 44100u);
    EXPECT_EQ(probe.channels, 2);
    EXPECT_TRUE(probe.issue_code.empty());

    DecodedAudioData data;
    ASSERT_TRUE(DecodeAudioFile(path, &data, &error)) << error;
    EXPECT_EQ(data.container, c.container);
    EXPECT_EQ(data.codec, c.codec);
    EXPECT_EQ(data.bits_per_sample, c.bits);
    EXPECT_EQ(data.sample_rate, 44100u);
    EXPECT_EQ(data.channels, 2);
    EXPECT_EQ(data.samples.size(), data.frame_count * 2);
    EXPECT_LE(data.frame_count, kFrames + c.frame_tolerance);
    EXPECT_GE(data.frame_count + c.frame_tolerance, kFrames);
    for (int channel = 0; channel < 2; ++channel) {
      const testing::ToneFit fit = testing::FitTone(data.samples, 2, channel, 44100, 1000.0);
      EXPECT_NEAR(fit.amplitude, 0.5, c.level_tolerance);
      EXPECT_LT(fit.residual_rms, c.level_tolerance);
    }
    // A decode that may last only half as long stops rather than holding the whole sound.
    DecodedAudioData cut;
    EXPECT_FALSE(DecodeAudioFile(path, &cut, &error, HalfASecond()));
    EXPECT_EQ(error, kAudioTooLong);
    EXPECT_TRUE(cut.samples.empty());
  }
  testing::MakeToneFile(folder / "pcm16.wav", {.seconds = 1.0}, {"-c:a", "pcm_s16le"});
  DecodedAudioData cut;
  EXPECT_FALSE(DecodeAudioFile(folder / "pcm16.wav", &cut, nullptr, HalfASecond()));
}

TEST(AudioDecoding, Mp3WithEncoderDelayKeepsTheOriginalLength) {
  TempFolder folder;
  // An odd length, so neither the encoder's delay nor its last frame's padding can line up.
  testing::MakeToneFile(folder / "odd.mp3", {.sample_rate = 48000, .channels = 1, .seconds = 0.777},
                        {"-c:a", "libmp3lame", "-b:a", "96k"});
  AudioFormatInfo probe;
  ASSERT_TRUE(AnalyzeAudioFile(folder / "odd.mp3", &probe, nullptr));
  EXPECT_EQ(probe.frame_count, 37296u);
  DecodedAudioData data;
  ASSERT_TRUE(DecodeAudioFile(folder / "odd.mp3", &data, nullptr));
  EXPECT_EQ(data.frame_count, 37296u);
  EXPECT_EQ(data.channels, 1);
  EXPECT_EQ(data.bits_per_sample, 0u);
}

TEST(AudioDecoding, OggOpusProbesAsUnknownOggAndIsNotDecoded) {
  TempFolder folder;
  testing::MakeToneFile(folder / "voice.ogg", {.seconds = 0.5}, {"-c:a", "libopus"});
  AudioFormatInfo probe;
  ASSERT_TRUE(AnalyzeAudioFile(folder / "voice.ogg", &probe, nullptr));
  EXPECT_TRUE(probe.probed);
  EXPECT_FALSE(probe.decodable);
  EXPECT_EQ(probe.container, "Ogg");
  EXPECT_EQ(probe.codec, "Unknown");
  EXPECT_EQ(probe.issue_code, "codec_ogg_opus_unsupported");
  EXPECT_EQ(probe.issue_message, "Only Ogg Vorbis is supported in the current build");
  DecodedAudioData data;
  std::string error;
  EXPECT_FALSE(DecodeAudioFile(folder / "voice.ogg", &data, &error));
  EXPECT_EQ(error, "Only Ogg Vorbis is supported in the current build");
}

TEST(AudioDecoding, TextFilesAreRefusedWhateverTheirExtension) {
  TempFolder folder;
  struct Case {
    const char* name;
    bool probe_result;       // false: the file could not be opened as this format at all
    const char* probe_code;  // for a probe that succeeds without being decodable
    const char* decode_error;
  };
  const char* kNotLinked = "Decoder support for this format has not been linked";
  const char* kMfOpen = "Media Foundation could not open the file";
  for (const Case& c : {
           Case{"notes.wav", false, "", "File is not a RIFF/WAVE file"},
           Case{"notes.mp3", false, "", "MP3 decoder could not open the file"},
           Case{"notes.flac", false, "", "FLAC decoder could not open the file"},
           Case{"notes.ogg", true, "codec_ogg_opus_unsupported",
                "Only Ogg Vorbis is supported in the current build"},
           Case{"notes.aac", true, "decoder_unavailable", kMfOpen},
           Case{"notes.adts", true, "decoder_unavailable", kMfOpen},
           Case{"notes.m4a", true, "decoder_unavailable", kMfOpen},
           Case{"notes.wma", true, "decoder_unavailable", kMfOpen},
           Case{"notes.asf", true, "decoder_unavailable", kMfOpen},
           Case{"notes.txt", true, "codec_unsupported", kNotLinked},
           Case{"NOTES", true, "codec_unsupported", kNotLinked},
       }) {
    SCOPED_TRACE(c.name);
    testing::WriteFile(folder / c.name, "Shopping list\nmilk\nbread\n");
    AudioFormatInfo probe;
    probe.container = "stale";
    std::string error;
    EXPECT_EQ(AnalyzeAudioFile(folder / c.name, &probe, &error), c.probe_result);
    EXPECT_FALSE(probe.decodable);
    EXPECT_EQ(probe.issue_code, c.probe_code);
    if (!c.probe_result) {
      EXPECT_EQ(error, c.decode_error);
      EXPECT_EQ(probe.container, "");
    }
    DecodedAudioData data;
    data.samples = {1.0f};
    EXPECT_FALSE(DecodeAudioFile(folder / c.name, &data, &error));
    EXPECT_EQ(error, c.decode_error);
    EXPECT_FALSE(data.probed);
    EXPECT_TRUE(data.samples.empty());
  }
  // The unknown extension still names no container.
  AudioFormatInfo probe;
  ASSERT_TRUE(AnalyzeAudioFile(folder / "notes.txt", &probe, nullptr));
  EXPECT_EQ(probe.container, "Unknown");
  EXPECT_EQ(probe.issue_message, "File extension is not supported by the analyzer");
}

TEST(AudioDecoding, CutOffFilesDecodeWhatTheyHold) {
  TempFolder folder;
  constexpr uint64_t kFrames = 3 * 44100;
  for (const FormatCase& c : EncodedFormats()) {
    SCOPED_TRACE(c.file);
    const auto path = folder / c.file;
    // Playable-first layout, as files made for streaming have it.
    std::vector<std::string> options = c.options;
    if (std::string(c.container) == "M4A")
      options.insert(options.end(), {"-movflags", "+faststart"});
    // Pages of a tenth of a second, as music bit rates fill them: a page cut in two is lost
    // whole, its checksum unproven.
    if (std::string(c.container) == "Ogg")
      options.insert(options.end(), {"-page_duration", "100000"});
    testing::MakeToneFile(path, {.seconds = 3.0}, options);
    testing::TruncateFile(path, 0.5);
    DecodedAudioData data;
    std::string error;
    ASSERT_TRUE(DecodeAudioFile(path, &data, &error)) << error;
    EXPECT_GT(data.frame_count, kFrames / 10);
    EXPECT_LT(data.frame_count, kFrames * 7 / 10);
    EXPECT_EQ(data.samples.size(), data.frame_count * 2);
  }
}

TEST(AudioDecoding, DamagedFilesNeverGiveInconsistentRecords) {
  TempFolder folder;
  for (const FormatCase& c : EncodedFormats()) {
    for (const char* damage : {"head", "middle"}) {
      SCOPED_TRACE(std::string(c.file) + " damaged in the " + damage);
      const auto path = folder / c.file;
      testing::MakeToneFile(path, {.seconds = 2.0}, c.options);
      std::string bytes = testing::ReadFile(path);
      const size_t begin = std::string(damage) == "head" ? 0 : bytes.size() / 2;
      for (size_t i = begin; i < begin + bytes.size() / 10; ++i) {
        bytes[i] = static_cast<char>(i * 7919);
      }
      testing::WriteFile(path, bytes);
      DecodedAudioData data;
      std::string error;
      if (DecodeAudioFile(path, &data, &error)) {
        EXPECT_EQ(data.samples.size(), data.frame_count * static_cast<uint64_t>(data.channels));
        EXPECT_LE(data.frame_count, 2 * 44100u + 4096);
      } else {
        EXPECT_FALSE(error.empty());
        EXPECT_TRUE(data.samples.empty());
      }
    }
  }
}

TEST(AudioDecoding, AReadThatFailsPartWayFailsTheDecode) {
  TempFolder folder;
  std::filesystem::create_directories(folder / "disk");
  std::filesystem::create_directories(folder / "mount");
  std::vector<FormatCase> formats = EncodedFormats();
  formats.push_back({"clip.wav", {"-c:a", "pcm_s16le"}, "WAV", "PCM", 16, 0, 0});
  // Long enough that the failure comes well after the headers, whatever each reader buffers.
  for (const FormatCase& c : formats) {
    testing::MakeToneFile(folder / "disk" / c.file, {.seconds = 20.0}, c.options);
  }
  testing::FailingReadMount mount(folder / "disk", folder / "mount", 0.6);
  if (!mount.mounted()) GTEST_SKIP() << mount.error();
  for (const FormatCase& c : formats) {
    SCOPED_TRACE(c.file);
    DecodedAudioData data;
    std::string error;
    EXPECT_FALSE(DecodeAudioFile(folder / "mount" / c.file, &data, &error))
        << data.frame_count << " frames taken for the whole file";
    EXPECT_FALSE(error.empty());
  }
}

TEST(AudioDecoding, LongOggVorbisDecodesWhetherWholeOrCutOff) {
  TempFolder folder;
  // A sweep, so a stretch decoded at the wrong place cannot match.
  testing::RunFfmpeg({"-f", "lavfi", "-i",
                             "aevalsrc=0.4*sin(2*PI*(200+40*t)*t)|0.4*sin(2*PI*(300+20*t)*t)"
                             ":s=44100:d=40",
                             "-c:a", "libvorbis", (folder / "long.ogg").string()});
  testing::RunFfmpeg({"-i", (folder / "long.ogg").string(), "-c:a", "pcm_f32le",
                             (folder / "reference.wav").string()});
  DecodedAudioData reference;
  ASSERT_TRUE(DecodeAudioFile(folder / "reference.wav", &reference, nullptr));
  for (double kept : {1.0, 0.6}) {
    SCOPED_TRACE(kept);
    testing::TruncateFile(folder / "long.ogg", kept);
    DecodedAudioData data;
    std::string error;
    ASSERT_TRUE(DecodeAudioFile(folder / "long.ogg", &data, &error)) << error;
    if (kept == 1.0) {
      EXPECT_EQ(data.frame_count, 40u * 44100);
    }
    EXPECT_GT(data.frame_count, 20u * 44100);
    ASSERT_LE(data.samples.size(), reference.samples.size());
    float worst = 0;
    for (size_t i = 0; i < data.samples.size(); ++i) {
      worst = std::max(worst, std::abs(data.samples[i] - reference.samples[i]));
    }
    EXPECT_LT(worst, 1e-3f);
  }
}

// Writes the total sample count of a FLAC file's stream information, which follows the
// "fLaC" marker and the metadata block header.
void SetFlacDeclaredLength(const std::filesystem::path& path, uint64_t total) {
  std::string bytes = testing::ReadFile(path);
  ASSERT_EQ(bytes.substr(0, 4), "fLaC");
  const size_t field = 8 + 13;  // the low four bits of this byte, then four bytes
  bytes[field] = static_cast<char>((bytes[field] & 0xF0) | ((total >> 32) & 0x0F));
  for (int i = 0; i < 4; ++i) bytes[field + 1 + i] = static_cast<char>(total >> (24 - 8 * i));
  testing::WriteFile(path, bytes);
}

TEST(AudioDecoding, FlacDecodesToTheEndWhateverItsHeaderDeclares) {
  TempFolder folder;
  for (uint64_t declared : {uint64_t{0}, uint64_t{1000}, uint64_t{0xFFFFFFFFFull}}) {
    SCOPED_TRACE(declared);
    const auto path = folder / "clip.flac";
    testing::MakeToneFile(path, {.seconds = 1.0}, {"-c:a", "flac", "-sample_fmt", "s16"});
    SetFlacDeclaredLength(path, declared);
    AudioFormatInfo probe;
    ASSERT_TRUE(AnalyzeAudioFile(path, &probe, nullptr));
    EXPECT_EQ(probe.frame_count, declared);
    DecodedAudioData data;
    std::string error;
    ASSERT_TRUE(DecodeAudioFile(path, &data, &error)) << error;
    EXPECT_EQ(data.frame_count, 44100u);
    EXPECT_EQ(data.samples.size(), 88200u);
    EXPECT_FALSE(DecodeAudioFile(path, &data, &error, HalfASecond()))
        << "the limit holds whatever the header declares";
  }
}

TEST(AudioDecoding, NullOutputsAndUnreadableFilesAreReported) {
  TempFolder folder;
  std::string error;
  EXPECT_FALSE(DecodeAudioFile(folder / "a.wav", nullptr, &error));
  EXPECT_EQ(error, "DecodedAudioData output pointer is null");
  EXPECT_FALSE(AnalyzeAudioFile(folder / "a.wav", nullptr, &error));
  EXPECT_EQ(error, "AudioFormatInfo output pointer is null");
  EXPECT_FALSE(ReadWholeFile(folder / "a.ogg", nullptr, &error));
  EXPECT_EQ(error, "Byte buffer output pointer is null");

  std::vector<uint8_t> bytes = {1, 2};
  EXPECT_FALSE(ReadWholeFile(folder / "missing.ogg", &bytes, &error));
  EXPECT_EQ(error, "Failed to open audio file");
  AudioFormatInfo probe;
  EXPECT_FALSE(AnalyzeAudioFile(folder / "missing.ogg", &probe, &error));
  EXPECT_EQ(error, "Failed to open audio file");
  testing::WriteFile(folder / "empty.ogg", "");
  ASSERT_TRUE(ReadWholeFile(folder / "empty.ogg", &bytes, &error));
  EXPECT_TRUE(bytes.empty());
}

}  // namespace
}  // namespace zennic
