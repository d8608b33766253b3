#pragma once

#include <memory>
#include <string>

#include "support/program_process.h"
#include "support/temp_folder.h"

namespace zennic::testing {

// An X server of the test's own (Xvfb) that the test may take down and bring back on the same
// display, as a session whose display restarts. Fails the test when it cannot start.
class PrivateXDisplay {
 public:
  PrivateXDisplay();
  ~PrivateXDisplay();
  PrivateXDisplay(const PrivateXDisplay&) = delete;
  PrivateXDisplay& operator=(const PrivateXDisplay&) = delete;

  // ":<number>", for DISPLAY.
  std::string name() const { return ":" + std::to_string(number_); }
  // Ends the server; its clients lose their connections.
  void Stop();
  // Starts it again on the same display; true once it takes connections.
  bool Restart();

 private:
  bool StartOn(int number);

  TempFolder folder_;
  std::unique_ptr<ProgramProcess> server_;
  int number_ = -1;
};

}  // namespace zennic::testing
