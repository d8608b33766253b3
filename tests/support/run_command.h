#pragma once

#include <string>
#include <vector>

namespace zennic::testing {

// Runs a program found on PATH with the given arguments and waits for it. Returns its exit
// code (-1 when it could not be started); its standard output and error go to `output` when
// given.
int RunCommand(const std::vector<std::string>& arguments, std::string* output = nullptr);

// Runs ffmpeg quietly with the arguments; fails the test when it fails.
void RunFfmpeg(const std::vector<std::string>& arguments);

}  // namespace zennic::testing
