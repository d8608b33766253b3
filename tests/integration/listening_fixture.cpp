#include "integration/listening_fixture.h"

#include <cstdio>
#include <limits>

namespace zennic::testing {

void ListeningFixture::StartFollowedProgram() {
  StartProgram();
  if (program_ == nullptr) return;
  std::vector<std::string> threads = kCableRoad.AllThreads();
  threads.insert(threads.end(), kMonitorRoad.threads.begin(), kMonitorRoad.threads.end());
  probe_.FollowThreads(program_->pid(), threads);
  FollowAudioServer(&probe_, threads);
}

double ListeningFixture::StatusNumber(const JsonValue& status,
                                      std::initializer_list<const char*> path) {
  const JsonValue* value = status.Find("mixer");
  for (const char* key : path) value = value != nullptr ? value->Find(key) : nullptr;
  if (value == nullptr || value->type != JsonValue::Type::Number) {
    return std::numeric_limits<double>::quiet_NaN();
  }
  return value->number_value;
}

std::unique_ptr<QueuePoll> ListeningFixture::PollQueue(const char* status_device) const {
  return std::make_unique<QueuePoll>([this, status_device] {
    return StatusNumber(Post("/api/mixer/status").body, {"audio_road", status_device, "queue_ms"});
  });
}

std::vector<BreakBesideStop> ListeningFixture::ExpectNoBreakButTheMachines(
    const std::string& what, const ToneBreaks& breaks, const TimedRecording& recording,
    const Road& road, const QueuePoll& queue) const {
  std::vector<BreakBesideStop> heard = LayBesideStops(breaks, recording, road, probe_, queue);
  std::string engine_breaks;
  for (const BreakBesideStop& beside : heard) {
    if (beside.MachineCaused()) {
      std::printf("%s: a break the machine caused: %s\n", what.c_str(), beside.Describe().c_str());
    } else {
      engine_breaks += "\n  " + beside.Describe();
    }
  }
  EXPECT_TRUE(engine_breaks.empty()) << what << ":" << engine_breaks << EngineLog();
  return heard;
}

}  // namespace zennic::testing
