#pragma once

#include <chrono>
#include <thread>

namespace zennic::testing {

// Polls until the condition holds; false when it still does not after `limit`. For waiting on
// other threads and processes, not for measuring them.
template <typename Condition>
bool Eventually(Condition condition, std::chrono::milliseconds limit = std::chrono::seconds(5)) {
  auto deadline = std::chrono::steady_clock::now() + limit;
  while (!condition()) {
    if (std::chrono::steady_clock::now() > deadline) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  return true;
}

}  // namespace zennic::testing
