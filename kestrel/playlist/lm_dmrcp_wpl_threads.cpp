// The running queue imports and exports: their "NMC WPL Handler" threads,
// the cap on how many run at once, and the controller's stop, which asks
// them to end and joins them with its bound.
//
// The registry's mutex guards the thread list, the running count and the
// stopping mark; the stop request is an atomic the thread bodies read
// between their steps.
#include <atomic>
#include <mutex>
#include <new>
#include <vector>

#include "base/upnp_log.h"
#include "nmc/lm_nmc_internal.h"
#include "playlist/lm_dmrcp_wpl_internal.h"

namespace {

struct wpl_entry {
  nmc_thread *thread = nullptr;
  wpl_transfer *transfer = nullptr;
  void (*body)(wpl_transfer *) = nullptr;
  std::atomic<bool> done{false};
};

std::mutex g_mutex;
bool g_stopping = false;
std::vector<wpl_entry *> g_entries;
std::atomic<bool> g_stop_request{false};

void routine(void *argument) {
  auto *entry = static_cast<wpl_entry *>(argument);
  entry->body(entry->transfer);
  delete entry->transfer;
  entry->transfer = nullptr;
  entry->done.store(true);
}

// Takes the entries whose threads have ended out of the list (their join is
// immediate). Call with the mutex held.
void reap_locked(std::vector<wpl_entry *> *ended) {
  for (auto it = g_entries.begin(); it != g_entries.end();) {
    if ((*it)->done.load() && nmc_thread_ended((*it)->thread)) {
      ended->push_back(*it);
      it = g_entries.erase(it);
    } else {
      ++it;
    }
  }
}

void join_all(const std::vector<wpl_entry *> &entries) {
  for (wpl_entry *entry : entries) {
    // A thread that outlives the bound is left behind with its entry.
    if (nmc_thread_join_bounded(entry->thread, NMC_THREAD_JOIN_BOUND_MS)) delete entry;
  }
}

}  // namespace

lm_nmc_result_t wpl_transfer_start(wpl_transfer *transfer, void (*body)(wpl_transfer *)) {
  auto *entry = new (std::nothrow) wpl_entry;
  if (entry == nullptr) return LM_NMC_OUT_OF_MEMORY;
  entry->transfer = transfer;
  entry->body = body;
  std::vector<wpl_entry *> ended;
  lm_nmc_result_t result = LM_NMC_OK;
  {
    std::lock_guard<std::mutex> hold(g_mutex);
    reap_locked(&ended);
    if (g_stopping) {
      result = LM_NMC_GOING_DOWN;
    } else if (g_entries.size() >= LM_DMRCP_WPL_MAX_ACTIVE) {
      result = LM_NMC_NO_FREE_CONTEXT;
    } else {
      entry->thread = nmc_thread_start(routine, entry, "NMC WPL Handler");
      if (entry->thread == nullptr) result = LM_NMC_OUT_OF_MEMORY;
    }
    // Listed under the mutex the stop takes: the stop sees every thread.
    if (result == LM_NMC_OK) g_entries.push_back(entry);
  }
  join_all(ended);
  if (result != LM_NMC_OK) {
    delete entry;
    upnp_log_impl(LOG_LEVEL_ERROR, LOG_SYSTEM, "wpl_transfer_start",
                  "NMC: Cannot start a queue transfer (%u), %u at most", result, LM_DMRCP_WPL_MAX_ACTIVE);
  }
  return result;
}

bool wpl_transfer_stopping(void) { return g_stop_request.load(); }

void nmc_wpl_transfers_stop(void) {
  std::vector<wpl_entry *> entries;
  {
    std::lock_guard<std::mutex> hold(g_mutex);
    g_stopping = true;
    g_stop_request.store(true);
    entries.swap(g_entries);
  }
  if (!entries.empty())
    upnp_log_impl(LOG_LEVEL_INFO, LOG_SYSTEM, "nmc_wpl_transfers_stop", "NMC: Ending %zu queue transfer(s)",
                  entries.size());
  join_all(entries);
  std::lock_guard<std::mutex> hold(g_mutex);
  g_stopping = false;
  g_stop_request.store(false);
}

unsigned nmc_wpl_transfers_running(void) {
  std::lock_guard<std::mutex> hold(g_mutex);
  unsigned n = 0;
  for (wpl_entry *entry : g_entries)
    if (!entry->done.load()) ++n;
  return n;
}
