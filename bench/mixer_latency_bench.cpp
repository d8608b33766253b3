// The delay from microphone to cable output, through the virtual devices of a private audio
// server, at the start of a run and at its end (target: 30 ms or less, and no growth over ten
// minutes: bench_mixer_latency 600).
//
// The microphone is a remap of the cable's own monitor, so the cable's output comes back as
// the voice: an impulse played as a clip reaches the cable, returns through the microphone and
// is mixed again at half level. In one recording of "CABLE Output" the distance from each
// impulse to its first echo is exactly one trip from microphone to cable output, free of any
// skew between separate recordings.
//
// usage: bench_mixer_latency [seconds]   (default 65)

#include <signal.h>
#include <stdlib.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <mutex>
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

namespace zennic {
namespace {

constexpr double kRate = 48000.0;
constexpr float kImpulse = 0.8f;

std::string Run(const std::string& command) {
  std::string output;
  FILE* pipe = ::popen(command.c_str(), "r");
  if (pipe == nullptr) return output;
  char buffer[512];
  while (std::fgets(buffer, sizeof buffer, pipe) != nullptr) output += buffer;
  ::pclose(pipe);
  while (!output.empty() && output.back() == '\n') output.pop_back();
  return output;
}

// parec's float stereo output, read as it arrives.
class Recorder {
 public:
  explicit Recorder(const std::string& device) {
    int fds[2];
    if (::pipe(fds) != 0) return;
    pid_ = ::fork();
    if (pid_ == 0) {
      ::dup2(fds[1], 1);
      ::close(fds[0]);
      ::execlp("parec", "parec", "--latency-msec=20", "--format=float32le", "--rate=48000",
               "--channels=2", "--raw", ("--device=" + device).c_str(), nullptr);
      ::_exit(127);
    }
    ::close(fds[1]);
    reader_ = std::thread([this, fd = fds[0]] {
      std::vector<float> chunk(4096);
      ssize_t got = 0;
      while ((got = ::read(fd, chunk.data(), chunk.size() * sizeof(float))) > 0) {
        std::lock_guard lock(mutex_);
        samples_.insert(samples_.end(), chunk.begin(), chunk.begin() + got / sizeof(float));
      }
      ::close(fd);
    });
  }

  std::vector<float> Finish() {
    if (pid_ > 0) {
      ::kill(pid_, SIGTERM);
      ::waitpid(pid_, nullptr, 0);
    }
    if (reader_.joinable()) reader_.join();
    return samples_;
  }

 private:
  pid_t pid_ = -1;
  std::thread reader_;
  std::mutex mutex_;
  std::vector<float> samples_;
};

struct Trip {
  double at_seconds;  // where the impulse lies in the recording
  double milliseconds;
};

std::vector<Trip> FindTrips(const std::vector<float>& samples) {
  std::vector<Trip> trips;
  const size_t frames = samples.size() / 2;
  for (size_t i = 1; i < frames; ++i) {
    if (samples[2 * i] < 0.6f || samples[2 * (i - 1)] > 0.1f) continue;
    for (size_t j = i + 1; j < std::min(frames, i + 24000); ++j) {
      float value = samples[2 * j];
      if (value > 0.3f && value < 0.5f) {
        trips.push_back({static_cast<double>(i) / kRate, static_cast<double>(j - i) / kRate * 1000});
        break;
      }
    }
  }
  return trips;
}

void Report(const char* label, std::vector<Trip> trips, double from, double to) {
  std::vector<double> ms;
  for (const Trip& trip : trips) {
    if (trip.at_seconds >= from && trip.at_seconds < to) ms.push_back(trip.milliseconds);
  }
  if (ms.empty()) {
    std::printf("%-22s no impulse came back\n", label);
    return;
  }
  std::sort(ms.begin(), ms.end());
  std::printf("%-22s median %.1f ms, min %.1f ms, max %.1f ms (%zu impulses)\n", label,
              ms[ms.size() / 2], ms.front(), ms.back(), ms.size());
}

int Main(int seconds) {
  char folder_template[] = "/tmp/ruzerad-latency-XXXXXX";
  if (::mkdtemp(folder_template) == nullptr) return 1;
  std::filesystem::path folder = folder_template;
  std::string script = std::string(ZENNIC_SOURCE_DIR) + "/scripts/virtual-audio";
  std::string server = Run("'" + script + "' start '" + (folder / "audio").string() + "'");
  if (server.empty()) {
    std::fprintf(stderr, "the private audio server did not start\n");
    return 1;
  }
  ::setenv("PULSE_SERVER", server.c_str(), 1);
  Run("pactl load-module module-remap-source master=cable_input.monitor "
      "source_name=loopback_microphone "
      "source_properties=device.description=Microphone-Loopback");

  int result = 0;
  {
    std::filesystem::path sounds = folder / "sounds";
    std::filesystem::create_directories(sounds);
    WriteWavFile(sounds / "impulse.wav", 48000, 2,
                 {static_cast<int16_t>(kImpulse * 32767), static_cast<int16_t>(kImpulse * 32767)},
                 nullptr);
    RuntimeState state(SettingsStore(FillAppPaths(folder / "data"), {}, sounds));
    state.LoadSettings(nullptr);
    state.MutateSettings(
        [&sounds](MixerSettings& settings) {
          settings.profiles.front().audio_dir = sounds.string();
          settings.file_path = (sounds / "impulse.wav").string();
          settings.hold_voice_key = false;
          settings.mic_volume = 0.5;
          settings.monitor_enabled = false;
        },
        true, nullptr);
    KeyBindingService key_bindings(&state);
    AnalyzerService analyzer{AnalyzerServiceOptions()};
    ProfileService profiles(&state);
    MixerEngine engine(&state, &key_bindings, &analyzer, &profiles);

    MixerDeviceList devices;
    engine.ListDevices(&devices, nullptr);
    MixerDeviceSelection selection;
    for (const auto& input : devices.inputs) {
      if (input.name == "Microphone-Loopback") selection.microphone_index = input.index;
    }
    for (const auto& output : devices.outputs) {
      if (output.name == "CABLE Input") selection.output_index = output.index;
    }
    Recorder recorder("cable_output");
    std::string error;
    if (!selection.microphone_index || !engine.Start(selection, nullptr, &error)) {
      std::fprintf(stderr, "the engine did not start: %s\n", error.c_str());
      result = 1;
    } else {
      auto started = std::chrono::steady_clock::now();
      for (int i = 0; i < seconds * 2; ++i) {
        std::this_thread::sleep_until(started + std::chrono::milliseconds(500 * (i + 1)));
        engine.StartPtt(true, nullptr);
      }
      engine.Stop(nullptr);
    }
    std::vector<Trip> trips = FindTrips(recorder.Finish());
    if (result == 0) {
      std::printf("microphone to cable output, %d s run\n", seconds);
      Report("start of the run", trips, 0, 6);
      Report(("after " + std::to_string(seconds) + " s").c_str(), trips, seconds - 5.5, seconds);
    }
  }
  Run("'" + script + "' stop '" + (folder / "audio").string() + "'");
  std::filesystem::remove_all(folder);
  return result;
}

}  // namespace
}  // namespace zennic

int main(int argc, char** argv) { return zennic::Main(argc > 1 ? std::atoi(argv[1]) : 65); }
