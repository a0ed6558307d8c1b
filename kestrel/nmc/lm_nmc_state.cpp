// Run states and the process-wide state callback.
#include <atomic>

#include "nmc/lm_nmc_internal.h"

namespace {
// Read by every public function to decide whether the controller runs;
// written by the start-up and the terminator.
std::atomic<uint32_t> g_run_state{LM_NMC_STATE_NEVER_STARTED};
// Replaced by the application at any time, read on every change of state.
std::atomic<lm_nmc_state_callback> g_state_callback{nullptr};

const char *const k_state_names[] = {"Stopped", "Initializing", "Initialized", "Starting", "Running", "Terminating"};
}  // namespace

uint32_t nmc_run_state(void) { return g_run_state.load(std::memory_order_acquire); }

const char *nmc_run_state_name(uint32_t state) {
  return state <= LM_NMC_STATE_TERMINATING ? k_state_names[state] : "Stopped";
}

void nmc_tell_state_callback(const char *name, const char *value) {
  lm_nmc_state_callback callback = g_state_callback.load(std::memory_order_acquire);
  if (callback != nullptr) callback(name, value);
}

void nmc_set_run_state(uint32_t state) {
  g_run_state.store(state, std::memory_order_release);
  nmc_tell_state_callback("NMCRunState", nmc_run_state_name(state));
}

extern "C" KESTREL_API void lm_nmc_register_state_callback(lm_nmc_state_callback callback) {
  g_state_callback.store(callback, std::memory_order_release);
}

extern "C" KESTREL_API int lm_nmc_is_terminating(void) {
  uint32_t state = nmc_run_state();
  return state == LM_NMC_STATE_TERMINATING || state == LM_NMC_STATE_STOPPED ? 1 : 0;
}
