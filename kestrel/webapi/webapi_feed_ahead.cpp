// The feeds' read-ahead thread (see webapi_feed_ahead.h).
#include "webapi/webapi_feed_ahead.h"

#include <condition_variable>
#include <cstdint>
#include <deque>
#include <mutex>

#include "nmc/lm_dmscp_ahead.h"
#include "nmc/lm_nmc_internal.h"

namespace {

// At most this many pages wait: one per kept feed context is plenty.
constexpr size_t kQueued = 8;

// One thread for every feed walk: pages are short requests, and one at a
// time keeps a busy page from loading its server with parallel Browses.
// g_lock guards the queue, the thread record, the stopping mark and the
// generation: a thread the stop's bound left behind sees the generation
// move on and ends instead of serving beside the next one.
std::mutex g_lock;
std::condition_variable g_wake;
std::deque<std::shared_ptr<nmc_dms_ahead>> g_queue;
nmc_thread *g_thread = nullptr;
bool g_stopping = false;
uintptr_t g_generation = 0;

void run(void *argument) {
  const uintptr_t generation = reinterpret_cast<uintptr_t>(argument);
  for (;;) {
    std::shared_ptr<nmc_dms_ahead> ahead;
    {
      std::unique_lock<std::mutex> hold(g_lock);
      g_wake.wait(hold, [&] { return g_stopping || generation != g_generation || !g_queue.empty(); });
      if (g_stopping || generation != g_generation) return;
      ahead = std::move(g_queue.front());
      g_queue.pop_front();
    }
    nmc_dms_ahead_fetch(*ahead);
  }
}

}  // namespace

bool webapi_feed_ahead_post(std::shared_ptr<nmc_dms_ahead> ahead) {
  if (!ahead) return false;
  std::shared_ptr<nmc_dms_ahead> pushed_out;
  {
    std::lock_guard<std::mutex> hold(g_lock);
    if (g_thread == nullptr && !g_stopping) {
      g_thread = nmc_thread_start(run, reinterpret_cast<void *>(g_generation), "NMC Feed Read-ahead");
    }
    if (g_thread == nullptr || g_stopping) {
      pushed_out = std::move(ahead);
    } else {
      g_queue.push_back(std::move(ahead));
      if (g_queue.size() > kQueued) {
        pushed_out = std::move(g_queue.front());
        g_queue.pop_front();
      }
    }
  }
  g_wake.notify_one();
  if (pushed_out) nmc_dms_ahead_cancel(*pushed_out);
  return true;
}

void webapi_feed_ahead_stop(void) {
  std::deque<std::shared_ptr<nmc_dms_ahead>> queued;
  nmc_thread *thread = nullptr;
  {
    std::lock_guard<std::mutex> hold(g_lock);
    g_stopping = true;
    queued.swap(g_queue);
    thread = g_thread;
    g_thread = nullptr;
    ++g_generation;
  }
  g_wake.notify_all();
  for (const auto &ahead : queued) nmc_dms_ahead_cancel(*ahead);
  if (thread != nullptr) nmc_thread_join_bounded(thread, NMC_THREAD_JOIN_BOUND_MS);
  std::lock_guard<std::mutex> hold(g_lock);
  g_stopping = false;
}
