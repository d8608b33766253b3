#pragma once

#include <array>
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

#include "engine/adaptive_target.h"
#include "engine/audio_road_notes.h"
#include "engine/endpoint_format.h"
#include "engine/mix_block.h"
#include "engine/mixer_device_choice.h"
#include "engine/paced_fifo_reader.h"
#include "engine/raw_input_window.h"
#include "engine/sample_fifo.h"
#include "engine/stall_detector.h"
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

// The audio engine. While started it runs four threads: the capture thread fills the microphone
// FIFO from the chosen microphone; the render thread of the mix output (the virtual cable) keeps
// the cable's queue topped up and makes the mix as the cable asks for it: each 10 ms tick takes a
// block of the microphone through the voice effect, adds the playing clip and hands the mix to the
// cable and the clip alone to the monitor FIFO; the monitor's render thread plays that FIFO on the
// monitor output; the mixer thread makes the ticks on a steady clock only while the cable is away.
// A tick waits for a late microphone only while the outputs can wait; the clip never does. Clips
// start and stop from the hotkeys and from the web client, and while one plays the game's
// voice-chat key is held down.
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

  // What the FIFOs' readers keep in hand against a late writer: a reader that finds its writer
  // late waits for it while the outputs' queues allow, so the margin spares it most waits and
  // covers a writer's thread held up while the queue is low. The microphone's settled at 3 to 4 ms
  // over ten minutes here with a whole block held beside it; without the block, 4 ms keep the
  // voice about as whole through this machine's stops of a core as that did, 2 ms did not. A read
  // that had to go ahead short grows it by what was missing, up to 10 ms at once (a longer
  // lateness is the machine's stop, which the queues cover).
  static constexpr AdaptiveTarget::Shape kFifoMargin{
      std::chrono::milliseconds(4),  std::chrono::milliseconds(50), std::chrono::milliseconds(1),
      std::chrono::milliseconds(10), std::chrono::seconds(30),      std::chrono::seconds(10),
      std::chrono::milliseconds(1)};
  // What an output keeps queued on its device: 44 ms from a run's start. A clip's first tick
  // lands when the queue is down to 5 ms under this, after half a tick's wait on average, and the
  // server's sink takes it up to 5 ms later. At 45 ms a first key press reached the cable in 48
  // to 50 ms (medians of two ten-minute runs) and the voice in 58.6 ms, at the limits of 50 and
  // 58; at 44 in 47 to 50 and 54 ms (three runs), for a stop covered a millisecond shorter.
  // This virtual machine stops whole now and then, every core at once, for 10 to 25 ms every 20
  // to 60 s, which the queue rides out, and for 33 to 42 ms a few times an hour (a real-time probe
  // on each core), which breaks the audio once: a break grows the queue at once by the silence it
  // played (at least 5 ms), so that it covers the stop that caused it, and after half a minute
  // without one it comes down a millisecond every ten seconds.
  static constexpr AdaptiveTarget::Shape kOutputQueue{
      std::chrono::milliseconds(44), std::chrono::milliseconds(100), std::chrono::milliseconds(5),
      std::chrono::milliseconds(50), std::chrono::seconds(30),       std::chrono::seconds(10),
      std::chrono::milliseconds(1)};
  // The monitor's FIFO is fed a tick at a time as the cable asks, so its queue dips up to a tick
  // below its target just before each (measured: lowest 32 ms a second at a target of 44). A
  // tick on top lets it ride out the stops the cable's queue rides out, for 10 ms more delay on
  // the headphones.
  static constexpr AdaptiveTarget::Shape kMonitorQueue = [] {
    AdaptiveTarget::Shape shape = kOutputQueue;
    shape.floor += std::chrono::milliseconds(10);
    return shape;
  }();

  // How the ticks went since the last start, for measurements: the ticks so far, the longest
  // any waited for a late microphone, and the longest any took.
  struct TickTiming {
    uint64_t ticks = 0;
    std::chrono::microseconds worst_lateness{0};
    std::chrono::microseconds longest{0};
  };
  TickTiming GetTickTiming() const;

  struct AudioRoadHealth {
    DeviceHealth microphone;
    DeviceHealth mix_output;
    DeviceHealth monitor;
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

  // A microphone counts as stopped once its thread, passing on time while the server runs, has
  // found nothing for its usual spacing and 30 ms more; until then its voice is waited for down to
  // the cable's floor, as for any late delivery. The server's thread that reads a microphone can
  // stand still while its other threads run on: here a core stopped 30 ms under it, and a
  // microphone came some 28 ms late with no core stopped, in quiet series of the listening tests;
  // called stopped after 5 ms, its voice was waited for only to half the queue (22 ms) and broke.
  // 30 ms is about what the 44 ms queue covers from a tick's making down to its floor. A
  // microphone the server suspends counts as stopped at once; one that stops without a word costs
  // the clip's cushion down to the floor once, for a few milliseconds.
  static constexpr auto kMicrophoneLateness = std::chrono::milliseconds(30);

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

  // Makes the ticks while the cable is away, on a steady 10 ms clock, so that the monitor and the
  // voice test go on.
  void MixerThreadMain();
  // How long the cable can wait for a late microphone: until its queue is down to its floor, or
  // (once the microphone is known to be late) to half its target.
  struct VoiceWaits {
    std::chrono::steady_clock::time_point floor = std::chrono::steady_clock::time_point::max();
    std::chrono::steady_clock::time_point half = std::chrono::steady_clock::time_point::max();
  };
  // The ticks. Each makes a block of the clip, on the monitor's way at once (the clip never waits
  // for the microphone), and then the mix of that block with its voice, once the microphone's
  // audio is there or the voice can wait no longer: while the microphone's thread has not shown
  // it late (the thread, or the whole machine, may have been held up and the audio be on its way),
  // down to `waits.floor`; once it has, only to `waits.half`, so that a microphone that stops never
  // takes the clip's cushion. Each block given up on lets the next wait a block longer, the
  // queue having gained it. What comes later than that is still heard, at its place after the
  // silence, unless the microphone is later than its reader would work off. False while a voice
  // waits.
  // The cable's: blocks until what is mixed for the cable, or waits for its voice, covers
  // `frames` (48,000 a second). What the monitor made beyond that while the cable did not ask
  // (it was stalled, not drained) would only add to the cable's delay: it is skipped, and
  // `*skipped` says how much.
  bool TickForCable(std::chrono::steady_clock::time_point now, uint64_t frames,
                    const VoiceWaits& waits, uint64_t* skipped);
  // The monitor's, while the cable makes the ticks: the blocks a held-up cable thread owes, so
  // that the monitor never waits for the cable; skipped while the cable's thread is ticking.
  // `needed`: the frames the monitor's FIFO must hold now, its queue being at its floor.
  void TickForMonitor(std::chrono::steady_clock::time_point now, uint64_t needed);
  // The mixer thread's, while the cable is away: `new_block` at each 10 ms; a voice waits as long
  // as the cable's floor would let it from its block's making.
  bool TickAlone(std::chrono::steady_clock::time_point now, bool new_block);
  // Mixes every block still without its voice that can be; false while one waits.
  bool MixWaitingVoices(std::chrono::steady_clock::time_point now, std::optional<VoiceWaits> waits,
                        bool to_cable);
  // The caller holds tick_mutex_. A block made at `made`; a full ring first mixes its oldest
  // block's voice, which can wait no longer, for the cable when `to_cable`.
  void MakeClipBlock(std::chrono::steady_clock::time_point made,
                     std::chrono::steady_clock::time_point now, bool to_cable);
  void MixVoice(std::chrono::steady_clock::time_point now, bool to_cable);
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
  void LogRoadNotes();
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

  // Every tick takes it, for the clip.
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
  // Written by the ticks alone (under tick_mutex_), reset by a start.
  std::atomic<uint64_t> ticks_{0};
  std::atomic<int64_t> worst_tick_lateness_us_{0};
  std::atomic<int64_t> longest_tick_us_{0};
  ClipState clip_;
  std::thread voice_key_thread_;
  std::counting_semaphore<> voice_key_wake_{0};
  std::atomic<bool> voice_key_thread_stop_{false};
  // The start serial of a clip that played out, marked by the tick; 0 for none.
  std::atomic<uint64_t> ended_clip_serial_{0};
  std::atomic<bool> release_owed_{false};
  AudioRoadNotes microphone_notes_{kCaptureLabel, false};
  AudioRoadNotes mix_output_notes_{kMixOutputLabel, true};
  AudioRoadNotes monitor_notes_{kMonitorLabel, true};
  // The ticks' own. The cable's render thread makes them as the cable asks (the monitor's those
  // it owes while held up), or the mixer thread while the cable is away. Only audio threads take
  // tick_mutex_.
  // A cable that waits for a late microphone asks for every tick its queue is short of: room for
  // the largest queue's and two more (with 8, a queue grown to 95 ms forced the voice silent).
  static constexpr size_t kMostWaitingClipBlocks =
      kOutputQueue.most / std::chrono::milliseconds(10) + 2;
  struct TickBlocks {
    // Sized once: the ticks read and write them whole, never growing them.
    std::vector<float> microphone = std::vector<float>(960);
    std::vector<float> mix = std::vector<float>(960);
    // Blocks of the clip already on the monitor's way, oldest first, each waiting for its voice
    // to make the cable's mix, and when each was made.
    std::array<std::vector<float>, kMostWaitingClipBlocks> clips;
    std::array<std::chrono::steady_clock::time_point, kMostWaitingClipBlocks> made_at;
    size_t first = 0;
    size_t waiting = 0;
    // Since when the oldest block's voice waits for a late microphone; none while it does not.
    std::optional<std::chrono::steady_clock::time_point> waiting_since;
    // The time of the newest block: for the monitor, what the ticks owe by now.
    std::optional<std::chrono::steady_clock::time_point> last_made;
    TickBlocks() {
      for (std::vector<float>& clip : clips) clip.assign(960, 0.0f);
    }
  };
  std::mutex tick_mutex_;
  TickBlocks tick_;
  // Read by one audio thread at a time; a start resets them while no thread runs.
  PacedFifoReader microphone_reader_{kFifoMargin, DriftFollower::Start::kWithBacklog};
  PacedFifoReader monitor_reader_{kFifoMargin, DriftFollower::Start::kFresh};
  // The microphone's breaks as the ticks find them; under tick_mutex_.
  BreakEpisode microphone_episode_{&microphone_notes_};
  // Noted by the capture thread, asked by the ticks.
  StallDetector microphone_stall_{kMicrophoneLateness};
  // Whether the cable's render thread makes the ticks; set and cleared by it under tick_mutex_.
  std::atomic<bool> cable_ticks_{false};
  // While it makes them, when the cable's device last asked for audio (the steady clock's count):
  // the sound server ran then. Written by the cable's thread, read by the microphone's.
  std::atomic<std::chrono::steady_clock::rep> cable_asked_at_{0};
  // Wakes the mixer thread when the cable goes.
  std::counting_semaphore<> mixer_wake_{0};
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
