// Converting a 3-minute 44.1 kHz stereo MP3, FLAC and Ogg Vorbis file to the mixer's 48 kHz
// stereo 16-bit WAV, side by side with ffmpeg doing the same conversion. Prints, per format,
// our time over ffmpeg's: below 1 is faster.
#include <benchmark/benchmark.h>

#include <cstdio>
#include <map>

#include "sound_files/analyzer_service.h"
#include "sound_files/converter_service.h"
#include "support/run_command.h"
#include "support/temp_folder.h"

namespace {

namespace fs = std::filesystem;

struct SourceFormat {
  const char* extension;
  std::vector<std::string> options;
};

const std::vector<SourceFormat>& Formats() {
  static const std::vector<SourceFormat> formats = {
      {"mp3", {"-c:a", "libmp3lame", "-b:a", "192k"}},
      {"flac", {"-c:a", "flac", "-sample_fmt", "s16"}},
      {"ogg", {"-c:a", "libvorbis", "-q:a", "5"}},
  };
  return formats;
}

// Three minutes of tones over noise, so the encoders have something like music to work on.
bool MakeSource(const fs::path& path, const SourceFormat& format) {
  std::vector<std::string> arguments = {
      "ffmpeg", "-nostdin", "-loglevel", "error", "-y", "-f", "lavfi", "-i",
      "aevalsrc=0.3*sin(2*PI*440*t)+0.2*sin(2*PI*1234*t*(1+0.1*sin(t)))+0.05*(random(0)-0.5)|"
      "0.3*sin(2*PI*330*t)+0.2*sin(2*PI*2345*t)+0.05*(random(1)-0.5):s=44100:d=180"};
  arguments.insert(arguments.end(), format.options.begin(), format.options.end());
  arguments.push_back(path.string());
  std::string output;
  if (zennic::testing::RunCommand(arguments, &output) == 0) return true;
  std::fprintf(stderr, "ffmpeg failed to make %s: %s\n", path.c_str(), output.c_str());
  return false;
}

void ConvertWithRuzerad(benchmark::State& state, const fs::path& source) {
  const fs::path work = source.parent_path() / "work";
  for (auto _ : state) {
    state.PauseTiming();
    fs::remove_all(work);
    fs::create_directories(work);
    const fs::path clip = work / source.filename();
    fs::copy_file(source, clip);
    zennic::AnalyzerService analyzer{zennic::AnalyzerServiceOptions{}};
    zennic::ConverterService converter(&analyzer);
    zennic::ConvertResult result;
    state.ResumeTiming();
    converter.Convert(work, {clip}, /*keep_originals=*/true, /*overwrite_existing=*/false, &result,
                      nullptr);
    if (result.converted != 1) {
      state.SkipWithError(result.results.empty() ? "no result"
                                                 : result.results[0].message.c_str());
      break;
    }
  }
}

void ConvertWithFfmpeg(benchmark::State& state, const fs::path& source) {
  const std::string target = (source.parent_path() / "ffmpeg.wav").string();
  for (auto _ : state) {
    std::string output;
    if (zennic::testing::RunCommand({"ffmpeg", "-nostdin", "-loglevel", "error", "-y", "-i",
                                     source.string(), "-ar", "48000", "-ac", "2", "-c:a",
                                     "pcm_s16le", target},
                                    &output) != 0) {
      state.SkipWithError(output.c_str());
      break;
    }
  }
}

// Keeps each run's real time per iteration so the ratios can be printed at the end.
class RatioReporter : public benchmark::ConsoleReporter {
 public:
  void ReportRuns(const std::vector<Run>& runs) override {
    ConsoleReporter::ReportRuns(runs);
    for (const Run& run : runs) {
      if (!run.error_occurred) times_[run.run_name.function_name] = run.GetAdjustedRealTime();
    }
  }
  double Time(const std::string& name) const {
    auto found = times_.find(name);
    return found == times_.end() ? 0.0 : found->second;
  }

 private:
  std::map<std::string, double> times_;
};

}  // namespace

int main(int argc, char** argv) {
  benchmark::Initialize(&argc, argv);
  zennic::testing::TempFolder folder;
  for (const SourceFormat& format : Formats()) {
    const fs::path source = folder.path() / format.extension / (std::string("clip.") + format.extension);
    fs::create_directories(source.parent_path());
    if (!MakeSource(source, format)) return 1;
    const std::string name = format.extension;
    for (auto [tool, function] : {std::pair{"ruzerad", &ConvertWithRuzerad},
                                  std::pair{"ffmpeg", &ConvertWithFfmpeg}}) {
      benchmark::RegisterBenchmark((std::string("Convert3Minutes/") + name + "/" + tool).c_str(),
                                   function, source)
          ->Unit(benchmark::kMillisecond)
          ->UseRealTime()
          ->Iterations(5);
    }
  }
  RatioReporter reporter;
  benchmark::RunSpecifiedBenchmarks(&reporter);
  benchmark::Shutdown();

  std::printf("\nTime over ffmpeg's, per format (below 1 is faster):\n");
  for (const SourceFormat& format : Formats()) {
    const std::string prefix = std::string("Convert3Minutes/") + format.extension + "/";
    const double ours = reporter.Time(prefix + "ruzerad");
    const double theirs = reporter.Time(prefix + "ffmpeg");
    if (ours > 0 && theirs > 0) {
      std::printf("  %-5s %8.1f ms vs %8.1f ms  ratio %.2f\n", format.extension, ours, theirs,
                  ours / theirs);
    }
  }
  return 0;
}
