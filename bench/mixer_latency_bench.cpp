// The voice on the cable through the virtual devices of a private audio server (the one
// scripts/virtual-audio starts, PulseAudio or PipeWire as it is asked), in three runs:
//
// 1. Continuity: the test microphone's steady 440 Hz tone with a 1 kHz clip looping and the
//    monitor on, for the given seconds; every discontinuity and silence on "CABLE Output" and on
//    the monitor ("headphones.monitor", the clip alone) (target: none), each break a listener
//    hears laid beside the stop of the core its device's thread ran on and the queue the engine
//    kept then; those of the microphone itself; the breaks the engine counted per device beside
//    those heard, and its jitter and margins. Beside it, with --plain-player, a plain real-time
//    player (pacat at 20 ms) of a 440 Hz tone into a second cable at the same time, recorded the
//    same way: what the server and the recording do to any client, at the same moments.
// 2. Microphone to cable: the microphone is a remap of the cable's own monitor, so the cable's
//    output comes back as the voice: an impulse played as a clip reaches the cable, returns
//    through the microphone and is mixed again at half level. In one recording of "CABLE Output"
//    the distance from each impulse to its first echo is exactly one trip from microphone to
//    cable output, free of any skew between separate recordings (target: median 58 ms or less,
//    no growth between the first and the last minute, none above 60 ms).
// 3. Hotkey press to the clip on the cable and on the monitor, with the monitor on, the first
//    press after a start included (targets: under 50 ms and under 60 ms). Each press falls at a
//    random point of the engine's 10 ms tick, as a player's would: at a fixed distance from the
//    start every press would find the ticks at the same point. The recordings' frames are put on
//    the steady clock by the times they arrive.
//
// usage: bench_mixer_latency [seconds] [--busy] [--plain-player]
//        (default 65; --busy keeps every core busy)

#include <signal.h>
#include <stdlib.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <numbers>
#include <optional>
#include <random>
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
#include "support/break_beside_stop.h"
#include "support/machine_stall_probe.h"
#include "support/timed_recording.h"
#include "support/tone_continuity.h"

namespace zennic {
namespace {

using Clock = std::chrono::steady_clock;

constexpr double kRate = 48000.0;
constexpr float kImpulse = 0.8f;
constexpr double kMicrophoneTone = 440.0;
constexpr double kClipTone = 1000.0;

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

// Every core busy at normal priority, as a game and its launcher would keep them.
class BusyCores {
 public:
  explicit BusyCores(bool busy) {
    if (!busy) return;
    for (unsigned i = 0; i < std::max(1u, std::thread::hardware_concurrency()); ++i) {
      threads_.emplace_back([this] {
        volatile uint64_t counter = 0;
        while (!stop_.load(std::memory_order_relaxed)) counter = counter + 1;
      });
    }
  }
  ~BusyCores() {
    stop_ = true;
    for (std::thread& thread : threads_) thread.join();
  }

 private:
  std::atomic<bool> stop_{false};
  std::vector<std::thread> threads_;
};

std::vector<int16_t> ToneSamples(double frequency, int frames, double level) {
  std::vector<int16_t> samples;
  for (int i = 0; i < frames; ++i) {
    auto value = static_cast<int16_t>(
        std::lround(32767 * level * std::sin(2 * std::numbers::pi * frequency * i / kRate)));
    samples.push_back(value);
    samples.push_back(value);
  }
  return samples;
}

// The engine and what it needs, on the given clip, microphone and settings.
struct Rig {
  Rig(const std::filesystem::path& folder, const std::filesystem::path& clip,
      const std::function<void(MixerSettings&)>& adjust)
      : state(SettingsStore(FillAppPaths(folder / "data"), {}, clip.parent_path())),
        key_bindings(&state),
        analyzer(AnalyzerServiceOptions()),
        profiles(&state),
        engine(&state, &key_bindings, &analyzer, &profiles, folder / "logs"),
        logs(folder / "logs") {
    std::filesystem::create_directories(logs);
    state.LoadSettings(nullptr);
    state.MutateSettings(
        [&](MixerSettings& settings) {
          settings.profiles.front().audio_dir = clip.parent_path().string();
          settings.file_path = clip.string();
          settings.hold_voice_key = false;
          adjust(settings);
        },
        true, nullptr);
  }

