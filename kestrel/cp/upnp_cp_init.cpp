// Start and stop of the control point, its lock, the clock, the worker
// accounting and the background threads ("CP_NOTIFIER", "CP_SCHEDULER" and
// "CP_STATE_POLLING").
#include <atomic>
#include <cstring>

#include "base/upnp_critsec.h"
#include "base/upnp_ini_file.h"
#include "base/upnp_log.h"
#include "base/upnp_mem.h"
#include "base/upnp_server_state.h"
#include "base/upnp_thread.h"
#include "cp/upnp_cp_eventing.h"
#include "cp/upnp_cp_eventing_internal.h"
#include "cp/upnp_cp_internal.h"
#include "cp/upnp_cp_notifier_wake.h"
#include "cp/upnp_soap.h"
#include "ssdp/upnp_ssdp.h"

upnp_cp_table g_cp_tables[3];
uint64_t g_cp_expected_invalidation = 0;

void cp_events_clear_locked(void);
int cp_notifier_deliver_one(void);

namespace {

CRITICAL_SECTION g_cp_lock;
std::atomic<bool> g_cp_lock_ready{false};
std::atomic<bool> g_running{false};
bool g_initialised = false;
std::atomic<int> g_workers{0};
upnp_thread_t g_notifier = UPNP_NO_THREAD;
upnp_thread_t g_scheduler = UPNP_NO_THREAD;
upnp_thread_t g_poller = UPNP_NO_THREAD;

// Sleeps up to ms in small steps; false once the control point stops.
bool nap(unsigned int ms) {
  for (unsigned int slept = 0; slept < ms; slept += 10) {
    if (!g_running.load()) return false;
    Sleep(10);
  }
  return g_running.load();
}

void *notifier_thread(void *) {
  upnp_init_thread("CP_NOTIFIER");
  upnp_log_impl(LOG_LEVEL_INFO, LOG_SYSTEM, "notifier", "Started notifier thread");
  nap(200);
  uint64_t last = 0;
  while (g_running.load() && upnp_server_is_active()) {
    uint64_t now = cp_now_ms();
    if (now - last >= 250) {
      last = now;
      while (g_running.load() && cp_notifier_deliver_one()) {
      }
    }
    processSubscriptionEvents();
    // Up to the 50 ms tick, or until a subscription event is queued.
    cp_notifier_wait(50);
  }
  upnp_log_impl(LOG_LEVEL_INFO, LOG_SYSTEM, "notifier", "Terminating notifier thread");
  return nullptr;
}

void *scheduler_thread(void *) {
  upnp_init_thread("CP_SCHEDULER");
  uint64_t last_validation = upnp_cp_now();
  while (nap(1000)) {
    uint64_t now = upnp_cp_now();
    bool force = false;
    if (upnp_cp_lock_section()) {
      if (g_cp_expected_invalidation != 0 && g_cp_expected_invalidation < now) {
        upnp_log_impl(LOG_LEVEL_INFO, LOG_SYSTEM, "scheduler", "Enforcing validation of devices after device failure");
        g_cp_expected_invalidation = 0;
        force = true;
      }
      upnp_cp_unlock_section();
    }
    if (force || now - last_validation >= 60) {
      last_validation = now;
      validateDevices(now, UPNP_CP_KIND_SERVER);
      validateDevices(now, UPNP_CP_KIND_RENDERER);
      validateDevices(now, UPNP_CP_KIND_RUIS);
    }
    cp_eventing_resubscribe_tick(now);
    check_NIC_change(now);
  }
  return nullptr;
}

// Renderer polling waits on the renderers' answers (up to the SOAP time-out
// each), so it runs apart from the scheduler: a renderer that stalls must not
// hold up validation and the renewal of subscriptions.
void *poller_thread(void *) {
  upnp_init_thread("CP_STATE_POLLING");
  while (nap(1000)) cp_eventing_poll_tick(upnp_cp_now());
  return nullptr;
}

void network_changed(void) {
  upnp_cp_update_network_prefixes();
  upnp_cp_renew_device_lists(0);
}

int table_size(unsigned int key, const char *what) {
  int size = upnp_ini_file_getInt(key);
  if (!upnp_ini_file_isValidKey(key) || (size == 0 && !upnp_ini_file_isSet(key))) size = 30;
  if (size < 1) {
    upnp_log_impl(LOG_LEVEL_WARNING, LOG_SYSTEM, "upnp_control_init2",
                  "The maximum amount of %s to work with is negative or 0.", what);
    return 0;
  }
  return size;
}

int first_init(void) {
  InitializeCriticalSection(&g_cp_lock);
  g_cp_lock_ready.store(true);
  cp_net_lock_init();
  upnp_cp_update_network_prefixes();
  const unsigned int keys[3] = {INI_MAX_SUPPORTED_SERVER, INI_MAX_SUPPORTED_RENDERER, INI_MAX_SUPPORTED_RUIS};
  const char *what[3] = {"servers", "renderers", "RUI services"};
  EnterCriticalSection(&g_cp_lock);
  for (int k = 0; k < 3; ++k) {
    int size = table_size(keys[k], what[k]);
    g_cp_tables[k].slots = size > 0 ? static_cast<upnp_cp_device *>(upnp_calloc_impl(size, sizeof(upnp_cp_device)))
                                    : nullptr;
    g_cp_tables[k].size = g_cp_tables[k].slots != nullptr ? size : 0;
  }
  cp_events_clear_locked();
  g_cp_expected_invalidation = 0;
  LeaveCriticalSection(&g_cp_lock);
  cp_eventing_reset_times();
  upnp_cp_eventing_init();
  g_initialised = true;
  return UPNP_CP_OK;
}

}  // namespace

