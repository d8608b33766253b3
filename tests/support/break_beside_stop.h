#pragma once

#include <atomic>
#include <functional>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "support/machine_stall_probe.h"
#include "support/timed_recording.h"
#include "support/tone_continuity.h"

namespace zennic::testing {

// The server's sink renders up to a device period ahead of its clock, taking that much of each
// stream's queue at once, so a queue covers a stop of its writer that much shorter. Measured on
// PulseAudio 16.1 here while the engine played into "CABLE Input" (pactl list sinks, 150 reads):
// the sink's latency, how far it had rendered ahead, 0.1 to 5.0 ms, median 2.9, "configured
// 5000 usec".
constexpr double kServerLeadMs = 5.0;
// The voice is waited for only down to the cable's floor (two of its 5 ms periods: its next
// request and the server's lead), from a tick made at the cable's first pass (5 ms apart) after
// its queue fell under the target; and the test microphone hands over 10 ms at a time, which a
// tick may already be waiting for when its road stops: a stop breaks the voice once it outlasts
// the queue less all three (a 21 ms stop broke it with the queue at 44 ms).
constexpr double kVoiceWaitShortOfQueueMs = 25.0;

// The threads whose stops reach a device's audio, by name. Those that carry all of it: the
// engine's own thread for the device, the loop of its connection to the server, and the server's
// main loop (PulseAudio's), which moves every stream's audio between its socket and the device.
// Those that carry the voice alone, whose stops can break the voice and nothing else: the
// engine's for the microphone, and the test microphone's sound card, the feeder that writes its
// periods and the server's thread that reads them.
struct Road {
  std::vector<std::string> threads;
  std::vector<std::string> voice_threads;
  double voice_hz = 0;  // the voice's tone; 0 where the voice does not ride on this road
  // Whether the test microphone's late periods are the machine's; not where the test holds it.
  bool microphone_late_by_machine = true;

  std::vector<std::string> AllThreads() const;
};
inline const Road kCableRoad = {{"zennic-cable", "pulse-cable", "pulseaudio"},
                                {"zennic-capture", "pulse-capture", "pipe-source", "python3"},
                                440.0};
inline const Road kMonitorRoad = {{"zennic-monitor", "pulse-monitor", "pulseaudio"}, {}, 0.0};

// From now on `probe` follows the threads named `names` of the audio server PULSE_SERVER names and
// of its test microphone's feeder (scripts/virtual-audio), where it keeps their process ids.
void FollowAudioServer(MachineStallProbe* probe, const std::vector<std::string>& names);

// What an output kept queued on its device as the engine reports it, read every 100 ms on a
// thread of its own (`read_ms` gives NaN when it cannot tell).
class QueuePoll {
 public:
  using Clock = std::chrono::steady_clock;

  explicit QueuePoll(std::function<double()> read_ms);
  ~QueuePoll();
  QueuePoll(const QueuePoll&) = delete;
  QueuePoll& operator=(const QueuePoll&) = delete;

  // Reads no more; what was read stays.
  void Stop();
  // The queue read last before `at`; NaN when none was.
  double At(Clock::time_point at) const;

 private:
  std::function<double()> read_ms_;
  std::atomic<bool> ending_{false};
  mutable std::mutex mutex_;
  std::vector<std::pair<Clock::time_point, double>> readings_;
  std::thread thread_;
};

// A break heard on a recording, beside the longest time around it that its road stood still (the
// stops of the cores its device's threads were on, one after another, and for the voice alone the
// test microphone's late periods), and the queue the engine kept as that came.
struct BreakBesideStop {
  HeardBreak heard;
  bool voice_alone = false;  // only the voice broke
  double queue_ms = 0;
  // From the first stop's start to the last one's end.
  std::optional<MachineStallProbe::Stop> stop;
  std::string thread;  // those on the stopped cores, and the test microphone where it came late
  double longest_stop_of_any_core_ms = 0;
  // How late the test microphone came around the break, as its feeder noted (scripts/
  // virtual-audio): written late by the feeder, or left unread in its pipe by the server.
  double microphone_written_late_ms = 0;
  double microphone_unread_ms = 0;

  // The road stood still longer than the queue less the server's lead (for the voice alone, less
  // what it cannot wait of the queue): no queue of that length survives it, and the machine
  // broke the audio, not the engine. Only as long as the stop and the queue that played out
  // before it: what is missing beyond is the engine's, which did not come back.
  bool MachineCaused() const;
  // The longest stop of the road that the queue covers.
  double StopCoveredMs() const;
  std::string Describe() const;
};

// Each break `breaks` found in `recording`, laid beside the stops of the cores the threads of
// `road` ran on from a queue's length before it to its end: of its voice threads only where the
// voice alone broke (a recording of the voice alone, or a gap of its tone under the others).
std::vector<BreakBesideStop> LayBesideStops(const ToneBreaks& breaks,
                                            const TimedRecording& recording, const Road& road,
                                            const MachineStallProbe& probe,
                                            const QueuePoll& queue);

}  // namespace zennic::testing