  // Starts on the named microphone and the cable; false with the reason printed.
  bool Start(const std::string& microphone) {
    MixerDeviceList devices;
    engine.ListDevices(&devices, nullptr);
    MixerDeviceSelection selection;
    for (const auto& input : devices.inputs) {
      if (input.name == microphone) selection.microphone_index = input.index;
    }
    for (const auto& output : devices.outputs) {
      if (output.name == "CABLE Input") selection.output_index = output.index;
    }
    std::string error;
    if (selection.microphone_index && selection.output_index &&
        engine.Start(selection, nullptr, &error)) {
      return true;
    }
    std::fprintf(stderr, "the engine did not start on %s: %s\n", microphone.c_str(),
                 error.c_str());
    return false;
  }

  // What the engine counted and measured of each device (before the run stops), and what it
  // logged about breaks and margins, one line each.
  void PrintRoadHealth() const {
    MixerEngine::AudioRoadHealth health = engine.GetAudioRoadHealth();
    auto ms = [](std::chrono::microseconds duration) {
      return static_cast<double>(duration.count()) / 1000.0;
    };
    auto print = [&](const char* device, const char* paced, const DeviceHealth& d) {
      std::printf("  %-11s %llu breaks (%.1f ms in all); %s jitter median %.2f ms, worst second "
                  "%.2f ms; margin %.1f ms, queue %.1f ms\n",
                  device, static_cast<unsigned long long>(d.breaks), ms(d.break_time), paced,
                  ms(d.jitter_median), ms(d.jitter_peak), ms(d.margin), ms(d.queue));
    };
    print("microphone", "deliveries", health.microphone);
    print("cable", "requests", health.mix_output);
    print("monitor", "requests", health.monitor);
    std::ifstream log(logs / "app.log");
    for (std::string line; std::getline(log, line);) {
      if (line.find("Audio threads run at") == std::string::npos) {
        std::printf("  engine: %s\n", line.c_str());
      }
    }
  }

