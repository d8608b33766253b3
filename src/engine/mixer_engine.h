#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <filesystem>
#include <memory>
#include <mutex>
#include <optional>
#include <semaphore>
#include <string>
#include <thread>
#include <vector>

#include "engine/delivery_jitter.h"
#include "engine/endpoint_format.h"
#include "engine/mix_block.h"
#include "engine/mixer_device_choice.h"
#include "engine/paced_fifo_reader.h"
#include "engine/raw_input_window.h"
#include "engine/sample_fifo.h"
#include "engine/voice_effect.h"
#include "engine/voice_test_recorder.h"
#include "platform/audio_system.h"
#include "platform/priority_inheriting_mutex.h"
#include "sound_files/selected_file_loader.h"

namespace zennic {

class AnalyzerService;
class KeyBindingService;
class ProfileService;
class RuntimeState;

// The audio engine. While started it runs four threads: the capture thread fills the
// microphone FIFO from the chosen microphone; the mixer thread, every 10 ms, takes one block of
// microphone audio, passes it through the voice effect, adds the playing clip and writes the mix
// and the clip alone to two FIFOs; two render threads play those on the mix output (the virtual
// cable) and the monitor output. Clips start and stop from the hotkeys and from the web client,
// and while one plays the game's voice-chat key is held down.
//
// Every operation returns false with an English sentence in `error` (when given) on failure.
class MixerEngine {
 public:
  // What started the playing clip.
  static constexpr uint32_t kTriggerNone = 0;
  static constexpr uint32_t kTriggerPushToTalk = 1;
  static constexpr uint32_t kTriggerPanic = 2;

  // `logs_folder` (may be empty) receives the lines about devices that stop mid-run and the
  // priority the audio threads got.
  MixerEngine(RuntimeState* runtime_state, KeyBindingService* key_bindings,
              AnalyzerService* analyzer, ProfileService* profiles,
              std::filesystem::path logs_folder = {});
  // The same on another audio system.
  MixerEngine(RuntimeState* runtime_state, KeyBindingService* key_bindings,
              AnalyzerService* analyzer, ProfileService* profiles,
              AudioSystemFactory audio_systems, std::filesystem::path logs_folder = {});
  // Shuts down first: every thread has ended before the members go.
  ~MixerEngine();
  MixerEngine(const MixerEngine&) = delete;
  MixerEngine& operator=(const MixerEngine&) = delete;

  // Takes the hotkeys; the engine does not run until started.
  bool Initialize(std::string* error);
  // (Re)starts with a fresh device choice; `notes` (may be null) receives what the user should
  // know about substituted devices. The devices in use are saved to the settings.
  bool Start(const MixerDeviceSelection& selection, std::vector<std::string>* notes,
             std::string* error);
  // Stops the clip and every thread; always true.
  bool Stop(std::string* error);
  // Stops everything and lets go of the hotkeys and the voice-chat key.
  void Shutdown();

  // In memory only; a running monitor follows at its next buffer.
  bool SetMonitorEnabled(bool enabled, std::string* error);
  bool ListDevices(MixerDeviceList* devices, std::string* error);

  // Loads and starts one clip unless one already plays, pressing the voice-chat key first.
  bool PlayClip(const std::string& path, uint32_t trigger, bool force, bool trigger_is_voice_key,
                bool empty_path_is_success, std::string* error);
  bool PlaySelectedClip(bool force, bool trigger_is_voice_key, std::string* error);
  // The web client's push-to-talk.
  bool StartPtt(bool force, std::string* error);
  bool StopPtt(std::string* error);
  // Stops whatever clip plays and releases the voice-chat key.
  bool StopClip(std::string* error);
  // Every key and mouse-button transition, from the key-binding service.
  void OnRawKeyEvent(const RawKeyEvent& event);

  // Records exactly 5 seconds of the microphone after the voice effect, waiting at most 8.
  bool RecordVoiceTest(uint32_t seconds, VoiceTestResult* out, std::string* error);
  bool GetLatestVoiceTest(VoiceTestResult* out, std::string* error) const;
  void ClearVoiceTest();

  // How punctually the mixer thread ticked since the last start, for measurements: the ticks so
  // far, the most any of them came after its time, and the longest any took. A late tick that
  // took no time waited for the system to wake its thread, not for anything of the program's.
  struct TickTiming {
    uint64_t ticks = 0;
    std::chrono::microseconds worst_lateness{0};
    std::chrono::microseconds longest{0};
  };
  TickTiming GetTickTiming() const;

