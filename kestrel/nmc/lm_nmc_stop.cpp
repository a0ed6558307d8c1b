// The stop: lm_nmc_stop, "StopNMC", the signal watcher, the critical-error
// handler and the exit hook all request it; the "NMC Terminator" thread runs
// the stop sequence so that the request returns at once.
#include <mutex>

#include "base/upnp_ini_file.h"
#include "base/upnp_log.h"
#include "base/upnp_thread.h"
#include "clientdb/upnp_client_db.h"
#include "cp/upnp_cp.h"
#include "cp/upnp_cp_eventing.h"
#include "nmc/lm_ldmr_ops.h"
#include "nmc/lm_nmc_events.h"
#include "nmc/lm_nmc_protection.h"
#include "nmc/lm_nmc_ruis.h"
#include "nmc/lm_nmc_queue.h"
#include "nmc/lm_nmc_sessions.h"
#include "nmc/lm_nmc_start_internal.h"
#include "playlist/lm_dmscp_upload_internal.h"
#include "playlist/lm_dmrcp_wpl_internal.h"
#include "playlist/upnp_wpl.h"
#include "webapi/lm_nmc_webapi.h"

namespace {

// The terminator of the last stop, joined by the next start (or by
// nmc_wait_stopped). Guarded by g_terminator_mutex.
std::mutex g_terminator_mutex;
nmc_thread *g_terminator = nullptr;

// ---- Steps that later parts of the controller fill.
// HTTP handlers the controller registered (web API, local renderer).
void unregister_http_handlers(void) {}
// Manager exit: the network and subscription callbacks, the sessions and
// the remote-UI server list.
// (The web API and the position poll list join here when they exist.)
void stop_manager(void) {
  upnp_control_register_callback(nullptr);
  upnp_cp_register_subscription_callback(nullptr);
  nmc_sessions_stop();
  nmc_ldmr_shutdown();
  nmc_ruis_stop();
  nmc_uploads_stop();
  nmc_wpl_transfers_stop();
  lm_nmc_web_api_exit();
}
// The event sink's exit call makes the dispatcher release the renderer
// side, the server side and the contexts (notifiers joined with a bound).
// When the application replaced the dispatcher, the sides are released
// here all the same: a new start needs them released.
void release_sides(void) {
  lm_nmc_api_callback sink = nmc_events_take_sink();
  if (sink != nullptr) sink(0, nullptr);
  if (sink != nmc_event_dispatcher) nmc_release_sides();
}
// The shared queue list, taken out under its lock and released.
void release_queues(void) { nmc_queue_exit(); }

void terminator(void *) {
  upnp_log_impl(LOG_LEVEL_INFO, LOG_SYSTEM, "terminator", "NMC: Terminating upon signal or explicit request");
  nmc_signals_remove();
  unregister_http_handlers();
  if (g_nmc_marks.cp_started.load()) upnp_control_exit();

  upnp_log_impl(LOG_LEVEL_INFO, LOG_SYSTEM, "terminator", "NMC about to exit");
  stop_manager();
  release_sides();
  release_queues();
  upnp_log_impl(LOG_LEVEL_INFO, LOG_SYSTEM, "terminator", "NMC exit done");

  upnp_ini_file_release();
  g_nmc_marks.cp_started.store(false);
  Sleep(1000);
  upnp_wpl_exit();
  upnp_client_db_exit();
  upnp_log_exit();
  nmc_protection_exit();
  nmc_set_run_state(LM_NMC_STATE_STOPPED);
}

}  // namespace

void nmc_request_stop(void) {
  // Never wait for a start-up here: the caller may be a thread the start-up
  // itself waits for. A start-up under way carries the request out at its
  // end.
  std::unique_lock<std::recursive_mutex> hold(g_nmc_marks.start_mutex, std::try_to_lock);
  uint32_t state = nmc_run_state();
  if (!hold.owns_lock() || (state >= LM_NMC_STATE_INITIALIZING && state <= LM_NMC_STATE_STARTING)) {
    g_nmc_marks.stop_pending.store(true);
    return;
  }
  if (state == LM_NMC_STATE_TERMINATING || state == LM_NMC_STATE_STOPPED) return;
  nmc_set_run_state(LM_NMC_STATE_TERMINATING);
  std::lock_guard<std::mutex> guard(g_terminator_mutex);
  g_terminator = nmc_thread_start(terminator, nullptr, "NMC Terminator");
  if (g_terminator == nullptr) {
    // Without a thread the sequence runs here: the stop must happen.
    terminator(nullptr);
  }
}

bool nmc_wait_stopped(unsigned int timeout_ms) {
  uint64_t deadline = getSystemTime() + timeout_ms;
  while (nmc_run_state() == LM_NMC_STATE_TERMINATING) {
    if (getSystemTime() >= deadline) return false;
    Sleep(10);
  }
  nmc_thread *thread = nullptr;
  {
    std::lock_guard<std::mutex> guard(g_terminator_mutex);
    thread = g_terminator;
    g_terminator = nullptr;
  }
  // "Stopped" is the terminator's last act: the join is immediate.
  if (thread != nullptr) nmc_thread_join_bounded(thread, NMC_THREAD_JOIN_BOUND_MS);
  return true;
}

extern "C" KESTREL_API void lm_nmc_stop(void) { nmc_request_stop(); }
