// Settings saves while the mixer plays on a disk kept busy: a save every 100 ms for a minute
// while a writer in the background keeps writing and syncing a large file beside the settings,
// and a looping clip that says where it is plays on the cable of a private audio server.
// Reports how late the mixer's latest tick came (target: no more than 5 ms) and the longest
// tick, the gaps in a recording of "CABLE Output" (target: none), and how long the saves took,
// which shows how busy the disk was; first for the same run without saves, on a quiet and on
// a busy disk.
//
// usage: bench_mixer_saves [seconds]   (default 60 for each of the three runs)

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "core/app_paths.h"
#include "engine/key_binding_service.h"
#include "engine/mixer_engine.h"
#include "model/profile_service.h"
#include "model/runtime_state.h"
#include "sound_files/analyzer_service.h"
#include "sound_files/wav_file.h"
#include "support/marked_clip.h"
#include "support/private_audio_server.h"
#include "support/temp_folder.h"

namespace zennic {
namespace {

using Clock = std::chrono::steady_clock;

// Writes and syncs 4 MiB at a time, starting over at 512 MiB, until told to stop.
class BusyDisk {
 public:
  explicit BusyDisk(const std::filesystem::path& file)
      : thread_([this, file] {
          std::vector<char> block(4 << 20, 'x');
          int fd = ::open(file.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
          if (fd < 0) return;
          while (!stop_) {
            if (::write(fd, block.data(), block.size()) < 0) break;
            ::fdatasync(fd);
            written_ += block.size();
            if (written_ % (512u << 20) == 0) {
              ::ftruncate(fd, 0);
              ::lseek(fd, 0, SEEK_SET);
            }
          }
          ::close(fd);
        }) {}
  ~BusyDisk() { Stop(); }

  uint64_t Stop() {
    stop_ = true;
    if (thread_.joinable()) thread_.join();
    return written_;
  }

 private:
  std::atomic<bool> stop_{false};
  uint64_t written_ = 0;
  std::thread thread_;
};

double Milliseconds(Clock::duration duration) {
  return std::chrono::duration<double, std::milli>(duration).count();
}

// One run of `seconds` with the looping clip on the cable, on a disk kept busy or not, with or
// without saves every 100 ms. Prints what it measured.
void RunPhase(const char* label, int seconds, bool busy, bool save,
              const testing::PrivateAudioServer& server,
              const std::filesystem::path& folder, RuntimeState* state, MixerEngine* engine) {
  std::string error;
  if (!engine->Start({}, nullptr, &error) || !engine->StartPtt(true, &error)) {
    std::printf("%s: the engine did not start: %s\n", label, error.c_str());
    return;
  }
  // Past the start-up, where the clip is on its way to the cable.
  std::this_thread::sleep_for(std::chrono::seconds(1));
  std::optional<BusyDisk> disk;
  if (busy) disk.emplace(folder / "busy.bin");
  std::atomic<bool> saving{save};
  std::vector<Clock::duration> saves;
  std::thread saver([&] {
    auto next = Clock::now();
    for (int i = 0; saving; ++i) {
      auto begin = Clock::now();
      state->MutateSettings([i](MixerSettings& s) { s.ui_language = i % 2 ? "de" : "en"; }, true,
                            nullptr);
      saves.push_back(Clock::now() - begin);
      next += std::chrono::milliseconds(100);
      std::this_thread::sleep_until(next);
    }
  });
  std::vector<float> cable = server.Record("cable_output", seconds);
  saving = false;
  saver.join();
  uint64_t written = disk ? disk->Stop() : 0;
  MixerEngine::TickTiming ticks = engine->GetTickTiming();
  engine->Stop(nullptr);

  std::printf("%s, %d s:\n", label, seconds);
  if (busy) {
    std::printf("  background writer: %.0f MiB written and synced\n",
                static_cast<double>(written) / (1 << 20));
  }
  if (save) {
    std::sort(saves.begin(), saves.end());
    std::printf("  settings saves:    %zu, median %.1f ms, slowest %.1f ms\n", saves.size(),
                Milliseconds(saves[saves.size() / 2]), Milliseconds(saves.back()));
  }
  std::printf("  mixer ticks:       %llu, latest %.2f ms after its time, longest %.3f ms\n",
              static_cast<unsigned long long>(ticks.ticks), ticks.worst_lateness.count() / 1000.0,
              ticks.longest.count() / 1000.0);
  std::vector<std::string> gaps = testing::FindMarkedClipGaps(cable);
  std::printf("  gaps on the cable: %zu in %.1f s recorded\n", gaps.size(),
              static_cast<double>(cable.size()) / 2 / 48000);
  for (const std::string& gap : gaps) std::printf("    %s\n", gap.c_str());
}

int Main(int seconds) {
  ::setenv("ZENNIC_VIRTUAL_AUDIO", ZENNIC_SOURCE_DIR "/scripts/virtual-audio", 0);
  testing::PrivateAudioServer server;
  testing::TempFolder folder;
  std::filesystem::path sounds = folder / "sounds";
  std::filesystem::create_directories(sounds);
  std::filesystem::path clip = sounds / "marked.wav";
  WriteWavFile(clip, 48000, 2, testing::MarkedClipSamples(), nullptr);

  AppPaths paths = FillAppPaths(folder / "data");
  RuntimeState state(SettingsStore(paths, {}, sounds));
  state.LoadSettings(nullptr);
  state.MutateSettings(
      [&](MixerSettings& settings) {
        settings.profiles.front().audio_dir = sounds.string();
        settings.file_path = clip.string();
        settings.loop = true;
        settings.hold_voice_key = false;
        settings.mic_volume = 0.0;
        settings.sfx_volume = 1.0;
        settings.monitor_enabled = false;
      },
      true, nullptr);
  KeyBindingService key_bindings(&state);
  AnalyzerService analyzer{AnalyzerServiceOptions()};
  ProfileService profiles(&state);
  MixerEngine engine(&state, &key_bindings, &analyzer, &profiles, paths.logs_folder);

  // The same run without saves first, on a quiet and on a busy disk: what the system's own
  // scheduling costs.
  RunPhase("quiet disk, no saves", seconds, false, false, server, paths.root, &state, &engine);
  RunPhase("busy disk, no saves", seconds, true, false, server, paths.root, &state, &engine);
  RunPhase("busy disk, saving every 100 ms", seconds, true, true, server, paths.root, &state,
           &engine);
  std::ifstream log(paths.logs_folder / "app.log");
  for (std::string line; std::getline(log, line);) {
    if (line.find("Audio threads run at") != std::string::npos) {
      std::printf("%s\n", line.c_str());
      break;
    }
  }
  return 0;
}

}  // namespace
}  // namespace zennic

int main(int argc, char** argv) { return zennic::Main(argc > 1 ? std::atoi(argv[1]) : 60); }
