// The run's supervision of its device threads: a device that goes away mid-run (unplugged, or
// its audio server restarted) ends its thread; once the same device is back, its thread is
// started anew, so the run goes on without the user starting it again.

#include <algorithm>
#include <chrono>
#include <system_error>

#include "engine/mixer_engine.h"
#include "model/runtime_state.h"

namespace zennic {
namespace {

using Clock = std::chrono::steady_clock;

// How often a resumed thread's start-up is looked at, so that a stop is never kept waiting; the
// start-up itself ends within the audio system's own deadlines.
constexpr auto kResumeStartupPoll = std::chrono::milliseconds(100);

}  // namespace

void MixerEngine::StartDeviceThread(DeviceWorker* worker, std::shared_ptr<WorkerStartup> startup) {
  {
    std::lock_guard lock(supervision_mutex_);
    worker->ended = false;
  }
  worker->thread = std::thread(&MixerEngine::RunDeviceThread, this, worker, std::move(startup));
}

void MixerEngine::RunDeviceThread(DeviceWorker* worker, std::shared_ptr<WorkerStartup> startup) {
  if (worker->mode == kCaptureMode) {
    CaptureThreadMain(worker->device, std::move(startup));
  } else {
    RenderThreadMain(worker->device, worker->mode, std::move(startup));
  }
  // While the run goes on, a device thread ends only when its device failed.
  if (stop_.load()) return;
  {
    std::lock_guard lock(supervision_mutex_);
    worker->ended = true;
  }
  supervision_changed_.notify_all();
}

void MixerEngine::StopSupervision() {
  {
    // Under the mutex, so that the supervisor cannot miss the stop between its look and its wait.
    std::lock_guard lock(supervision_mutex_);
  }
  supervision_changed_.notify_all();
  if (supervisor_thread_.joinable()) supervisor_thread_.join();
}

void MixerEngine::SuperviseDevices() {
  struct Watch {
    DeviceWorker* worker;
    bool waiting = false;
    std::chrono::milliseconds pause = kFirstResumePause;
    Clock::time_point next_look{};
  };
  Watch watches[] = {{&capture_worker_}, {&mix_render_worker_}, {&monitor_render_worker_}};
  std::unique_lock lock(supervision_mutex_);
  while (!stop_.load()) {
    auto wake_at = Clock::time_point::max();
    for (const Watch& watch : watches) {
      if (watch.waiting) wake_at = std::min(wake_at, watch.next_look);
    }
    auto settled = [&] {
      return stop_.load() || std::any_of(std::begin(watches), std::end(watches),
                                         [](const Watch& watch) { return watch.worker->ended; });
    };
    if (wake_at == Clock::time_point::max()) {
      supervision_changed_.wait(lock, settled);
    } else {
      supervision_changed_.wait_until(lock, wake_at, settled);
    }
    if (stop_.load()) break;

    for (Watch& watch : watches) {
      DeviceWorker* worker = watch.worker;
      if (worker->ended) {
        worker->ended = false;
        lock.unlock();
        worker->thread.join();
        lock.lock();
        watch.waiting = true;
        watch.next_look = Clock::now() + watch.pause;
      }
      if (!watch.waiting || Clock::now() < watch.next_look) continue;
      lock.unlock();
      bool resumed = ResumeDevice(worker);
      lock.lock();
      if (resumed) {
        watch.waiting = false;
      } else {
        watch.pause = std::min(watch.pause * 2, kLongestResumePause);
        watch.next_look = Clock::now() + watch.pause;
      }
    }
  }
}

bool MixerEngine::ResumeDevice(DeviceWorker* worker) {
  // What piled up while the device was away is dropped by its own thread once its stream runs,
  // so that nothing made during the opening arrives late.
  if (stop_.load() || !EndpointPresent(worker->device.id)) return false;
  auto startup = std::make_shared<WorkerStartup>(1);
  try {
    StartDeviceThread(worker, startup);
  } catch (const std::system_error&) {
    return false;
  }
  bool ready = false;
  {
    std::unique_lock lock(startup->mutex);
    while (!startup->failed && startup->pending > 0 && !stop_.load()) {
      startup->changed.wait_for(lock, kResumeStartupPoll);
    }
    ready = !startup->failed && startup->pending == 0;
  }
  if (!ready) {
    // Stopping, the thread ends by itself and StopWorkers joins it; failed, it is ending.
    if (stop_.load()) return false;
    worker->thread.join();
    std::lock_guard lock(supervision_mutex_);
    worker->ended = false;
    return false;
  }
  runtime_state_->RemoveAudioDeviceFailures(worker->label);
  Log(std::string(worker->label) + " resumed on " + worker->device.name);
  return true;
}

bool MixerEngine::EndpointPresent(const std::string& id) const {
  AudioResult connected = audio_result::kOk;
  std::unique_ptr<AudioSystem> system = audio_systems_ ? audio_systems_(&connected) : nullptr;
  std::unique_ptr<AudioEndpoint> endpoint;
  return system != nullptr && AudioSucceeded(system->OpenEndpoint(id, &endpoint)) &&
         endpoint != nullptr;
}

}  // namespace zennic