  // What one device of the run met since the start: every break in its audio, by cause, the
  // margin kept in hand against its jitter, and how unevenly it kept its pace (the spread of
  // its deliveries or requests within a second: the median second's and the worst).
  struct DeviceHealth {
    // Every break below; 0 in a clean run.
    uint64_t dropouts = 0;
    // Its stream's own: an output's queue ran dry, a microphone lost audio before it was read.
    uint64_t device_glitches = 0;
    // Reads of its FIFO that found it short, and the frames that played as silence for it.
    uint64_t short_reads = 0;
    uint64_t silent_frames = 0;
    // Stalls after which its audio was realigned.
    uint64_t realignments = 0;
    // What waits in its FIFO against the jitter (not the mix output's: the mixer keeps pace
    // with it), and what an output keeps queued on the device.
    std::chrono::microseconds margin{0};
    std::chrono::microseconds queue{0};
    std::chrono::microseconds jitter_median{0};
    std::chrono::microseconds jitter_peak{0};
  };
  struct AudioRoadHealth {
    DeviceHealth microphone;
    DeviceHealth mix_output;
    DeviceHealth monitor;
    // The mixer's own ticks.
    std::chrono::microseconds mixer_jitter_median{0};
    std::chrono::microseconds mixer_jitter_peak{0};
  };
  // Lock-free: the status polls it.
  AudioRoadHealth GetAudioRoadHealth() const;

 private:
  // The start-up handshake between the starting thread and the device threads.
  struct WorkerStartup {
    explicit WorkerStartup(int32_t pending_threads) : pending(pending_threads) {}
    void ReportReady();
    // Keeps only the first failure: "<label> failed to initialize[: <message>]".
    void ReportFailure(const std::string& label, const std::string& message);
    // What scheduling the threads got, for the log; the first report is kept.
    void NotePriority(const std::string& granted);

    std::mutex mutex;
    std::condition_variable changed;
    int32_t pending;
    bool failed = false;
    std::string error;
    std::string priority;
  };

  // Key events arrive on the raw-input thread, which outlives the engine; the handler reaches
  // the engine only through this gate, which shutdown closes after the last call has left.
  struct KeyEventGate {
    std::mutex mutex;
    MixerEngine* engine = nullptr;
  };

  // The clip that plays; guarded by mutex_.
  struct ClipState {
    ClipPlayhead playhead;
    uint32_t trigger = kTriggerNone;
    // Shared with the loader's kept clip; let go of outside mutex_.
    std::shared_ptr<const LoadedAudioFile> clip;
    bool has_clip = false;
    // Which start the clip came from, so that a stop meant for one clip never ends the next.
    uint64_t serial = 0;
  };

  // How start-up failures, stops and stalls name the devices.
  static constexpr char kCaptureLabel[] = "Microphone input device";
  static constexpr char kMixOutputLabel[] = "Mixer output device";
  static constexpr char kMonitorLabel[] = "Monitor output device";

  // A device thread of the run, with what it takes to start it anew on the same device.
  static constexpr int kCaptureMode = -1;
  struct DeviceWorker {
    DeviceWorker(const char* device_label, int thread_mode)
        : label(device_label), mode(thread_mode) {}
    const char* const label;
    const int mode;  // kCaptureMode, else the render mode: 0 the mix output, 1 the monitor
    MixerSelectedDevice device;  // none when the run has none
    std::thread thread;
    // The thread ended while the run went on: its device went away. Guarded by
    // supervision_mutex_.
    bool ended = false;
  };

  // How often a run looks for a device that went away: soon at first, then less often.
  static constexpr std::chrono::milliseconds kFirstResumePause{250};
  static constexpr std::chrono::milliseconds kLongestResumePause{2000};

  // The audio a device thread works on: the connection, the endpoint and its stream.
  struct DeviceStream {
    std::unique_ptr<AudioSystem> system;
    std::unique_ptr<AudioEndpoint> endpoint;
    std::unique_ptr<AudioClient> client;
    EndpointFormat format;
    AudioMixFormat mix_format;
  };

  // A tick waits for a late microphone while the mix output still has audio queued, so the
  // output's queue, not the microphone's FIFO, covers a late delivery or a stall of the whole
  // machine: the microphone's margin only spares the ticks a wait at every delivery (it settled
  // at 3 to 4 ms over ten minutes here), and grows where its deliveries show it should.
  static constexpr uint64_t kMicrophoneStartMarginFrames = 240;  // 5 ms
  static constexpr uint64_t kMonitorStartMarginFrames = DriftFollower::kStartMarginFrames;

