// New clips made from old ones against the built program: merge, normalise, volume health and
// the trim editor's routes.

#include <cmath>
#include <future>

#include "sound_files/wav_file.h"
#include "sound_library_fixture.h"

namespace zennic {
namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;
using testing::ApiReply;
using testing::Json;
using testing::SoundLibraryTest;
using testing::WriteToneWav;

WavFormatInfo FormatOf(const fs::path& file) {
  WavFormatInfo format;
  EXPECT_TRUE(ReadWavFormatInfo(file, &format, nullptr)) << file;
  return format;
}

double Dbfs(double linear) { return 20 * std::log10(linear); }

// Work files and trim uploads left behind in a folder.
std::vector<std::string> Leftovers(const fs::path& folder) {
  std::vector<std::string> names;
  for (const fs::directory_entry& entry : fs::recursive_directory_iterator(folder)) {
    std::string name = entry.path().filename().string();
    if (name.ends_with(".tmp") || name.starts_with("zennic-trim-")) names.push_back(name);
  }
  return names;
}

TEST_F(SoundLibraryTest, MergeJoinsTwoClipsWithTheGapBetween) {
  WriteToneWav(audio_ / "intro.wav", 1.0, 0.5);
  WriteToneWav(audio_ / "outro.wav", 1.0, 0.5, 44100, 1);
  ASSERT_TRUE(StartProgram());
  JsonValue body = Json({{"first_path", Text(audio_ / "intro.wav")},
                         {"second_path", Text(audio_ / "outro.wav")},
                         {"gap_seconds", 0.5}});

  ApiReply merged = Post("/api/mixer/files/merge", body);
  ASSERT_EQ(merged.status, 200) << merged.http.body;
  EXPECT_EQ(merged.json.GetString("new_filename", ""), "intro_plus_outro.wav");
  EXPECT_EQ(merged.json.GetString("relative_path", ""), "intro_plus_outro.wav");
  EXPECT_EQ(merged.json.GetNumber("duration_seconds", 0), 2.5);
  WavFormatInfo format = FormatOf(audio_ / "intro_plus_outro.wav");
  EXPECT_EQ(format.sample_rate, 48000u);
  EXPECT_EQ(format.channels, 2);
  EXPECT_EQ(format.bits_per_sample, 16u);
  EXPECT_EQ(format.frame_count, 120000u);
  EXPECT_EQ(Post("/api/mixer/files/merge", body).json.GetString("new_filename", ""),
            "intro_plus_outro-2.wav");

  for (const auto& [key, value, code] :
       std::vector<std::tuple<std::string, JsonValue, std::string>>{
           {"output_filename", "intro_plus_outro", "destination_exists"},
           {"output_filename", "mix.flac", "extension_invalid"},
           {"output_filename", JsonValue(1.0), "filename_invalid"},
           {"gap_seconds", 1.5, "invalid_gap"},
           {"gap_seconds", "1", "invalid_gap"},
           {"gap_seconds", -0.00005, "merge_too_large"},
           {"second_path", Text(audio_ / "gone.wav"), "file_not_found"},
       }) {
    JsonValue refused = body;
    refused[key] = value;
    EXPECT_EQ(Post("/api/mixer/files/merge", refused).code(), code) << key << value.Serialize(0);
  }
  EXPECT_EQ(Leftovers(audio_), std::vector<std::string>());
}

// Long sounds of few bytes: two hours of Ogg, and 8-bit WAV at 1 kHz, whose 2 MB stand for
// 33 minutes, gigabytes once brought to 48 kHz stereo. Refused by their length before they are
// decoded; a ten-minute one is normalised a block at a time.
TEST_F(SoundLibraryTest, ClipsLongForTheirFewBytesCostLittleMemory) {
  testing::RunFfmpeg({"-f", "lavfi", "-i", "anullsrc=r=8000:cl=mono", "-t", "7200", "-c:a",
                      "libvorbis", "-q:a", "-1", Text(audio_ / "long.ogg")});
  for (const auto& [name, seconds] : {std::pair{"long.wav", "2000"}, {"ten_minutes.wav", "600"}}) {
    testing::RunFfmpeg({"-f", "lavfi", "-i", "sine=frequency=100:sample_rate=1000", "-t", seconds,
                        "-c:a", "pcm_u8", Text(audio_ / name)});
  }
  WriteToneWav(audio_ / "short.wav", 1.0, 0.5);
  // Clips for the trim editor within its limit and beyond it; holes, so quick to make.
  for (const auto& [name, mib] : {std::pair{"large.wav", 120}, {"huge.wav", 129}}) {
    testing::WriteFile(audio_ / name, "RIFF");
    fs::resize_file(audio_ / name, static_cast<uintmax_t>(mib) << 20);
  }
  ASSERT_TRUE(StartProgram());

  constexpr long kLittle = 64 * 1024;
  for (const auto& [route, body, status, code, most_kib] :
       std::vector<std::tuple<std::string, JsonValue, int, std::string, long>>{
           {"/api/mixer/files/merge",
            Json({{"first_path", Text(audio_ / "short.wav")},
                  {"second_path", Text(audio_ / "long.ogg")}}),
            413, "merge_too_large", kLittle},
           {"/api/mixer/files/normalize", Json({{"path", Text(audio_ / "long.wav")}}), 413,
            "normalize_too_large", kLittle},
           {"/api/mixer/files/normalize", Json({{"path", Text(audio_ / "ten_minutes.wav")}}), 200,
            "", kLittle},
           // The clip is held once, as the reply.
           {"/api/mixer/trim/source", Json({{"path", Text(audio_ / "large.wav")}}), 200, "",
            (120 + 32) * 1024},
           {"/api/mixer/trim/source", Json({{"path", Text(audio_ / "huge.wav")}}), 413,
            "trim_source_too_large", kLittle},
       }) {
    // Each case's own peak, not one an earlier case left.
    ASSERT_TRUE(program_->ResetPeakMemory());
    const long peak_before = PeakMemoryKiB();
    ApiReply reply = Post(route, body);
    EXPECT_EQ(reply.status, status) << reply.http.body;
    EXPECT_EQ(reply.code(), code);
    const long growth = PeakMemoryKiB() - peak_before;
    EXPECT_LT(growth, most_kib) << route << " KiB";
    std::cout << route << " " << body.Serialize(0) << ": peak memory grew by " << growth
              << " KiB to " << PeakMemoryKiB() << " KiB\n";
  }
  EXPECT_EQ(FormatOf(audio_ / "ten_minutes_normalized.wav").frame_count, 600u * 48000u);
}

// What a run killed part-way left half-written (a save, a move across disks, a trim export) is
// gone once the program has started again; what a running process writes stays.
TEST_F(SoundLibraryTest, WorkFilesOfAnInterruptedRunAreSweptAtStart) {
  // No system gives out process ids this high; process 1 always runs.
  const std::string dead = "2147483646";
  const std::vector<fs::path> abandoned = {
      data_folder_ / ("settings.json.zennic-" + dead + "-0123456789ab.tmp"),
      audio_ / ("Sub/big.wav.zennic-" + dead + "-0123456789ab.tmp"),
      temp_folder_ / ("zennic-trim-song-" + dead + ".wav"),
      temp_folder_ / ("zennic-trim-song-" + dead + ".wav.zennic-" + dead + "-0123456789ab.tmp")};
  const std::vector<fs::path> kept = {audio_ / "Sub/big.wav.zennic-1-0123456789ab.tmp",
                                      temp_folder_ / "zennic-trim-song-1.wav",
                                      audio_ / "notes.tmp"};
  for (const auto& files : {abandoned, kept}) {
    for (const fs::path& file : files) testing::WriteFile(file, "part");
  }
  ASSERT_TRUE(StartProgram());
  for (const fs::path& file : abandoned) EXPECT_FALSE(fs::exists(file)) << file;
  for (const fs::path& file : kept) EXPECT_TRUE(fs::exists(file)) << file;
}

TEST_F(SoundLibraryTest, NormalizeBringsThePeakToTheTarget) {
  WriteToneWav(audio_ / "song.wav", 0.5, 0.5, 44100, 1);
  WriteToneWav(audio_ / "silence.wav", 0.5, 0.0);
  ASSERT_TRUE(StartProgram());

  ApiReply louder = Post("/api/mixer/files/normalize",
                         Json({{"path", Text(audio_ / "song.wav")}, {"target_peak_dbfs", -3.0}}));
  ASSERT_EQ(louder.status, 200) << louder.http.body;
  EXPECT_EQ(louder.json.GetString("new_filename", ""), "song_normalized.wav");
  EXPECT_NEAR(louder.json.GetNumber("peak_before_dbfs", 0), -6.0206, 0.05);
  EXPECT_NEAR(louder.json.GetNumber("gain_db", 0), 3.0206, 0.05);
  EXPECT_NEAR(louder.json.GetNumber("peak_after_dbfs", 0), -3.0, 1e-6);
  EXPECT_EQ(louder.json.GetNumber("target_peak_dbfs", 0), -3.0);
  fs::path output = audio_ / "song_normalized.wav";
  EXPECT_NEAR(Dbfs(testing::PeakOf(output)), -3.0, 0.001);
  WavFormatInfo format = FormatOf(output);
  EXPECT_EQ(format.sample_rate, 48000u);
  EXPECT_EQ(format.channels, 2);

  EXPECT_EQ(Post("/api/mixer/files/normalize", Json({{"path", Text(audio_ / "song.wav")}}))
                .json.GetString("new_filename", ""),
            "song_normalized-2.wav");
  for (const auto& [body, code] : std::vector<std::pair<JsonValue, std::string>>{
           {Json({{"path", Text(audio_ / "silence.wav")}}), "silent_file"},
           {Json({{"path", Text(audio_ / "song.wav")}, {"target_peak_dbfs", -2.0}}),
            "invalid_target_peak"},
           {Json({{"path", Text(audio_ / "song.wav")}, {"target_peak_dbfs", "-3"}}),
            "invalid_target_peak"},
           {Json({{"path", Text(audio_ / "song.wav")}, {"output_filename", "nul"}}),
            "reserved_filename"},
           {Json({{"path", Text(audio_ / "song.wav")}, {"output_filename", "song_normalized"}}),
            "destination_exists"},
           {Json({{"path", "  "}, {"target_peak_dbfs", "x"}}), "path_invalid"},
       }) {
    EXPECT_EQ(Post("/api/mixer/files/normalize", body).code(), code) << body.Serialize(0);
  }
  EXPECT_FALSE(fs::exists(audio_ / "silence_normalized.wav"));
  EXPECT_EQ(Leftovers(audio_), std::vector<std::string>());
}

TEST_F(SoundLibraryTest, VolumeHealthJudgesEachFileInOrder) {
  WriteToneWav(audio_ / "ok.wav", 0.2, 0.5);
  WriteToneWav(audio_ / "quiet.wav", 0.2, 0.1);
  ASSERT_TRUE(StartProgram());
  JsonValue paths = JsonValue::MakeArray();
  paths.PushBack(Text(audio_ / "deleted.wav"));
  paths.PushBack("   ");
  paths.PushBack(Text(audio_ / "quiet.wav"));

  ApiReply reply = Post("/api/mixer/files/volume-health",
                        Json({{"path", Text(audio_ / "ok.wav")}, {"paths", paths}}));
  ASSERT_EQ(reply.status, 200) << reply.http.body;
  const std::vector<JsonValue>& verdicts = reply.json.Find("files")->array_value;
  ASSERT_EQ(verdicts.size(), 3u);
  EXPECT_EQ(verdicts[0].GetString("state", ""), "volume_ok");
  EXPECT_NEAR(verdicts[0].GetNumber("peak_dbfs", 0), -6.02, 0.05);
  EXPECT_EQ(verdicts[1].GetString("state", ""), "unknown");
  EXPECT_EQ(verdicts[1].GetString("error_code", ""), "file_not_found");
  EXPECT_EQ(verdicts[1].GetString("relative_path", ""), "deleted.wav");
  EXPECT_EQ(verdicts[2].GetString("state", ""), "quiet");
  EXPECT_EQ(verdicts[0].Find("error_code"), nullptr);

  // The list shows a verdict once it has been made, without decoding anything itself.
  ApiReply listed = Post("/api/mixer/files", JsonValue::MakeObject());
  EXPECT_EQ(listed.json.Find("files")->array_value[0].Find("volume_health")->GetString("state", ""),
            "volume_ok");

  EXPECT_EQ(Post("/api/mixer/files/volume-health",
                 Json({{"path", Text(audio_ / "ok.wav")}, {"paths", Text(audio_ / "ok.wav")}}))
                .code(),
            "path_invalid");
}

TEST_F(SoundLibraryTest, TrimSourceSendsTheFileAsItIs) {
  WriteToneWav(audio_ / "tone.wav", 0.5, 0.5);
  testing::RunFfmpeg({"-i", Text(audio_ / "tone.wav"), Text(audio_ / "song.mp3")});
  testing::WriteFile(audio_ / "notes.txt", "text");
  ASSERT_TRUE(StartProgram());

  ApiReply bytes = Post("/api/mixer/trim/source", Json({{"path", Text(audio_ / "song.mp3")}}));
  ASSERT_EQ(bytes.status, 200);
  EXPECT_EQ(bytes.http.headers["Content-Type"], "application/octet-stream");
  EXPECT_TRUE(bytes.http.body == testing::ReadFile(audio_ / "song.mp3"));
  EXPECT_EQ(Post("/api/mixer/trim/source", Json({{"path", Text(audio_ / "notes.txt")}})).code(),
            "file_unsupported");
}

TEST_F(SoundLibraryTest, TrimExportSavesANewClipBesideTheSource) {
  WriteToneWav(audio_ / "song.wav", 0.5, 0.5);
  WriteToneWav(folder_ / "upload.wav", 0.3, 0.5, 44100, 1);
  ASSERT_TRUE(StartProgram());
  JsonValue body =
      Json({{"wav_base64", testing::Base64Encode(testing::ReadFile(folder_ / "upload.wav"))},
            {"source_path", Text(audio_ / "song.wav")}});

  ApiReply first = Post("/api/mixer/trim/export", body);
  ASSERT_EQ(first.status, 200) << first.http.body;
  EXPECT_EQ(first.json.GetString("new_path", ""), Text(audio_ / "song_trimmed.wav"));
  WavFormatInfo format = FormatOf(audio_ / "song_trimmed.wav");
  EXPECT_EQ(format.sample_rate, 48000u);
  EXPECT_EQ(format.channels, 2);
  EXPECT_EQ(Post("/api/mixer/trim/export", body).json.GetString("new_filename", ""),
            "song_trimmed-2.wav");

  for (const auto& [key, value, code] :
       std::vector<std::tuple<std::string, JsonValue, std::string>>{
           {"wav_base64", testing::Base64Encode("not a sound at all"), "conversion_failed"},
           {"wav_base64", "bad-base64_", "invalid_json"},
           {"output_filename", "a:b", "filename_invalid"},
           {"output_filename", "song_trimmed", "destination_exists"},
           {"target_folder_path", Text(audio_ / "Sub"), "path_invalid"},
       }) {
    JsonValue refused = body;
    refused[key] = value;
    EXPECT_EQ(Post("/api/mixer/trim/export", refused).code(), code) << key;
  }
  EXPECT_EQ(Leftovers(temp_folder_), std::vector<std::string>());
  EXPECT_EQ(Leftovers(audio_), std::vector<std::string>());
}

TEST_F(SoundLibraryTest, TwoExportsToOneNameLeaveOneWholeFile) {
  WriteToneWav(audio_ / "song.wav", 0.5, 0.5);
  // Already in the mixer's format, so each upload is published exactly as sent.
  WriteToneWav(folder_ / "a.wav", 6.0, 0.5);
  WriteToneWav(folder_ / "b.wav", 5.0, 0.25);
  ASSERT_TRUE(StartProgram());
  std::vector<std::string> uploads = {testing::ReadFile(folder_ / "a.wav"),
                                      testing::ReadFile(folder_ / "b.wav")};
  auto export_one = [&](const std::string& upload) {
    return Post("/api/mixer/trim/export", Json({{"wav_base64", testing::Base64Encode(upload)},
                                                {"source_path", Text(audio_ / "song.wav")},
                                                {"output_filename", "take"}}));
  };
  for (int round = 0; round < 3; ++round) {
    fs::remove(audio_ / "take.wav");
    auto first = std::async(std::launch::async, export_one, uploads[0]);
    auto second = std::async(std::launch::async, export_one, uploads[1]);
    ApiReply replies[2] = {first.get(), second.get()};
    int winner = replies[0].status == 200 ? 0 : 1;
    EXPECT_EQ(replies[winner].status, 200) << replies[winner].http.body;
    EXPECT_EQ(replies[1 - winner].status, 409) << replies[1 - winner].http.body;
    EXPECT_EQ(replies[1 - winner].code(), "destination_exists");
    EXPECT_TRUE(testing::ReadFile(audio_ / "take.wav") == uploads[winner]) << "round " << round;
  }
  EXPECT_EQ(Leftovers(temp_folder_), std::vector<std::string>());
  EXPECT_EQ(Leftovers(audio_), std::vector<std::string>());
}

}  // namespace
}  // namespace zennic
