// What "/api/mixer/files" costs on a profile folder of 2,000 clips in ten sub-folders: the first
// call, which probes every file, and a later call served from the analyzer's cache.
#include <benchmark/benchmark.h>

#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "api/http_api.h"
#include "core/app_paths.h"
#include "model/runtime_state.h"
#include "sound_files/analyzer_service.h"
#include "sound_files/wav_file.h"

namespace {

namespace fs = std::filesystem;
using namespace zennic;

constexpr char kToken[] = "0123456789abcdef0123456789abcdef";
constexpr int kClips = 2000;

// The folder, its clips and the settings that make it the active profile; removed at exit.
class ClipLibrary {
 public:
  ClipLibrary() {
    std::string pattern = (fs::temp_directory_path() / "zennic-bench-XXXXXX").string();
    root_ = ::mkdtemp(pattern.data());
    std::vector<int16_t> tenth(4800 * 2, 1000);  // a tenth of a second
    for (int i = 0; i < kClips; ++i) {
      fs::path clip = root_ / "Sounds" / ("Category " + std::to_string(i % 10)) /
                      ("clip " + std::to_string(i) + ".wav");
      fs::create_directories(clip.parent_path());
      WriteWavFile(clip, 48000, 2, tenth, nullptr);
    }
    state_ = std::make_unique<RuntimeState>(
        SettingsStore(FillAppPaths(root_ / "data"), {}, root_ / "Sounds"));
    state_->SetSessionToken(kToken);
    state_->MutateSettings(
        [this](MixerSettings& settings) {
          settings.profiles = {Profile{"main", "Main", (root_ / "Sounds").string()}};
          settings.selected_profile_id = "main";
        },
        /*persist=*/false, nullptr);
  }
  ~ClipLibrary() {
    std::error_code ignored;
    fs::remove_all(root_, ignored);
  }

  // The API as the host builds it, with the given analyzer.
  std::unique_ptr<HttpApi> Api(AnalyzerService* analyzer) {
    HttpApiConfig config;
    config.runtime_state = state_.get();
    config.session_cookie_name = "zennic_session";
    config.analyzer = analyzer;
    return std::make_unique<HttpApi>(std::move(config));
  }

 private:
  fs::path root_;
  std::unique_ptr<RuntimeState> state_;
};

ClipLibrary& Library() {
  static ClipLibrary library;
  return library;
}

// Lists the folder once; aborts the run when the answer is not the whole list.
void ListFiles(HttpApi& api) {
  HttpRequest request;
  request.method = "POST";
  request.path = "/api/mixer/files";
  request.headers["Cookie"] = std::string("zennic_session=") + kToken;
  HttpResponse response;
  api.HandleRequest(request, &response);
  if (response.status != 200 || response.body.size() < kClips * 100) std::abort();
  benchmark::DoNotOptimize(response.body.data());
}

void BM_FileListFirstCall(benchmark::State& state) {
  for (auto _ : state) {
    state.PauseTiming();
    AnalyzerService analyzer{AnalyzerServiceOptions{}};
    std::unique_ptr<HttpApi> api = Library().Api(&analyzer);
    state.ResumeTiming();
    ListFiles(*api);
  }
}
BENCHMARK(BM_FileListFirstCall)->Unit(benchmark::kMillisecond)->Iterations(5);

void BM_FileListCachedCall(benchmark::State& state) {
  AnalyzerService analyzer{AnalyzerServiceOptions{}};
  std::unique_ptr<HttpApi> api = Library().Api(&analyzer);
  ListFiles(*api);
  for (auto _ : state) ListFiles(*api);
}
BENCHMARK(BM_FileListCachedCall)->Unit(benchmark::kMillisecond);

}  // namespace
