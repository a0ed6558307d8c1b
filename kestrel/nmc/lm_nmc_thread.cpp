// Controller threads that the stop waits for with a bound: a thread that
// does not end in time is detached and frees its own record when it ends.
#include <atomic>
#include <condition_variable>
#include <chrono>
#include <mutex>
#include <new>

#include "base/upnp_log.h"
#include "base/upnp_thread.h"
#include "nmc/lm_nmc_internal.h"

struct nmc_thread {
  void (*routine)(void *);
  void *argument;
  const char *name;
  upnp_thread_t handle;
  // 0 running, 1 ended, 2 abandoned by a joiner that gave up: whoever moves
  // it second (the thread ending, or the joiner) is the one that frees.
  std::atomic<int> phase{0};
  std::mutex mutex;
  std::condition_variable ended_signal;
};

namespace {
void *trampoline(void *argument) {
  nmc_thread *thread = static_cast<nmc_thread *>(argument);
  upnp_init_thread(thread->name);
  thread->routine(thread->argument);
  int expected = 0;
  {
    std::lock_guard<std::mutex> hold(thread->mutex);
    if (thread->phase.compare_exchange_strong(expected, 1)) {
      thread->ended_signal.notify_all();
      return nullptr;
    }
  }
  // Abandoned: nobody joins or frees this record any more.
  delete thread;
  return nullptr;
}
}  // namespace

nmc_thread *nmc_thread_start(void (*routine)(void *), void *argument, const char *name) {
  nmc_thread *thread = new (std::nothrow) nmc_thread;
  if (thread == nullptr) return nullptr;
  thread->routine = routine;
  thread->argument = argument;
  thread->name = name;
  thread->handle = upnp_start_joinable_thread(trampoline, thread, UPNP_THREAD_LEVEL_DEFAULT);
  if (thread->handle == UPNP_NO_THREAD) {
    upnp_log_impl(LOG_LEVEL_ERROR, LOG_SYSTEM, "nmc_thread_start", "NMC: Cannot start thread %s", name);
    delete thread;
    return nullptr;
  }
  return thread;
}

bool nmc_thread_ended(const nmc_thread *thread) { return thread->phase.load() == 1; }

bool nmc_thread_join_bounded(nmc_thread *thread, unsigned int timeout_ms) {
  if (thread == nullptr) return true;
  {
    std::unique_lock<std::mutex> hold(thread->mutex);
    thread->ended_signal.wait_for(hold, std::chrono::milliseconds(timeout_ms),
                                  [thread] { return thread->phase.load() == 1; });
    int expected = 0;
    if (thread->phase.compare_exchange_strong(expected, 2)) {
      upnp_log_impl(LOG_LEVEL_ERROR, LOG_SYSTEM, "nmc_thread_join_bounded",
                    "NMC: Thread %s did not end within %u ms; left behind", thread->name, timeout_ms);
      pthread_detach(thread->handle);
      return false;
    }
  }
  upnp_join_thread(thread->handle, nullptr);
  delete thread;
  return true;
}
