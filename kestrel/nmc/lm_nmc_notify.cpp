// The notification queues of both sides and the notifier loop they feed.
#include "nmc/lm_nmc_notify.h"

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <deque>
#include <mutex>

#include "base/upnp_log.h"
#include "base/upnp_thread.h"
#include "nmc/lm_nmc_devices.h"
#include "nmc/lm_nmc_internal.h"
#include "ssdp/upnp_ssdp.h"

namespace {

struct Queue {
  // Guards items and open; the notifier waits on `ready` for new items.
  std::mutex lock;
  std::condition_variable ready;
  std::deque<nmc_notification> items;
  bool open = false;
};

Queue g_queues[2];
// The stop of the last run bumps it; read by notifiers at every step.
std::atomic<uint64_t> g_generation{1};
std::atomic<int> g_update_mode{NMC_MODE_KEYWORD};
std::atomic<int> g_list_mode{NMC_MODE_KEYWORD};
std::atomic<unsigned int> g_start_delay_ms{1500};
// Started and joined by the start-up and the terminator only.
nmc_thread *g_threads[2] = {nullptr, nullptr};

const char *const k_names[2] = {"NMC Server Context Notifier", "NMC Renderer Context Notifier"};

bool keep_going(uint64_t generation) {
  return !lm_nmc_is_terminating() && g_generation.load() == generation;
}

struct NotifierArgument {
  int side;
  uint64_t generation;
};
NotifierArgument g_arguments[2];

void notifier(void *argument) {
  const NotifierArgument *arg = static_cast<const NotifierArgument *>(argument);
  const int side = arg->side;
  const uint64_t generation = arg->generation;
  Queue &queue = g_queues[side];
  for (unsigned int slept = 0; slept < g_start_delay_ms.load() && keep_going(generation); slept += 500) {
    Sleep(g_start_delay_ms.load() - slept < 500 ? g_start_delay_ms.load() - slept : 500);
  }
  while (keep_going(generation)) {
    nmc_notification notification;
    {
      std::unique_lock<std::mutex> hold(queue.lock);
      if (queue.items.empty()) {
        queue.ready.wait_for(hold, std::chrono::milliseconds(250));
        continue;
      }
      notification = std::move(queue.items.front());
      queue.items.pop_front();
    }
    if (side == NMC_SIDE_SERVER) {
      nmc_deliver_server(notification, generation);
    } else {
      nmc_deliver_renderer(notification, generation);
    }
  }
}

}  // namespace

uint64_t nmc_notify_generation(void) { return g_generation.load(); }
bool nmc_notify_current(uint64_t generation) { return keep_going(generation); }

bool nmc_notify_push(int side, const nmc_notification &notification) {
  Queue &queue = g_queues[side == NMC_SIDE_RENDERER ? 1 : 0];
  {
    std::lock_guard<std::mutex> hold(queue.lock);
    if (!queue.open) return false;
    try {
      queue.items.push_back(notification);
    } catch (...) {
      upnp_log_impl(LOG_LEVEL_ERROR, LOG_SYSTEM, "nmc_notify_push", "Out of memory adding network event");
      return false;
    }
  }
  queue.ready.notify_one();
  return true;
}

size_t nmc_notify_pending(int side) {
  Queue &queue = g_queues[side == NMC_SIDE_RENDERER ? 1 : 0];
  std::lock_guard<std::mutex> hold(queue.lock);
  return queue.items.size();
}

int nmc_update_mode(void) { return g_update_mode.load(); }
void nmc_set_update_mode(int mode) { g_update_mode.store(mode); }
int nmc_list_mode(void) { return g_list_mode.load(); }
void nmc_set_list_mode(int mode) { g_list_mode.store(mode); }
void nmc_notifiers_set_start_delay(unsigned int ms) { g_start_delay_ms.store(ms); }

void nmc_notifiers_start(void) {
  nmc_devices_init();
  uint64_t generation = g_generation.load();
  for (int side = 0; side < 2; ++side) {
    if (side == NMC_SIDE_SERVER && !upnp_ssdp_search_dms_is_enabled()) continue;
    {
      std::lock_guard<std::mutex> hold(g_queues[side].lock);
      g_queues[side].items.clear();
      g_queues[side].open = true;
    }
    g_arguments[side] = NotifierArgument{side, generation};
    g_threads[side] = nmc_thread_start(notifier, &g_arguments[side], k_names[side]);
  }
}

void nmc_notifiers_stop(void) {
  g_generation.fetch_add(1);
  // One bound for both notifiers together: two stuck in device calls cost
  // the stop the bound once, not twice.
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(NMC_THREAD_JOIN_BOUND_MS);
  for (int side = 0; side < 2; ++side) g_queues[side].ready.notify_all();
  for (int side = 0; side < 2; ++side) {
    auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
    nmc_thread_join_bounded(g_threads[side], left.count() > 0 ? static_cast<unsigned int>(left.count()) : 0u);
    g_threads[side] = nullptr;
    std::lock_guard<std::mutex> hold(g_queues[side].lock);
    g_queues[side].items.clear();
    g_queues[side].open = false;
  }
  nmc_devices_exit();
}
