#include "unit/engine/private_x_display.h"

// gtest first: Xlib's macros (None, Bool) break its headers.
#include <gtest/gtest.h>
#include <X11/Xlib.h>
#include <signal.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <thread>

namespace zennic::testing {
namespace {

using namespace std::chrono_literals;

bool Answers(const std::string& name) {
  Display* display = XOpenDisplay(name.c_str());
  if (display == nullptr) return false;
  XCloseDisplay(display);
  return true;
}

}  // namespace

PrivateXDisplay::PrivateXDisplay() {
  // Numbers far above the shared test display's, spread by process so parallel tests differ.
  for (int attempt = 0; attempt < 50; ++attempt) {
    int number = 500 + static_cast<int>((::getpid() * 7 + attempt * 13) % 4000);
    if (std::filesystem::exists("/tmp/.X" + std::to_string(number) + "-lock")) continue;
    if (StartOn(number)) return;
  }
  ADD_FAILURE() << "no private X display could be started";
}

PrivateXDisplay::~PrivateXDisplay() { Stop(); }

void PrivateXDisplay::Stop() {
  if (server_ == nullptr) return;
  server_->Signal(SIGTERM);
  server_->WaitForExit(5s);
  server_.reset();
}

bool PrivateXDisplay::Restart() {
  Stop();
  return StartOn(number_);
}

bool PrivateXDisplay::StartOn(int number) {
  ProgramProcess::Options options;
  options.executable = "/usr/bin/Xvfb";
  // -noreset: a server that resets whenever its last client leaves refuses connections
  // meanwhile, and every check of whether it answers is such a client.
  options.arguments = {":" + std::to_string(number), "-nolisten", "tcp", "-noreset",
                       "-screen", "0", "640x480x24"};
  server_ = std::make_unique<ProgramProcess>(options, folder_.path());
  number_ = number;
  if (!server_->Start()) return false;
  for (int wait = 0; wait < 100; ++wait) {
    if (!server_->Running()) break;
    if (Answers(name())) return true;
    std::this_thread::sleep_for(50ms);
  }
  server_.reset();
  return false;
}

}  // namespace zennic::testing
