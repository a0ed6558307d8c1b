#ifndef KESTREL_NMC_LM_NMC_INTERNAL_H
#define KESTREL_NMC_LM_NMC_INTERNAL_H

/* What the controller's modules share; not exported. */

#include <stdint.h>

#include <map>
#include <memory>
#include <string>
#include <vector>

#include "nmc/lm_nmc.h"

/* ---- Output strings (lm_nmc_output.cpp). ---- */
/* Clears the buffer, then: 2 without size or buffer, 9 without a text, 10
 * when the text and its NUL do not fit, else copies it and answers 0. */
lm_nmc_result_t nmc_out_text(const char *text, uint32_t size, char *buffer);
/* The same for a number written as "%d". */
lm_nmc_result_t nmc_out_number(int64_t value, uint32_t size, char *buffer);

/* ---- Run states (lm_nmc_state.cpp). ---- */
uint32_t nmc_run_state(void);
/* Stores the state and tells the state callback ("NMCRunState", name). */
void nmc_set_run_state(uint32_t state);
/* "Stopped", "Initializing", ...; any value above 5 reads "Stopped". */
const char *nmc_run_state_name(uint32_t state);
/* Calls the registered state callback (none: nothing). */
void nmc_tell_state_callback(const char *name, const char *value);

/* ---- Controller threads (lm_nmc_thread.cpp). ---- */
/* A joinable thread named `name` that the stop can wait for with a bound. */
struct nmc_thread;
nmc_thread *nmc_thread_start(void (*routine)(void *), void *argument, const char *name);
/* Waits up to timeout_ms for the thread to end and joins it (true). When it
 * does not end in time it is detached and left to free its own record
 * (false, logged). Either way the record must not be used afterwards. */
bool nmc_thread_join_bounded(nmc_thread *thread, unsigned int timeout_ms);
/* Non-zero once the thread's routine has returned. */
bool nmc_thread_ended(const nmc_thread *thread);

/* ---- Start and stop (lm_nmc_start.cpp, lm_nmc_stop.cpp). ---- */
/* explicit_start: lm_nmc_init or "StartNMC" (may start again after a stop).
 * Answers 0 when the controller runs afterwards, 14 when it did not come up,
 * 11 when it may not be started (implicit start after a stop, or while a
 * stop is still under way). */
lm_nmc_result_t nmc_start(int argc, const char *const *argv, int install_signals, int explicit_start);
/* The stop request shared by lm_nmc_stop, the signal watcher, the
 * critical-error handler and the exit hook. */
void nmc_request_stop(void);
/* Waits up to timeout_ms until the controller is not terminating any more
 * and joins the terminator; true when the stop is complete (or none ran). */
bool nmc_wait_stopped(unsigned int timeout_ms);
/* Releases the renderer side, the server side and the contexts and clears
 * the started mark (the dispatcher's exit call). */
void nmc_release_sides(void);
/* Test seam: 0 starts the control point without the network stack (no
 * multicast, no HTTP server). Default 1. */
void nmc_set_network(int on);
/* Signal handlers of lm_nmc_init (lm_nmc_signals.cpp): installed for
 * SIGINT and SIGTERM with a watcher thread that turns a signal into the stop
 * request; removed again by the stop. */
bool nmc_signals_install(void);
void nmc_signals_remove(void);
/* Longest wait for one controller thread at the stop (ms). */
#define NMC_THREAD_JOIN_BOUND_MS 10000u

/* Writes the version line "Lumet ClientSDK %s -- %s" at information level
 * (raising the level and sources for this line when they would hide it). */
void nmc_log_version_line(void);
/* "NetworkScan": reload non-zero renews the control point's device lists,
 * otherwise a network search starts. */
lm_nmc_result_t nmc_network_scan(int reload);
/* "EnableFeature 7612": the local web API is registered by the manager
 * start once it exists (lm_nmc_features.cpp). */
void nmc_enable_web_api(void);
bool nmc_web_api_enabled(void);

/* ---- Contexts (lm_nmc_context.cpp). ---- */
struct nmc_context {
  uint32_t id = 0;
  lm_dmscp_callback server_callback = nullptr;
  lm_dmrcp_callback renderer_callback = nullptr;
  lm_queue_callback queue_callback = nullptr;
  // The renderer the context points at (renderer side), -1 for none; set
  // when the context goes to a renderer's bookmark.
  int renderer_index = -1;
  // The last server update identifier delivered, per server UDN.
  std::map<std::string, uint64_t> seen_update_ids;
  // Renderer side: cursor, caches and slideshow times (lm_dmrcp_state.h);
  // made on the context's first renderer call.
  std::shared_ptr<struct nmc_dmr_context> dmr;
};
/* What a notifier needs of a context, copied so that callbacks run with no
 * controller lock held. */
struct nmc_context_view {
  uint32_t id;
  lm_dmscp_callback server_callback;
  lm_dmrcp_callback renderer_callback;
  lm_queue_callback queue_callback;
  int renderer_index;
};
/* The contexts of one side (servers when `renderers` is false) in number
 * order. */
std::vector<nmc_context_view> nmc_contexts_snapshot(bool renderers);
/* The context lists of both sides: created at start, freed (with contexts
 * callers left open) at exit. */
void nmc_contexts_init(void);
void nmc_contexts_exit(void);
/* The context, locked for the caller (nmc_context_release ends that), or
 * none. The default contexts 0 and 0x10000 are created on their first
 * lookup unless the controller is terminating. */
nmc_context *nmc_context_find(uint32_t id);
void nmc_context_release(nmc_context *context);

#endif
