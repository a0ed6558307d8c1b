#include "support_wait.h"

#include <chrono>
#include <thread>

namespace test_support {

bool wait_until(const std::function<bool()> &pred, int ms, int step_ms) {
  const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
  while (std::chrono::steady_clock::now() < end) {
    if (pred()) return true;
    std::this_thread::sleep_for(std::chrono::milliseconds(step_ms));
  }
  return pred();
}

}  // namespace test_support
