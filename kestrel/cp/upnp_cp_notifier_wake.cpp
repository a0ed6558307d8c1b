// The notifier's wait between rounds, ended early by a queued event.
#include "cp/upnp_cp_notifier_wake.h"

#include <chrono>
#include <condition_variable>
#include <mutex>

namespace {

// Guards `woken`: set by whoever queues work for the notifier, cleared by
// the notifier when its wait ends, so a wake that comes while it delivers
// is kept for its next wait.
std::mutex g_lock;
std::condition_variable g_woken_cv;
bool g_woken = false;

}  // namespace

void cp_notifier_wait(unsigned int ms) {
  std::unique_lock<std::mutex> hold(g_lock);
  g_woken_cv.wait_for(hold, std::chrono::milliseconds(ms), [] { return g_woken; });
  g_woken = false;
}

void cp_notifier_wake(void) {
  {
    std::lock_guard<std::mutex> hold(g_lock);
    g_woken = true;
  }
  g_woken_cv.notify_one();
}
