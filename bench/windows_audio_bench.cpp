// Windows audio management against a private PulseAudio server with the virtual devices: the
// cost of one status read with its route check, and how long after a default changes the route
// monitor raises its warning (target: within a second).

#include <benchmark/benchmark.h>
#include <stdlib.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <string>
#include <thread>

#include "windows_audio/windows_audio_manager.h"

namespace zennic {
namespace {

// Started once for the whole run, so no benchmark touches another server's defaults.
class PrivateServer {
 public:
  PrivateServer() {
    char pattern[] = "/tmp/zennic-bench-XXXXXX";
    folder_ = ::mkdtemp(pattern);
    std::string address = Run(Script() + " start " + folder_.string());
    ::setenv("PULSE_SERVER", address.c_str(), 1);
  }
  ~PrivateServer() {
    Run(Script() + " stop " + folder_.string());
    std::filesystem::remove_all(folder_);
  }
  const std::filesystem::path& folder() const { return folder_; }

 private:
  static std::string Script() { return std::string(ZENNIC_SOURCE_DIR) + "/scripts/virtual-audio"; }
  static std::string Run(const std::string& command) {
    std::string output;
    if (FILE* pipe = ::popen(command.c_str(), "r")) {
      char buffer[512];
      while (std::fgets(buffer, sizeof buffer, pipe) != nullptr) output += buffer;
      ::pclose(pipe);
    }
    while (!output.empty() && output.back() == '\n') output.pop_back();
    return output;
  }
  std::filesystem::path folder_;
};

PrivateServer& Server() {
  static PrivateServer server;
  return server;
}

std::string CaptureId(AudioSystem& system, const std::string& name) {
  std::vector<AudioEndpointDescription> endpoints;
  system.EnumerateEndpoints(AudioFlow::kCapture, &endpoints);
  for (const auto& endpoint : endpoints) {
    if (endpoint.friendly_name == name) return endpoint.id;
  }
  return {};
}

void BM_StatusReadWithRouteCheck(benchmark::State& state) {
  WindowsAudioManager manager(Server().folder() / "status_backup.json");
  AudioRouteMonitorContext context;
  for (auto _ : state) {
    std::string error;
    if (!manager.CheckAudioRoute(context, &error)) state.SkipWithError(error.c_str());
    WindowsAudioStatus status;
    manager.GetStatus(&status);
    benchmark::DoNotOptimize(status);
  }
}
BENCHMARK(BM_StatusReadWithRouteCheck)->Unit(benchmark::kMillisecond);

void BM_RouteWarningAfterMicrophoneChange(benchmark::State& state) {
  AudioResult connected = audio_result::kOk;
  std::unique_ptr<AudioSystem> system = ConnectAudioSystem(&connected);
  if (!system) {
    state.SkipWithError("no audio server");
    return;
  }
  std::string cable = CaptureId(*system, "CABLE Output");
  std::string microphone = CaptureId(*system, "Microphone (Virtual)");
  WindowsAudioManager manager(Server().folder() / "route_backup.json");
  std::string error;
  if (!manager.BeginCableSession("", cable, "CABLE Output", nullptr, &error) ||
      !manager.StartRouteMonitoring(
          [&] { return AudioRouteMonitorContext{true, true, cable, "CABLE Output"}; }, &error)) {
    state.SkipWithError(error.c_str());
    return;
  }
  auto warning_is = [&manager](bool raised) {
    for (;;) {
      WindowsAudioStatus status;
      manager.GetStatus(&status);
      if (status.audio_route_warning == raised) return;
      std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
  };
  warning_is(false);
  for (auto _ : state) {
    auto changed = std::chrono::steady_clock::now();
    system->SetDefaultEndpoint(microphone, AudioRole::kConsole);
    warning_is(true);
    state.SetIterationTime(
        std::chrono::duration<double>(std::chrono::steady_clock::now() - changed).count());
    system->SetDefaultEndpoint(cable, AudioRole::kConsole);
    warning_is(false);
  }
  manager.StopRouteMonitoring();
  manager.RestoreSession(nullptr, nullptr);
}
BENCHMARK(BM_RouteWarningAfterMicrophoneChange)
    ->UseManualTime()
    ->Iterations(10)
    ->Unit(benchmark::kMillisecond);

}  // namespace
}  // namespace zennic