  // One device's side of the audio road: counted by its audio threads, which never wait, and
  // logged by the voice-key thread, which may wait for a file.
  struct RoadNotes {
    // `fed_by_mixer`: an output, whose FIFO the mixer fills, rather than the microphone;
    // `start_margin`: the margin its FIFO's reader starts with when it follows the writer's
    // clock, 0 for the mix output, whose clock the mixer keeps.
    RoadNotes(const char* device_label, bool fed_by_mixer, uint64_t start_margin)
        : label(device_label), output(fed_by_mixer), start_margin_frames(start_margin) {}
    // A new run; its threads are not running.
    void Reset();
    const char* const label;
    const bool output;
    const uint64_t start_margin_frames;
    // The device's deliveries (microphone) or requests (outputs), noted by its own thread.
    DeliveryJitter jitter;
    std::atomic<uint64_t> device_glitches{0};
    // An output's, at its latest run dry: its thread's longest pause between two passes in the
    // quarter to half second before. A long one says the thread came late, a short one that the
    // device's side took the audio faster than it plays.
    std::atomic<int64_t> dry_pause_ms{0};
    std::atomic<uint64_t> short_reads{0};
    std::atomic<uint64_t> silent_frames{0};
    std::atomic<int64_t> late_ms{0};  // the silence of the latest short read
    std::atomic<uint64_t> stalls{0};
    std::atomic<int64_t> stall_ms{0};
    std::atomic<uint64_t> margin_changes{0};
    std::atomic<uint64_t> margin_frames{0};
    // An output's: what it keeps queued on its device.
    std::atomic<uint64_t> queue_changes{0};
    std::atomic<uint64_t> queue_frames{0};
    std::atomic<uint64_t> block_notes{0};
    std::atomic<uint64_t> block_frames{0};
    // Which run the counts are of.
    std::atomic<uint64_t> run{0};
    // The voice-key thread's own: what it has logged, and of which run.
    uint64_t run_logged = 0;
    uint64_t glitches_logged = 0;
    uint64_t short_reads_logged = 0;
    uint64_t stalls_logged = 0;
    uint64_t margin_changes_logged = 0;
    uint64_t queue_changes_logged = 0;
    std::chrono::steady_clock::time_point margins_logged_at;
    uint64_t block_notes_logged = 0;
  };

  bool StartWorkers(const MixerDeviceSelection& selection, std::vector<std::string>* notes,
                    std::string* error);
  void StopWorkers();
  // Stops the clip of start `serial`, or any clip when none is given. A release of the
  // voice-chat key that fails is owed: the key stays "held" until the voice-key thread's retry
  // lets go of it.
  bool StopClipOf(std::optional<uint64_t> serial, std::string* error);
  void ClearClipLocked();
  // Takes over what the audio threads must not wait for: the stop of a clip that played out,
  // and retries of an owed release, however long the display takes.
  void VoiceKeyThreadMain();
  void RetryOwedRelease();
  void StopVoiceKeyThread();

  void MixerThreadMain();
  // One tick: 10 ms of the microphone through the voice effect, with the clip, into the mix and
  // the monitor FIFOs. The caller holds tick_mutex_.
  void MixTick(std::chrono::steady_clock::time_point tick_start);
  // From the mix output's thread, when the mixer thread is held up (its processor taken away)
  // and the device is running low: makes the next tick itself, unless a tick is under way or
  // the microphone is late; `running_dry`: the device is about to play silence, and the tick
  // goes ahead without the microphone's audio.
  bool MixInPlaceOfMixer(bool running_dry);
  // Whether a tick finds the microphone's audio for it, or reads silence anyway (the reader
  // aligning after a start or a stall). The caller holds tick_mutex_.
  bool MicrophoneReady() const;
  void CaptureThreadMain(MixerSelectedDevice device, std::shared_ptr<WorkerStartup> startup);
  // `mode` 0 is the mix output, 1 the monitor.
  void RenderThreadMain(MixerSelectedDevice device, int mode,
                        std::shared_ptr<WorkerStartup> startup);
  // Connects, opens the endpoint and initialises its shared-mode stream.
  bool OpenDeviceStream(const MixerSelectedDevice& device, AudioFlow flow, DeviceStream* stream,
                        std::string* error);
  static bool OpenAudioClient(AudioEndpoint* endpoint, std::unique_ptr<AudioClient>* client,
                              AudioMixFormat* mix_format, EndpointFormat* format,
                              std::string* error);
  // The device's period, or a common one when it does not say: the longest its thread waits.
  static int64_t DevicePeriod100ns(AudioClient* client);
  static constexpr int64_t kFallbackDevicePeriod100ns = 50000;  // 5 ms
  // A device that stopped mid-run: for the status and the log. Called by that device's own
  // thread, whose real-time work is over.
  void ReportDeviceFailure(const std::string& message);
  // The device's thread body and, when it ends while the run goes on, word to the supervision.
  void StartDeviceThread(DeviceWorker* worker, std::shared_ptr<WorkerStartup> startup);
  void RunDeviceThread(DeviceWorker* worker, std::shared_ptr<WorkerStartup> startup);
  // The run's own supervision: a device thread that ended is started anew, with the same
  // device, once that device is back; never on another device.
  void SuperviseDevices();
  bool ResumeDevice(DeviceWorker* worker);
  void StopSupervision();
  bool EndpointPresent(const std::string& id) const;
  // From an audio thread: never waits.
  // `follower`: the reader's, where one follows the writer.
  void NoteRead(RoadNotes* notes, const DriftFollower::Decision& decision,
                const DriftFollower* follower);
  // From the mix output's thread: it took from the mix FIFO, or found it short.
  void AskForMix();
  // True when the device broke since `seen`.
  bool NoteDeviceGlitches(RoadNotes* notes, AudioClient* client, uint64_t* seen);
  void LogRoadNotes();
  static DeviceHealth HealthOf(const RoadNotes& notes);
  void Log(const std::string& message) const;

