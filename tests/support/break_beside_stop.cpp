#include "support/break_beside_stop.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <limits>
#include <string_view>

namespace zennic::testing {
namespace {

using Clock = std::chrono::steady_clock;

constexpr auto kPollPause = std::chrono::milliseconds(100);
// How far a break's place on the steady clock may stray: the recording places its frames when the
// sink rendered them (up to its lead early), and the probe sees a stop only as its nap ends.
constexpr auto kPlacementSlack = std::chrono::milliseconds(10);
// Stops of a road's threads closer one after another than the probe's nap are one: it cannot tell
// them apart.
constexpr auto kCatchUpTime = std::chrono::milliseconds(2);

Clock::duration Milliseconds(double ms) {
  return std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double, std::milli>(ms));
}

// A period of the test microphone that came late: when, and how late it was written and how
// much of the pipe the server had left unread.
struct LateMicrophonePeriod {
  Clock::time_point at;
  double written_late_ms;
  double unread_ms;
};

// The folder of the private server PULSE_SERVER names (scripts/virtual-audio), where it keeps
// its process id and its microphone's; empty for any other server.
std::string ServerFolder() {
  const char* server = std::getenv("PULSE_SERVER");
  constexpr std::string_view kPrefix = "unix:", kSocket = "/native";
  std::string_view address = server != nullptr ? server : "";
  if (!address.starts_with(kPrefix) || !address.ends_with(kSocket)) return {};
  return std::string(
      address.substr(kPrefix.size(), address.size() - kPrefix.size() - kSocket.size()));
}

// The feeder's notes in the server's folder; none where it keeps none.
std::vector<LateMicrophonePeriod> ReadLateMicrophonePeriods() {
  std::vector<LateMicrophonePeriod> periods;
  const std::string folder = ServerFolder();
  if (folder.empty()) return periods;
  std::ifstream notes(folder + "/microphone.late");
  double seconds = 0;
  LateMicrophonePeriod period{};
  while (notes >> seconds >> period.written_late_ms >> period.unread_ms) {
    // The feeder's monotonic clock is the steady clock's.
    period.at = Clock::time_point(Milliseconds(seconds * 1000.0));
    periods.push_back(period);
  }
  return periods;
}

// The longest run of stops, one after another, over [from, to] into `beside`: of the cores
// `threads` were on, and of the test microphone where it came late (`late`, for a break of the
// voice alone); its span and the threads under its stops.
void LayBesideRoadStops(const MachineStallProbe& probe, const std::vector<std::string>& threads,
                        const std::vector<LateMicrophonePeriod>& late, Clock::time_point from,
                        Clock::time_point to, BreakBesideStop* beside) {
  struct Under {
    MachineStallProbe::Stop stop;
    Clock::time_point began;
    const std::string* thread;
  };
  static const std::string kTestMicrophone = "the test microphone";
  std::vector<Under> stops;
  for (const std::string& thread : threads) {
    for (const MachineStallProbe::Stop& stop : probe.StopsUnder(thread, from, to)) {
      stops.push_back({stop, stop.to - Milliseconds(stop.milliseconds), &thread});
    }
  }
  // A period written late held the microphone back as a stop of its feeder would.
  for (const LateMicrophonePeriod& period : late) {
    if (period.at < from || period.at > to) continue;
    const MachineStallProbe::Stop stop{0, period.at - Milliseconds(period.written_late_ms),
                                       period.at, period.written_late_ms};
    stops.push_back({stop, stop.from, &kTestMicrophone});
  }
  std::sort(stops.begin(), stops.end(),
            [](const Under& a, const Under& b) { return a.began < b.began; });
  for (size_t first = 0; first < stops.size();) {
    MachineStallProbe::Stop run = stops[first].stop;
    const Clock::time_point began = stops[first].began;
    std::string under = *stops[first].thread;
    size_t next = first + 1;
    for (; next < stops.size() && stops[next].began <= run.to + kCatchUpTime; ++next) {
      const Under& joined = stops[next];
      if (under.find(*joined.thread) == std::string::npos) under += " and " + *joined.thread;
      run.to = std::max(run.to, joined.stop.to);
    }
    run.milliseconds = std::chrono::duration<double, std::milli>(run.to - began).count();
    if (!beside->stop || run.milliseconds > beside->stop->milliseconds) {
      beside->stop = run;
      beside->thread = under;
    }
    first = next;
  }
}

}  // namespace

std::vector<std::string> Road::AllThreads() const {
  std::vector<std::string> all = threads;
  all.insert(all.end(), voice_threads.begin(), voice_threads.end());
  return all;
}

void FollowAudioServer(MachineStallProbe* probe, const std::vector<std::string>& names) {
  const std::string folder = ServerFolder();
  if (folder.empty()) return;
  for (const char* file : {"/pid", "/microphone.pid"}) {
    pid_t pid = 0;
    if (std::ifstream(folder + file) >> pid) probe->FollowThreads(pid, names);
  }
}

QueuePoll::QueuePoll(std::function<double()> read_ms) : read_ms_(std::move(read_ms)) {
  thread_ = std::thread([this] {
    while (!ending_.load()) {
      double ms = read_ms_();
      {
        std::lock_guard lock(mutex_);
        readings_.emplace_back(Clock::now(), ms);
      }
      std::this_thread::sleep_for(kPollPause);
    }
  });
}