  RuntimeState state;
  KeyBindingService key_bindings;
  AnalyzerService analyzer;
  ProfileService profiles;
  MixerEngine engine;
  std::filesystem::path logs;
};

// What a device's breaks are laid beside: its recording's place on the steady clock, the threads
// whose stops reach it, the queue its output kept, and the probe that saw the stops.
struct DeviceRoad {
  const testing::TimedRecording* recording;
  testing::Road road;
  const testing::QueuePoll* queue;
  const testing::MachineStallProbe* probe;
};

// The breaks in one recording, and each a listener hears on a line: with `road`, laid beside the
// stop of the core one of its device's threads ran on and the queue the engine kept then.
// Returns how many a listener hears.
size_t PrintBreaks(const char* label, const std::vector<float>& samples,
                   const std::vector<double>& tones, std::optional<DeviceRoad> road = std::nullopt) {
  constexpr size_t kLinesWithoutThreads = 10;
  testing::ToneBreaks breaks = testing::FindToneBreaks(samples, tones);
  std::printf("%s, %.1f s: %s\n", label, static_cast<double>(samples.size() / 2) / kRate,
              breaks.Describe().c_str());
  if (!road) {
    std::vector<testing::HeardBreak> heard = testing::HeardBreaks(breaks);
    std::printf("  heard as %zu breaks\n", heard.size());
    for (size_t i = 0; i < std::min(heard.size(), kLinesWithoutThreads); ++i) {
      std::printf("    %s\n", heard[i].Describe().c_str());
    }
    if (heard.size() > kLinesWithoutThreads) std::printf("    ...\n");
    return heard.size();
  }
  std::vector<testing::BreakBesideStop> laid =
      testing::LayBesideStops(breaks, *road->recording, road->road, *road->probe, *road->queue);
  size_t machine_caused = 0;
  for (const auto& one : laid) machine_caused += one.MachineCaused() ? 1 : 0;
  std::printf("  heard as %zu breaks, %zu at a stop of its threads' core longer than the queue "
              "less the server's lead\n", laid.size(), machine_caused);
  for (const auto& one : laid) std::printf("    %s\n", one.Describe().c_str());
  return laid.size();
}

// pacat playing a steady tone, as fast as the server takes it, into a second cable of its own
// while the engine plays into "CABLE Input", with a recording of that cable's output beside it:
// the server's breaks for any client, at the same moments as the engine's.
class PlainPlayer {
 public:
  explicit PlainPlayer(const std::string& audio_folder) {
    Run("'" + std::string(ZENNIC_SOURCE_DIR) + "/scripts/virtual-audio' add-cable '" +
        audio_folder + "' plain_cable_input plain_cable_output 'Plain Cable Input' " +
        "'Plain Cable Output'");
    int fds[2];
    if (::pipe(fds) != 0) return;
    player_ = ::fork();
    if (player_ == 0) {
      ::dup2(fds[0], 0);
      ::close(fds[1]);
      ::execlp("pacat", "pacat", "--playback", "--latency-msec=20", "--format=float32le",
               "--rate=48000", "--channels=2", "--raw", "--device=plain_cable_input", nullptr);
      ::_exit(127);
    }
    ::close(fds[0]);
    fd_ = fds[1];
    feeder_ = std::thread([this, fd = fd_] {
      std::vector<float> block(2 * 480);
      for (uint64_t frame = 0; !stop_.load();) {
        for (size_t i = 0; i < 480; ++i, ++frame) {
          float value = 0.5f * static_cast<float>(std::sin(2 * std::numbers::pi * kMicrophoneTone *
                                                           static_cast<double>(frame) / kRate));
          block[2 * i] = block[2 * i + 1] = value;
        }
        if (::write(fd, block.data(), block.size() * sizeof(float)) <= 0) return;
      }
    });
    std::this_thread::sleep_for(std::chrono::milliseconds(500));
    recorder_.emplace("plain_cable_output");
  }

  ~PlainPlayer() { Finish(); }

  std::vector<float> Finish() {
    std::vector<float> cable;
    if (recorder_) cable = recorder_->Finish();
    recorder_.reset();
    stop_ = true;
    if (player_ > 0) {
      ::kill(player_, SIGTERM);
      ::waitpid(player_, nullptr, 0);
      player_ = -1;
    }
    // With the player gone the feeder's next write fails, and it ends before its pipe closes.
    if (feeder_.joinable()) feeder_.join();
    if (fd_ >= 0) ::close(fd_);
    fd_ = -1;
    return cable;
  }

