#include "support/private_audio_server.h"

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>
#include <thread>

#include "support/test_environment.h"

namespace zennic::testing {
namespace {

// Runs a shell command; its standard output and exit status.
std::string RunCommand(const std::string& command, int* status) {
  std::string output;
  FILE* pipe = ::popen(command.c_str(), "r");
  if (pipe == nullptr) {
    *status = -1;
    return output;
  }
  char buffer[4096];
  size_t read = 0;
  while ((read = std::fread(buffer, 1, sizeof buffer, pipe)) > 0) output.append(buffer, read);
  int closed = ::pclose(pipe);
  *status = WIFEXITED(closed) ? WEXITSTATUS(closed) : -1;
  while (!output.empty() && output.back() == '\n') output.pop_back();
  return output;
}

std::string Quoted(const std::string& text) {
  std::string quoted = "'";
  for (char c : text) quoted += c == '\'' ? std::string("'\\''") : std::string(1, c);
  return quoted + "'";
}

}  // namespace

PrivateAudioServer::PrivateAudioServer() {
  if (const char* previous = std::getenv("PULSE_SERVER")) {
    had_previous_server_ = true;
    previous_server_ = previous;
  }
  Start();
}

void PrivateAudioServer::Start() {
  int status = 0;
  address_ = RunCommand(Quoted(RequiredEnvironment("ZENNIC_VIRTUAL_AUDIO")) + " start " +
                            Quoted(folder_.path().string()),
                        &status);
  if (status != 0 || address_.empty()) {
    ADD_FAILURE() << "the private audio server did not start: " << address_;
    return;
  }
  ::setenv("PULSE_SERVER", address_.c_str(), 1);
}

void PrivateAudioServer::Stop() const {
  if (const char* script = std::getenv("ZENNIC_VIRTUAL_AUDIO")) {
    int status = 0;
    RunCommand(Quoted(script) + " stop " + Quoted(folder_.path().string()), &status);
  }
}

PrivateAudioServer::~PrivateAudioServer() {
  Stop();
  if (had_previous_server_) {
    ::setenv("PULSE_SERVER", previous_server_.c_str(), 1);
  } else {
    ::unsetenv("PULSE_SERVER");
  }
}

std::string PrivateAudioServer::Pactl(const std::string& arguments) const {
  int status = 0;
  std::string output =
      RunCommand("PULSE_SERVER=" + Quoted(address_) + " pactl " + arguments + " 2>&1", &status);
  EXPECT_EQ(status, 0) << "pactl " << arguments << ": " << output;
  return output;
}

std::vector<float> PrivateAudioServer::Record(const std::string& source, double seconds) const {
  TempFolder folder;
  auto bytes = static_cast<long>(seconds * 48000) * 8;
  std::string file = (folder / "recording.raw").string();
  int status = 0;
  RunCommand("PULSE_SERVER=" + Quoted(address_) +
                 " parec --latency-msec=20 --format=float32le --rate=48000 --channels=2 --raw "
                 "--device=" + Quoted(source) + " | head -c " + std::to_string(bytes) + " > " +
                 Quoted(file),
             &status);
  EXPECT_EQ(status, 0) << "recording " << source;
  std::string raw = ReadFile(file);
  std::vector<float> samples(raw.size() / sizeof(float));
  std::memcpy(samples.data(), raw.data(), samples.size() * sizeof(float));
  return samples;
}

void PrivateAudioServer::HoldStill(std::chrono::milliseconds duration) const {
  HoldProcessStill("pid", duration);
}

void PrivateAudioServer::HoldMicrophoneStill(std::chrono::milliseconds duration) const {
  HoldProcessStill("microphone.pid", duration);
}

void PrivateAudioServer::HoldProcessStill(const char* pid_file,
                                          std::chrono::milliseconds duration) const {
  pid_t pid = 0;
  if (!(std::ifstream(folder_ / pid_file) >> pid) || pid <= 0) {
    ADD_FAILURE() << "the private audio server's folder has no " << pid_file;
    return;
  }
  ::kill(pid, SIGSTOP);
  std::this_thread::sleep_for(duration);
  ::kill(pid, SIGCONT);
}

std::string PrivateAudioServer::LoadModule(const std::string& arguments) const {
  return Pactl("load-module " + arguments);
}

void PrivateAudioServer::AddCable(const std::string& sink, const std::string& source,
                                  const std::string& input_name, const std::string& output_name,
                                  const std::string& sink_options) const {
  int status = 0;
  std::string output = RunCommand(
      Quoted(RequiredEnvironment("ZENNIC_VIRTUAL_AUDIO")) + " add-cable " +
          Quoted(folder_.path().string()) + " " + Quoted(sink) + " " + Quoted(source) + " " +
          Quoted(input_name) + " " + Quoted(output_name) + " " + sink_options + " 2>&1",
      &status);
  EXPECT_EQ(status, 0) << "add-cable " << input_name << ": " << output;
}

void PrivateAudioServer::UnloadModuleWith(const std::string& text) const {
  std::istringstream modules(Pactl("list short modules"));
  for (std::string line; std::getline(modules, line);) {
    if (line.find(text) != std::string::npos) {
      Pactl("unload-module " + line.substr(0, line.find('\t')));
      return;
    }
  }
  ADD_FAILURE() << "no module with " << text;
}

}  // namespace zennic::testing
