#pragma once

#include <initializer_list>
#include <memory>
#include <string>
#include <vector>

#include "integration/mixer_api_fixture.h"
#include "support/break_beside_stop.h"
#include "support/machine_stall_probe.h"
#include "support/timed_recording.h"
#include "support/tone_continuity.h"

namespace zennic::testing {

// The built program heard on its devices while a probe notes the stops of the cores under the
// threads of the cable's and the monitor's roads, so that a break the machine made can be told
// from one the engine made.
class ListeningFixture : public MixerApiFixture {
 protected:
  // Starts the program and follows its threads and the audio server's.
  void StartFollowedProgram();

  // A number of the status, by its path under "mixer"; NaN when it is not there.
  static double StatusNumber(const JsonValue& status, std::initializer_list<const char*> path);
  // The queue the device the status names `status_device` ("output", "monitor") keeps.
  std::unique_ptr<QueuePoll> PollQueue(const char* status_device) const;

  // Every break in `breaks` but one the machine caused fails the test, named by `what`; those
  // the machine caused are printed. Returns the breaks heard.
  std::vector<BreakBesideStop> ExpectNoBreakButTheMachines(const std::string& what, const ToneBreaks& breaks,
                                     const TimedRecording& recording, const Road& road,
                                     const QueuePoll& queue) const;

  MachineStallProbe probe_;
};

}  // namespace zennic::testing