  RuntimeState* runtime_state_;
  KeyBindingService* key_bindings_;
  AnalyzerService* analyzer_;
  ProfileService* profiles_;
  SelectedFileLoader clip_loader_;
  VoiceEffectProcessor voice_effect_;  // the tick's alone
  AudioSystemFactory audio_systems_;
  std::filesystem::path logs_folder_;
  std::shared_ptr<KeyEventGate> key_event_gate_;

  // The mixer thread takes it every tick, for the clip.
  mutable PriorityInheritingMutex mutex_;
  bool initialized_ = false;
  MixerSelectedDevice microphone_;
  MixerSelectedDevice output_;
  MixerSelectedDevice monitor_;
  SampleFifo microphone_fifo_;
  SampleFifo mix_fifo_;
  SampleFifo monitor_fifo_;
  std::thread mixer_thread_;
  DeviceWorker capture_worker_{kCaptureLabel, kCaptureMode};
  DeviceWorker mix_render_worker_{kMixOutputLabel, 0};
  DeviceWorker monitor_render_worker_{kMonitorLabel, 1};
  std::thread supervisor_thread_;
  std::mutex supervision_mutex_;
  std::condition_variable supervision_changed_;
  std::atomic<bool> stop_{false};
  // Written by the mixer thread alone, reset by a start.
  std::atomic<uint64_t> ticks_{0};
  std::atomic<int64_t> worst_tick_lateness_us_{0};
  std::atomic<int64_t> longest_tick_us_{0};
  ClipState clip_;
  std::thread voice_key_thread_;
  std::counting_semaphore<> voice_key_wake_{0};
  std::atomic<bool> voice_key_thread_stop_{false};
  // The start serial of a clip that played out, marked by the mixer thread; 0 for none.
  std::atomic<uint64_t> ended_clip_serial_{0};
  std::atomic<bool> release_owed_{false};
  RoadNotes microphone_notes_{kCaptureLabel, false, kMicrophoneStartMarginFrames};
  RoadNotes mix_output_notes_{kMixOutputLabel, true, 0};
  RoadNotes monitor_notes_{kMonitorLabel, true, kMonitorStartMarginFrames};
  DeliveryJitter mixer_jitter_;
  // The tick's own: the mixer thread makes the ticks, or the mix output's thread when the mixer
  // thread is held up. Only audio threads take tick_mutex_.
  struct TickBlocks {
    // Sized once: the tick reads and writes them whole, never growing them.
    std::vector<float> microphone = std::vector<float>(960);
    std::vector<float> mix = std::vector<float>(960);
    std::vector<float> monitor = std::vector<float>(960);
    uint64_t frames = 0;  // ticked since the start
  };
  std::mutex tick_mutex_;
  TickBlocks tick_;
  // Read by one audio thread at a time; a start resets them while no thread runs.
  PacedFifoReader microphone_reader_{kMicrophoneStartMarginFrames};
  PacedFifoReader monitor_reader_{kMonitorStartMarginFrames};
  // Wakes the mixer thread: a request of the mix output, which paces it, or a delivery of the
  // microphone it waits for.
  std::counting_semaphore<> mixer_wake_{0};
  // When the mix output last asked for the mix.
  std::atomic<int64_t> last_mix_request_ns_{0};
  uint64_t clip_serial_counter_ = 0;
  // Clip starts (from the key press to the clip's publication) and stops (from clearing the
  // clip to releasing the key) take turns under it, so that no stop lets go of a key that a
  // newer clip pressed. Taken before mutex_.
  std::mutex clip_start_mutex_;
  // Serialises start, stop and shutdown, which create and join the threads. Taken first.
  std::mutex lifecycle_mutex_;

  VoiceTestRecorder voice_test_;
};

}  // namespace zennic
