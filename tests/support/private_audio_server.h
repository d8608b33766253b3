#pragma once

#include <chrono>
#include <string>
#include <vector>

#include "support/temp_folder.h"

namespace zennic::testing {

// A PulseAudio server of the test's own, with the virtual devices of scripts/virtual-audio, for
// tests that change defaults or devices. While it lives it is this process's audio server
// (PULSE_SERVER), so the machine's shared server is never touched.
class PrivateAudioServer {
 public:
  PrivateAudioServer();
  ~PrivateAudioServer();
  PrivateAudioServer(const PrivateAudioServer&) = delete;
  PrivateAudioServer& operator=(const PrivateAudioServer&) = delete;

  const std::string& address() const { return address_; }

  // Runs pactl against this server and returns its output without the last line feed; a
  // failing command fails the test.
  std::string Pactl(const std::string& arguments) const;
  std::string DefaultSink() const { return Pactl("get-default-sink"); }
  std::string DefaultSource() const { return Pactl("get-default-source"); }
  // `seconds` of a source as 48,000 Hz stereo floats, recorded from now on.
  std::vector<float> Record(const std::string& source, double seconds) const;
  // Loads a module and returns its index.
  std::string LoadModule(const std::string& arguments) const;
  // Unloads the module whose arguments contain `text`.
  void UnloadModuleWith(const std::string& text) const;
  // Holds the server still for `duration` (SIGSTOP, then SIGCONT), as a stop of the core under
  // it would: nothing it carries moves meanwhile, and its devices catch up after.
  void HoldStill(std::chrono::milliseconds duration) const;
  // Holds its test microphone still for `duration`, as a sound card that stops delivering while
  // the server runs on; it then hands over what it held back at once.
  void HoldMicrophoneStill(std::chrono::milliseconds duration) const;
  // Ends the server as a crash or a restart of the user's session would, and starts it again on
  // the same folder with the same devices (scripts/virtual-audio stop and start).
  void Stop() const;
  void Start();
  // Adds a further virtual cable (scripts/virtual-audio add-cable): the sink, named `input_name`,
  // and the source `output_name` that carries it; `sink_options` such as "rate=44100 format=u8".
  void AddCable(const std::string& sink, const std::string& source, const std::string& input_name,
                const std::string& output_name, const std::string& sink_options = "") const;

 private:
  // SIGSTOP, then SIGCONT, to the process whose id the folder's `pid_file` keeps.
  void HoldProcessStill(const char* pid_file, std::chrono::milliseconds duration) const;

  TempFolder folder_;
  std::string address_;
  std::string previous_server_;
  bool had_previous_server_ = false;
};

}  // namespace zennic::testing
