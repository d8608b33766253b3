#include "engine/mixer_engine.h"

#include <chrono>
#include <system_error>

#include "core/app_log.h"
#include "engine/key_binding_service.h"
#include "model/runtime_state.h"

namespace zennic {
namespace {

constexpr char kMissingDependencies[] = "MixerEngine dependencies are not configured";
constexpr uint64_t kFifoFrames = 96000;  // 2 seconds
constexpr auto kWorkerStartupTimeout = std::chrono::milliseconds(10000);

void SetError(std::string* error, const std::string& message) {
  if (error != nullptr) *error = message;
}

}  // namespace

void MixerEngine::WorkerStartup::ReportReady() {
  std::lock_guard lock(mutex);
  if (pending > 0) --pending;
  changed.notify_all();
}

void MixerEngine::WorkerStartup::ReportFailure(const std::string& label,
                                               const std::string& message) {
  std::lock_guard lock(mutex);
  if (!failed) {
    failed = true;
    error = label + " failed to initialize";
    if (!message.empty()) error += ": " + message;
  }
  if (pending > 0) --pending;
  changed.notify_all();
}

void MixerEngine::WorkerStartup::NotePriority(const std::string& granted) {
  std::lock_guard lock(mutex);
  if (priority.empty()) priority = granted;
}

MixerEngine::MixerEngine(RuntimeState* runtime_state, KeyBindingService* key_bindings,
                         AnalyzerService* analyzer, ProfileService* profiles,
                         std::filesystem::path logs_folder)
    : MixerEngine(runtime_state, key_bindings, analyzer, profiles, ConnectAudioSystem,
                  std::move(logs_folder)) {}

MixerEngine::MixerEngine(RuntimeState* runtime_state, KeyBindingService* key_bindings,
                         AnalyzerService* analyzer, ProfileService* profiles,
                         AudioSystemFactory audio_systems, std::filesystem::path logs_folder)
    : runtime_state_(runtime_state),
      key_bindings_(key_bindings),
      analyzer_(analyzer),
      profiles_(profiles),
      clip_loader_(analyzer),
      audio_systems_(std::move(audio_systems)),
      logs_folder_(std::move(logs_folder)),
      key_event_gate_(std::make_shared<KeyEventGate>()),
      microphone_fifo_(kFifoFrames, 2),
      mix_fifo_(kFifoFrames, 2),
      monitor_fifo_(kFifoFrames, 2) {}

// Threads only run once initialised, so shutting down ends them all.
MixerEngine::~MixerEngine() { Shutdown(); }

bool MixerEngine::Initialize(std::string* error) {
  {
    std::lock_guard lock(mutex_);
    if (initialized_) return true;
    if (runtime_state_ == nullptr || key_bindings_ == nullptr || analyzer_ == nullptr) {
      SetError(error, kMissingDependencies);
      return false;
    }
    stop_.exchange(false);
    voice_key_thread_stop_.exchange(false);
    try {
      voice_key_thread_ = std::thread(&MixerEngine::VoiceKeyThreadMain, this);
    } catch (const std::exception& failure) {
      SetError(error, std::string("Failed to start audio threads: ") + failure.what());
      return false;
    }
    initialized_ = true;
  }
  // Outside the engine's mutex: a key event being handled holds the gate and may wait for it.
  {
    std::lock_guard gate(key_event_gate_->mutex);
    key_event_gate_->engine = this;
  }
  key_bindings_->SetKeyEventHandler([gate = key_event_gate_](const RawKeyEvent& event) {
    std::lock_guard lock(gate->mutex);
    if (gate->engine != nullptr) gate->engine->OnRawKeyEvent(event);
  });
  return true;
}

bool MixerEngine::Start(const MixerDeviceSelection& selection, std::vector<std::string>* notes,
                        std::string* error) {
  std::lock_guard lifecycle(lifecycle_mutex_);
  if (!Initialize(error)) return false;
  if (notes != nullptr) notes->clear();
  // Not running first, so no clip can start while the old run is taken down.
  runtime_state_->SetMixerRunning(false);
  StopClip(nullptr);
  StopWorkers();
  if (!StartWorkers(selection, notes, error)) return false;
  runtime_state_->SetMixerRunning(true);
  return true;
}

bool MixerEngine::StartWorkers(const MixerDeviceSelection& selection,
                               std::vector<std::string>* notes, std::string* error) {
  MixerDeviceList devices = EnumerateMixerDevices(audio_systems_);
  RuntimeSnapshot snapshot = runtime_state_->GetSnapshot();
  MixerDeviceChoice choice = ChooseMixerDevices(devices, snapshot, selection);
  if (!choice.output.usable) {
    SetError(error, "No compatible output device is available");
    return false;
  }

  {
    std::lock_guard lock(mutex_);
    microphone_ = choice.microphone;
    output_ = choice.output;
    monitor_ = choice.monitor;
  }
  auto index_of = [](const MixerSelectedDevice& device) {
    return device.usable ? std::optional<int32_t>(device.index) : std::nullopt;
  };
  runtime_state_->SetDeviceIndices(index_of(choice.microphone), index_of(choice.output),
                                   index_of(choice.monitor));

  // Every start saves the devices the user chose; a stand-in for a missing one is for this run.
  MixerSettings settings = SettingsWithChosenDevices(snapshot.settings, choice, selection);
  if (!runtime_state_->ReplaceSettings(settings, true, nullptr)) {
    runtime_state_->ReplaceSettings(settings, false, nullptr);
    choice.notes.push_back(
        "Audio device substitutions were applied for this session, but the updated settings "
        "could not be saved.");
  }
  if (notes != nullptr) *notes = choice.notes;

  microphone_fifo_.Clear();
  mix_fifo_.Clear();
  monitor_fifo_.Clear();
  runtime_state_->ClearAudioDeviceFailures();
  for (AudioRoadNotes* road : {&microphone_notes_, &mix_output_notes_, &monitor_notes_}) {
    road->Reset();
  }
  microphone_reader_.ResetRun();
  microphone_reader_.Reserve(480);
  monitor_reader_.ResetRun();
  microphone_notes_.NoteMargin(microphone_reader_.follower().margin_frames());
  monitor_notes_.NoteMargin(monitor_reader_.follower().margin_frames());
  microphone_episode_ = BreakEpisode(&microphone_notes_);
  tick_.waiting_since.reset();
  tick_.last_made.reset();
  // Until the capture thread starts, nothing says the microphone stopped.
  microphone_stall_.Reset({});
  cable_ticks_.store(false);
  tick_.waiting = 0;
  ticks_.store(0);
  worst_tick_lateness_us_.store(0);
  longest_tick_us_.store(0);
  stop_.exchange(false);

  int32_t device_threads = 1 + (choice.microphone.usable ? 1 : 0) + (choice.monitor.usable ? 1 : 0);
  auto startup = std::make_shared<WorkerStartup>(device_threads);
  capture_worker_.device = choice.microphone;
  mix_render_worker_.device = choice.output;
  monitor_render_worker_.device = choice.monitor;
  try {
    mixer_thread_ = std::thread(&MixerEngine::MixerThreadMain, this);
    for (DeviceWorker* worker : {&capture_worker_, &mix_render_worker_, &monitor_render_worker_}) {
      if (worker->device.usable) StartDeviceThread(worker, startup);
    }
  } catch (const std::exception& failure) {
    stop_.exchange(true);
    StopWorkers();
    SetError(error, std::string("Failed to start audio threads: ") + failure.what());
    return false;
  }

  std::string failure;
  std::string priority;
  {
    std::unique_lock lock(startup->mutex);
    bool settled = startup->changed.wait_for(lock, kWorkerStartupTimeout, [&startup] {
      return startup->failed || startup->pending == 0;
    });
    if (startup->failed) {
      failure = startup->error;
    } else if (!settled) {
      failure = "Audio worker initialization timed out";
    }
    priority = startup->priority;
  }
  if (!failure.empty()) {
    stop_.exchange(true);
    StopWorkers();
    SetError(error, failure);
    return false;
  }
  Log("Audio threads run at " + priority);
  try {
    supervisor_thread_ = std::thread(&MixerEngine::SuperviseDevices, this);
  } catch (const std::system_error&) {
    // The run plays on; only a device that goes away stays away.
    Log("Devices that go away during this run are not resumed: no thread could watch for them");
  }
  return true;
}

void MixerEngine::ReportDeviceFailure(const std::string& message) {
  runtime_state_->AddAudioDeviceFailure(message);
  Log(message);
}

void MixerEngine::LogRoadNotes() {
  for (AudioRoadNotes* notes : {&microphone_notes_, &mix_output_notes_, &monitor_notes_}) {
    notes->Log([this](const std::string& line) { Log(line); });
  }
}

MixerEngine::AudioRoadHealth MixerEngine::GetAudioRoadHealth() const {
  return {microphone_notes_.Health(), mix_output_notes_.Health(), monitor_notes_.Health()};
}

void MixerEngine::Log(const std::string& message) const {
  if (!logs_folder_.empty()) WriteLogLine(logs_folder_, "MixerEngine", message);
}

void MixerEngine::StopWorkers() {
  stop_.exchange(true);
  mixer_wake_.release();
  // First, so that no device thread is started anew behind the joins.
  StopSupervision();
  for (std::thread* thread :
       {&mixer_thread_, &capture_worker_.thread, &mix_render_worker_.thread,
        &monitor_render_worker_.thread}) {
    if (thread->joinable()) thread->join();
  }
  microphone_fifo_.Clear();
  mix_fifo_.Clear();
  monitor_fifo_.Clear();
  clip_loader_.Clear();
  voice_test_.Abort();
  {
    std::lock_guard lock(mutex_);
    microphone_ = {};
    output_ = {};
    monitor_ = {};
  }
  // A clip that started while the run was taken down must not keep the voice-chat key held.
  StopClip(nullptr);
}

bool MixerEngine::Stop(std::string* error) {
  std::lock_guard lifecycle(lifecycle_mutex_);
  // The voice-key-active flag goes with the key: a release that failed keeps it set until a
  // retry lets go of the key.
  if (runtime_state_ != nullptr) runtime_state_->SetMixerRunning(false);
  StopClip(nullptr);
  StopWorkers();
  if (runtime_state_ != nullptr) runtime_state_->ClearAudioDeviceFailures();
  if (error != nullptr) error->clear();
  return true;
}

void MixerEngine::Shutdown() {
  std::lock_guard lifecycle(lifecycle_mutex_);
  {
    std::lock_guard lock(mutex_);
    if (!initialized_) return;
  }
  // Waits for a key event still being handled, so none reaches the engine afterwards.
  {
    std::lock_guard gate(key_event_gate_->mutex);
    key_event_gate_->engine = nullptr;
  }
  runtime_state_->SetMixerRunning(false);
  StopClip(nullptr);
  StopWorkers();
  StopVoiceKeyThread();
  key_bindings_->SetKeyEventHandler({});
  // A last try; the key-binding service tries once more when it goes.
  key_bindings_->ReleaseGameVoiceKey(nullptr);
  release_owed_.exchange(false);
  runtime_state_->SetMixerRunning(false);
  runtime_state_->SetVoiceKeyActive(false);
  std::lock_guard lock(mutex_);
  initialized_ = false;
}

void MixerEngine::StopVoiceKeyThread() {
  voice_key_thread_stop_.exchange(true);
  voice_key_wake_.release();
  if (voice_key_thread_.joinable()) voice_key_thread_.join();
}

bool MixerEngine::SetMonitorEnabled(bool enabled, std::string* error) {
  if (runtime_state_ == nullptr) {
    SetError(error, kMissingDependencies);
    return false;
  }
  return runtime_state_->MutateSettings(
      [enabled](MixerSettings& settings) { settings.monitor_enabled = enabled; }, false, error);
}

bool MixerEngine::ListDevices(MixerDeviceList* devices, std::string* error) {
  if (devices == nullptr) {
    SetError(error, "MixerDeviceList output pointer is null");
    return false;
  }
  *devices = EnumerateMixerDevices(audio_systems_);
  return true;
}

}  // namespace zennic