QueuePoll::~QueuePoll() { Stop(); }

void QueuePoll::Stop() {
  ending_ = true;
  if (thread_.joinable()) thread_.join();
}

double QueuePoll::At(Clock::time_point at) const {
  std::lock_guard lock(mutex_);
  double ms = std::numeric_limits<double>::quiet_NaN();
  for (const auto& [when, reading] : readings_) {
    if (when >= at) break;
    ms = reading;
  }
  return ms;
}

double BreakBesideStop::StopCoveredMs() const {
  return queue_ms - (voice_alone ? kVoiceWaitShortOfQueueMs : kServerLeadMs);
}

bool BreakBesideStop::MachineCaused() const {
  return stop && stop->milliseconds > StopCoveredMs() &&
         (heard.to_seconds - heard.from_seconds) * 1000.0 <= stop->milliseconds + queue_ms;
}

std::string BreakBesideStop::Describe() const {
  char microphone[160] = "";
  if (microphone_written_late_ms > 0 || microphone_unread_ms > 0) {
    std::snprintf(microphone, sizeof microphone,
                  " (the test microphone then: written up to %.0f ms late, up to %.0f ms of it "
                  "unread by the server)",
                  microphone_written_late_ms, microphone_unread_ms);
  }
  char text[640];
  if (stop) {
    std::snprintf(text, sizeof text,
                  "%s; the road stood still %.0f ms under %s while the queue was %.0f ms (less "
                  "%s, %.0f ms; the longest stop of any core then: %.0f ms): %s",
                  heard.Describe().c_str(), stop->milliseconds, thread.c_str(),
                  queue_ms, voice_alone ? "what the voice cannot wait" : "the server's lead",
                  StopCoveredMs(), longest_stop_of_any_core_ms,
                  MachineCaused()                          ? "set aside, the machine's"
                  : stop->milliseconds > StopCoveredMs() ? "not set aside, being longer than "
                                                             "the stop and the queue"
                                                           : "not set aside");
  } else {
    std::snprintf(text, sizeof text,
                  "%s; no core its threads were on stopped, the queue %.0f ms (the longest stop of "
                  "any core then: %.0f ms): not set aside",
                  heard.Describe().c_str(), queue_ms, longest_stop_of_any_core_ms);
  }
  return text + std::string(microphone);
}

std::vector<BreakBesideStop> LayBesideStops(const ToneBreaks& breaks,
                                            const TimedRecording& recording, const Road& road,
                                            const MachineStallProbe& probe,
                                            const QueuePoll& queue) {
  std::vector<MachineStallProbe::Stop> every_stop = probe.StopsOver(0.0);
  const std::vector<LateMicrophonePeriod> late_microphone = ReadLateMicrophonePeriods();
  std::vector<BreakBesideStop> laid;
  for (const HeardBreak& heard : HeardBreaks(breaks)) {
    BreakBesideStop beside;
    beside.heard = heard;
    Clock::time_point began = recording.TimeOf(heard.from_seconds);
    beside.queue_ms = queue.At(began);
    // A stop of the writer makes a break once the queue it left has played out; an unknown queue
    // is looked for over a second.
    Clock::time_point from =
        began - Milliseconds(std::isnan(beside.queue_ms) ? 1000.0 : beside.queue_ms) -
        kPlacementSlack;
    Clock::time_point to = recording.TimeOf(heard.to_seconds) + kPlacementSlack;
    beside.voice_alone =
        road.voice_hz > 0 &&
        (breaks.frequencies == std::vector<double>{road.voice_hz} ||
         (heard.missing_tones == std::vector<double>{road.voice_hz} && heard.silent_ms == 0));
    LayBesideRoadStops(probe, beside.voice_alone ? road.AllThreads() : road.threads,
                       beside.voice_alone && road.microphone_late_by_machine
                           ? late_microphone
                           : std::vector<LateMicrophonePeriod>(),
                       from, to, &beside);
    // A stop is judged against the queue kept when it came: the queue grows after the break a
    // stop makes, and a break late in the same stop (the voice realigned at its end) would
    // otherwise be held to the grown queue.
    if (beside.stop) {
      const double then = queue.At(beside.stop->to - Milliseconds(beside.stop->milliseconds));
      if (!std::isnan(then)) beside.queue_ms = then;
    }
    for (const MachineStallProbe::Stop& stop : every_stop) {
      if (stop.to >= from && stop.from <= to) {
        beside.longest_stop_of_any_core_ms =
            std::max(beside.longest_stop_of_any_core_ms, stop.milliseconds);
      }
    }
    for (const LateMicrophonePeriod& period : late_microphone) {
      if (period.at >= from && period.at <= to) {
        beside.microphone_written_late_ms =
            std::max(beside.microphone_written_late_ms, period.written_late_ms);
        beside.microphone_unread_ms = std::max(beside.microphone_unread_ms, period.unread_ms);
      }
    }
    laid.push_back(beside);
  }
  return laid;
}

}  // namespace zennic::testing
