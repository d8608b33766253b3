// What a hotkey press costs to load its clip (kept in memory, and read afresh), and what one
// Sound Inbox scan costs at its limits: 2000 files in the folder and 500 in the ledger.
#include <benchmark/benchmark.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "core/files.h"
#include "model/mixer_settings.h"
#include "sound_files/analyzer_service.h"
#include "sound_files/converter_service.h"
#include "sound_files/selected_file_loader.h"
#include "sound_files/sound_inbox_ledger.h"
#include "sound_files/sound_inbox_service.h"
#include "sound_files/wav_file.h"

namespace {

namespace fs = std::filesystem;
using namespace zennic;

// A folder of the benchmark's own, removed at exit.
class BenchFolder {
 public:
  BenchFolder() {
    std::string pattern = (fs::temp_directory_path() / "zennic-bench-XXXXXX").string();
    path_ = ::mkdtemp(pattern.data());
  }
  ~BenchFolder() {
    std::error_code ignored;
    fs::remove_all(path_, ignored);
  }
  const fs::path& path() const { return path_; }

 private:
  fs::path path_;
};

// A ten-second clip in the playable format.
fs::path WriteTenSecondClip(const fs::path& folder) {
  const fs::path path = folder / "clip.wav";
  std::vector<int16_t> samples(48000 * 2 * 10);
  for (size_t i = 0; i < samples.size(); ++i) samples[i] = static_cast<int16_t>(i * 37);
  WriteWavFile(path, 48000, 2, samples, nullptr);
  return path;
}

void BM_LoadClipKeptInMemory(benchmark::State& state) {
  BenchFolder folder;
  const std::string clip = WriteTenSecondClip(folder.path()).string();
  AnalyzerService analyzer{AnalyzerServiceOptions{}};
  SelectedFileLoader loader(&analyzer);
  LoadedAudioFile loaded;
  loader.Load(folder.path(), clip, &loaded, nullptr);
  for (auto _ : state) benchmark::DoNotOptimize(loader.Load(folder.path(), clip, &loaded, nullptr));
}
BENCHMARK(BM_LoadClipKeptInMemory)->Unit(benchmark::kMicrosecond);

void BM_LoadClipFromDisk(benchmark::State& state) {
  BenchFolder folder;
  const std::string clip = WriteTenSecondClip(folder.path()).string();
  AnalyzerService analyzer{AnalyzerServiceOptions{}};
  SelectedFileLoader loader(&analyzer);
  LoadedAudioFile loaded;
  for (auto _ : state) {
    loader.Clear();
    benchmark::DoNotOptimize(loader.Load(folder.path(), clip, &loaded, nullptr));
  }
}
BENCHMARK(BM_LoadClipFromDisk)->Unit(benchmark::kMillisecond);

// A full inbox of sounds already handled: the walk, the ledger lookups and the merge.
void BM_ScanFullInbox(benchmark::State& state) {
  BenchFolder folder;
  const fs::path inbox = folder.path() / "Downloads";
  fs::create_directories(inbox);
  fs::create_directories(folder.path() / "Sounds");
  std::vector<SoundInboxRecord> ledger;
  for (int i = 0; i < 2000; ++i) {
    const fs::path file = inbox / ("sound " + std::to_string(i) + ".mp3");
    WriteTextFileAtomic(file, "x", nullptr);
    SoundInboxRecord record;
    record.source_path = file.string();
    record.source_size = 1;
    record.modified_ticks = FileTimeToTicks(fs::last_write_time(file));
    ledger.push_back(record);
  }
  // The newest 500 are handled; the other 1500 wait in the pending list.
  ledger.erase(ledger.begin(), ledger.end() - 500);
  const fs::path ledger_file = folder.path() / "sound_inbox_state.json";
  WriteTextFileAtomic(ledger_file, BuildSoundInboxLedgerJson(ledger).Serialize(0), nullptr);

  MixerSettings settings;
  settings.sound_inbox_enabled = true;
  settings.sound_inbox_dir = inbox.string();
  settings.profiles = {Profile{"default", "Default", (folder.path() / "Sounds").string()}};
  AnalyzerService analyzer{AnalyzerServiceOptions{}};
  ConverterService converter(&analyzer);
  SoundInboxService service(nullptr, nullptr, &converter, ledger_file, {});
  // Always the same instant, so nothing ever settles and nothing is prepared.
  const auto now = std::chrono::steady_clock::now();
  for (auto _ : state) benchmark::DoNotOptimize(service.ScanOnce(settings, now, nullptr));
  state.counters["pending"] = service.GetStatus().pending_count;
}
BENCHMARK(BM_ScanFullInbox)->Unit(benchmark::kMillisecond);

}  // namespace