uint64_t cp_now_ms(void) { return getSystemTime() + 1000; }
extern "C" uint64_t upnp_cp_now(void) { return cp_now_ms() / 1000; }

void cp_worker_started(void) { g_workers.fetch_add(1); }
void cp_worker_ended(void) { g_workers.fetch_sub(1); }

extern "C" int upnp_cp_is_running(void) { return g_running.load() ? 1 : 0; }

extern "C" int upnp_cp_lock_section(void) {
  if (!g_cp_lock_ready.load()) return 0;
  EnterCriticalSection(&g_cp_lock);
  return 1;
}

extern "C" void upnp_cp_unlock_section(void) {
  if (g_cp_lock_ready.load()) LeaveCriticalSection(&g_cp_lock);
}

// Starts the table and its threads; `network` 0 leaves the stack alone
// (tests that drive the SSDP entry points directly).
extern "C" int upnp_cp_start(int flag, int network) {
  if (!g_initialised && first_init() != UPNP_CP_OK) return UPNP_CP_OUT_OF_MEMORY;
  // Result texts of actions are the control point's (e.g. 701 is a
  // transport's "Transition not available", not a directory's).
  upnp_set_errmsgs(upnp_cp_errmsgs());
  upnp_cp_ssdp_init(flag);
  upnp_ssdp_set_network_change_callback(network_changed);
  if (network && upnp_server_stack_state() != 1) upnp_server_start(UPNP_SERVER_RUNNING);
  if (!g_running.exchange(true)) {
    g_notifier = upnp_start_joinable_thread(notifier_thread, nullptr, UPNP_THREAD_LEVEL_DEFAULT);
    g_scheduler = upnp_start_joinable_thread(scheduler_thread, nullptr, UPNP_THREAD_LEVEL_DEFAULT);
    g_poller = upnp_start_joinable_thread(poller_thread, nullptr, UPNP_THREAD_LEVEL_DEFAULT);
  }
  return UPNP_CP_OK;
}

extern "C" int upnp_control_init2(int flag) { return upnp_cp_start(flag, 1); }
extern "C" int upnp_control_init(void) { return upnp_control_init2(0); }

extern "C" void upnp_control_exit(void) {
  if (!g_initialised) return;
  upnp_ssdp_set_network_change_callback(nullptr);
  // Subscriptions end while the network still runs.
  cp_eventing_cancel_all();
  g_running.store(false);
  cp_notifier_wake();
  if (upnp_server_stack_state() == 1) upnp_server_stop(UPNP_SERVER_RUNNING);
  if (g_notifier != UPNP_NO_THREAD) upnp_join_thread(g_notifier, nullptr);
  if (g_scheduler != UPNP_NO_THREAD) upnp_join_thread(g_scheduler, nullptr);
  // A poll under way ends with its SOAP time-out at the latest.
  if (g_poller != UPNP_NO_THREAD) upnp_join_thread(g_poller, nullptr);
  g_notifier = g_scheduler = g_poller = UPNP_NO_THREAD;
  // Loaders and verifiers are bounded by their fetch time-outs.
  while (g_workers.load() > 0) Sleep(10);
  upnp_cp_eventing_exit();
  cp_eventing_reset_times();
  EnterCriticalSection(&g_cp_lock);
  cp_events_clear_locked();
  for (upnp_cp_table &table : g_cp_tables) {
    for (int i = 0; i < table.size; ++i) cp_free_device(&table.slots[i]);
    upnp_free_impl(table.slots);
    table.slots = nullptr;
    table.size = 0;
  }
  g_cp_expected_invalidation = 0;
  g_cp_lock_ready.store(false);
  LeaveCriticalSection(&g_cp_lock);
  DeleteCriticalSection(&g_cp_lock);
  cp_net_lock_exit();
  g_initialised = false;
}