 private:
  pid_t player_ = -1;
  int fd_ = -1;
  std::atomic<bool> stop_{false};
  std::thread feeder_;
  std::optional<testing::TimedRecording> recorder_;
};

bool MeasureContinuity(const std::filesystem::path& folder, int seconds, bool plain_player,
                       const testing::MachineStallProbe& probe) {
  std::filesystem::path clip = folder / "sounds" / "tone.wav";
  // Three seconds hold a whole number of the tone's cycles, so the loop is seamless.
  WriteWavFile(clip, 48000, 2, ToneSamples(kClipTone, 3 * 48000, 0.5), nullptr);
  Rig rig(folder / "continuity", clip, [](MixerSettings& settings) {
    settings.loop = true;
    settings.mic_volume = 0.5;
    settings.sfx_volume = 0.5;
    settings.monitor_name = "Headphones (Virtual)";
    settings.monitor_enabled = true;
  });
  if (!rig.Start("Microphone (Virtual)")) return false;
  rig.engine.StartPtt(true, nullptr);
  auto ms = [](std::chrono::microseconds duration) {
    return static_cast<double>(duration.count()) / 1000.0;
  };
  testing::QueuePoll cable_queue(
      [&] { return ms(rig.engine.GetAudioRoadHealth().mix_output.queue); });
  testing::QueuePoll monitor_queue(
      [&] { return ms(rig.engine.GetAudioRoadHealth().monitor.queue); });
  std::this_thread::sleep_for(std::chrono::milliseconds(500));
  std::optional<PlainPlayer> plain;
  if (plain_player) plain.emplace((folder / "audio").string());
  testing::TimedRecording cable("cable_output");
  testing::TimedRecording monitor("headphones.monitor");
  // The microphone as the server hands it over: a break there is the server's or the feeder's,
  // and reaches the cable whatever the engine does.
  testing::TimedRecording microphone("test_microphone");
  std::this_thread::sleep_for(std::chrono::seconds(seconds));
  std::vector<float> cable_samples = cable.Finish();
  std::vector<float> monitor_samples = monitor.Finish();
  std::vector<float> microphone_samples = microphone.Finish();
  std::vector<float> plain_samples = plain ? plain->Finish() : std::vector<float>();
  // The voice's breaks are the cable's too: its threads' stops reach it.
  size_t heard_cable = PrintBreaks(
      "continuity, the cable", cable_samples, {kMicrophoneTone, kClipTone},
      DeviceRoad{&cable, testing::kCableRoad, &cable_queue, &probe});
  size_t heard_monitor =
      PrintBreaks("the monitor, the clip alone", monitor_samples, {kClipTone},
                  DeviceRoad{&monitor, testing::kMonitorRoad, &monitor_queue, &probe});
  size_t heard_microphone =
      PrintBreaks("the microphone itself", microphone_samples, {kMicrophoneTone});
  if (plain) {
    PrintBreaks("meanwhile a plain player (pacat, 20 ms) into a cable of its own", plain_samples,
                {kMicrophoneTone});
  }
  MixerEngine::AudioRoadHealth health = rig.engine.GetAudioRoadHealth();
  std::printf("breaks the engine counted since its start, about a second before the recordings, beside "
              "those heard:\n"
              "  microphone  %llu, on its source %zu\n"
              "  cable       %llu and the microphone's %llu, on \"CABLE Output\" %zu (the voice's "
              "included)\n"
              "  monitor     %llu, on \"headphones.monitor\" %zu\n",
              static_cast<unsigned long long>(health.microphone.breaks), heard_microphone,
              static_cast<unsigned long long>(health.mix_output.breaks),
              static_cast<unsigned long long>(health.microphone.breaks), heard_cable,
              static_cast<unsigned long long>(health.monitor.breaks), heard_monitor);
  std::vector<testing::MachineStallProbe::Stop> stops = probe.StopsOver(20.0);
  double longest = 0;
  for (const auto& stop : stops) longest = std::max(longest, stop.milliseconds);
  std::printf("a core stopped for 20 ms or more %zu times since the start (longest %.0f ms)\n",
              stops.size(), longest);
  rig.PrintRoadHealth();
  rig.engine.Stop(nullptr);
  return true;
}

struct Trip {
  double at_seconds;  // where the impulse lies in the recording
  double milliseconds;
};

// Each impulse is a 2 ms step, so that resampling at a follower's speed cannot smear it below
// the thresholds: its rising edge after 10 ms of quiet, and the first edge of its echo.
constexpr size_t kImpulseFrames = 96;

std::vector<Trip> FindTrips(const std::vector<float>& samples) {
  std::vector<Trip> trips;
  const size_t frames = samples.size() / 2;
  auto quiet_before = [&samples](size_t edge) {
    for (size_t k = edge - 480; k + 2 < edge; ++k) {
      if (samples[2 * k] >= 0.1f) return false;
    }
    return true;
  };
  for (size_t i = 480; i < frames; ++i) {
    if (samples[2 * i] < 0.6f || samples[2 * (i - 1)] >= 0.6f || !quiet_before(i)) continue;
    for (size_t j = i + kImpulseFrames + 24; j < std::min(frames, i + 9600); ++j) {
      if (samples[2 * j] > 0.3f) {
        trips.push_back({static_cast<double>(i) / kRate, static_cast<double>(j - i) / kRate * 1000});
        break;
      }
    }
  }
  return trips;
}

void Report(const char* label, const std::vector<Trip>& trips, double from, double to) {
  std::vector<double> ms;
  for (const Trip& trip : trips) {
    if (trip.at_seconds >= from && trip.at_seconds < to) ms.push_back(trip.milliseconds);
  }
  if (ms.empty()) {
    std::printf("  %-20s no impulse came back\n", label);
    return;
  }
  std::sort(ms.begin(), ms.end());
  std::printf("  %-20s median %.1f ms, min %.1f ms, max %.1f ms (%zu impulses)\n", label,
              ms[ms.size() / 2], ms.front(), ms.back(), ms.size());
}

bool MeasureMicrophoneTrips(const std::filesystem::path& folder, int seconds,
                            const testing::MachineStallProbe& probe) {
  Run("pactl load-module module-remap-source master=cable_input.monitor "
      "source_name=loopback_microphone "
      "source_properties=device.description=Microphone-Loopback");
  std::filesystem::path clip = folder / "sounds" / "impulse.wav";
  WriteWavFile(clip, 48000, 2,
               std::vector<int16_t>(2 * kImpulseFrames, static_cast<int16_t>(kImpulse * 32767)),
               nullptr);
  Rig rig(folder / "trips", clip, [](MixerSettings& settings) {
    settings.mic_volume = 0.5;
    settings.monitor_enabled = false;
  });
  testing::TimedRecording recorder("cable_output");
  if (!rig.Start("Microphone-Loopback")) return false;
  auto started = Clock::now();
  for (int i = 0; i < seconds * 2; ++i) {
    std::this_thread::sleep_until(started + std::chrono::milliseconds(500 * (i + 1)));
    rig.engine.StartPtt(true, nullptr);
  }
  std::vector<Trip> trips = FindTrips(recorder.Finish());
  std::printf("microphone to cable output, %d s run\n", seconds);
  // A trip far above the rest is a break, whose cause this run cannot tell by itself.
  for (const auto& stop : probe.StopsOver(20.0)) {
    if (stop.from < started) continue;
    std::printf("  core %u stopped %.0f ms at %.1f s\n", stop.core, stop.milliseconds,
                std::chrono::duration<double>(stop.from - started).count());
  }
  rig.PrintRoadHealth();
  rig.engine.Stop(nullptr);
  Report("whole run", trips, 0, seconds + 1);
  Report("first minute", trips, 0, std::min(60, seconds));
  Report("last minute", trips, std::max(0, seconds - 60), seconds + 1);
  return true;
}

// The first frame after `from` where the clip's tone stands above the silence.
std::optional<size_t> OnsetAfter(const std::vector<float>& samples, size_t from) {
  for (size_t i = from; 2 * i < samples.size(); ++i) {
    if (std::abs(samples[2 * i]) > 0.1f) return i;
  }
  return std::nullopt;
}

// With the monitor on, as a player who hears their own clips keeps it.
bool MeasureHotkey(const std::filesystem::path& folder) {
  std::filesystem::path clip = folder / "sounds" / "burst.wav";
  WriteWavFile(clip, 48000, 2, ToneSamples(kClipTone, 4800, 0.5), nullptr);
  Rig rig(folder / "hotkey", clip, [](MixerSettings& settings) {
    settings.mic_volume = 0.0;
    settings.monitor_name = "Headphones (Virtual)";
    settings.monitor_enabled = true;
  });
  testing::TimedRecording cable_recording("cable_output");
  testing::TimedRecording monitor_recording("headphones.monitor");
  std::this_thread::sleep_for(std::chrono::milliseconds(300));
  std::vector<Clock::time_point> first_presses;
  std::vector<Clock::time_point> presses;
  std::mt19937 random(11);
  std::uniform_int_distribution<int> within_tick_us(0, 9999);
  auto within_tick = [&] { return std::chrono::microseconds(within_tick_us(random)); };
  for (int start = 0; start < 5; ++start) {
    if (!rig.Start("Microphone (Virtual)")) return false;
    std::this_thread::sleep_for(within_tick());
    first_presses.push_back(Clock::now());
    rig.engine.StartPtt(true, nullptr);
    for (int i = 1; i <= 4; ++i) {
      std::this_thread::sleep_until(first_presses.back() + std::chrono::milliseconds(400 * i) +
                                    within_tick());
      presses.push_back(Clock::now());
      rig.engine.StartPtt(true, nullptr);
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(400));
    rig.engine.Stop(nullptr);
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
  }
  std::vector<float> cable = cable_recording.Finish();
  std::vector<float> monitor = monitor_recording.Finish();
  auto latencies = [&](const std::vector<float>& samples, const testing::TimedRecording& recording,
                       const std::vector<Clock::time_point>& times) {
    std::vector<double> ms;
    for (Clock::time_point press : times) {
      double offset = std::chrono::duration<double>(press - recording.TimeOf(0.0)).count();
      auto onset = OnsetAfter(samples, static_cast<size_t>(std::max(0.0, offset * kRate)));
      if (onset) ms.push_back(static_cast<double>(*onset) / kRate * 1000 - offset * 1000);
    }
    std::sort(ms.begin(), ms.end());
    return ms;
  };
  auto print = [](const char* label, const std::vector<double>& ms, size_t presses) {
    if (ms.empty()) {
      std::printf("  %-32s no clip was heard\n", label);
      return;
    }
    std::printf("  %-32s median %.1f ms, max %.1f ms (%zu of %zu presses heard)\n", label,
                ms[ms.size() / 2], ms.back(), ms.size(), presses);
  };
  std::printf("hotkey press to the clip, the monitor on, 5 starts\n");
  print("cable, first after a start", latencies(cable, cable_recording, first_presses),
        first_presses.size());
  print("cable, later presses", latencies(cable, cable_recording, presses), presses.size());
  print("monitor, first after a start", latencies(monitor, monitor_recording, first_presses),
        first_presses.size());
  print("monitor, later presses", latencies(monitor, monitor_recording, presses), presses.size());
  return true;
}

int Main(int seconds, bool busy, bool plain_player) {
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
  std::filesystem::create_directories(folder / "sounds");
  std::printf("%s, every core %s\n", Run("pactl info | grep '^Server Name'").c_str(),
              busy ? "busy" : "as it was");

  bool measured = false;
  {
    BusyCores cores(busy);
    testing::MachineStallProbe probe;
    std::vector<std::string> threads = testing::kCableRoad.AllThreads();
    threads.insert(threads.end(), testing::kMonitorRoad.threads.begin(),
                   testing::kMonitorRoad.threads.end());
    probe.FollowThreads(::getpid(), threads);
    testing::FollowAudioServer(&probe, threads);
    measured = MeasureContinuity(folder, seconds, plain_player, probe) &&
               MeasureMicrophoneTrips(folder, seconds, probe) && MeasureHotkey(folder);
  }
  Run("'" + script + "' stop '" + (folder / "audio").string() + "'");
  std::filesystem::remove_all(folder);
  return measured ? 0 : 1;
}

}  // namespace
}  // namespace zennic

int main(int argc, char** argv) {
  std::setvbuf(stdout, nullptr, _IOLBF, 0);
  // The plain player's feeder finds out from its write that the player ended.
  ::signal(SIGPIPE, SIG_IGN);
  int seconds = 65;
  bool busy = false;
  bool plain_player = false;
  for (int i = 1; i < argc; ++i) {
    if (std::strcmp(argv[i], "--busy") == 0) {
      busy = true;
    } else if (std::strcmp(argv[i], "--plain-player") == 0) {
      plain_player = true;
    } else {
      seconds = std::max(1, std::atoi(argv[i]));
    }
  }
  return zennic::Main(seconds, busy, plain_player);
}
