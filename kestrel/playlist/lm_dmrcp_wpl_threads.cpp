// The running queue imports and exports: their "NMC WPL Handler" threads,
// the cap on how many run at once, and the controller's stop, which asks
// them to end and joins them with its bound (the transfer pool of
// lm_nmc_transfer_pool.cpp). The thread bodies read the stop request
// between their steps.
#include <new>

#include "base/upnp_log.h"
#include "playlist/lm_dmrcp_wpl_internal.h"
#include "playlist/lm_nmc_transfer_pool.h"

namespace {

// What a thread runs: the body and its record, freed when the body ends.
struct wpl_job {
  void (*body)(wpl_transfer *);
  wpl_transfer *transfer;
};

void run(void *argument) {
  auto *job = static_cast<wpl_job *>(argument);
  job->body(job->transfer);
}
void finish(void *argument) {
  auto *job = static_cast<wpl_job *>(argument);
  delete job->transfer;
  delete job;
}

// Never destroyed: a thread left behind by the stop's bound may still end
// while the process exits.
nmc_transfer_pool &pool() {
  static nmc_transfer_pool *p = new nmc_transfer_pool("NMC WPL Handler", LM_DMRCP_WPL_MAX_ACTIVE, finish, nullptr);
  return *p;
}

}  // namespace

lm_nmc_result_t wpl_transfer_start(wpl_transfer *transfer, void (*body)(wpl_transfer *)) {
  lm_nmc_result_t result = LM_NMC_OK;
  auto *job = new (std::nothrow) wpl_job{body, transfer};
  if (job == nullptr) {
    result = LM_NMC_OUT_OF_MEMORY;
  } else {
    switch (pool().reserve()) {
      case nmc_transfer_pool::STOPPING:
        result = LM_NMC_GOING_DOWN;
        break;
      case nmc_transfer_pool::FULL:
        result = LM_NMC_NO_FREE_CONTEXT;
        break;
      case nmc_transfer_pool::RESERVED:
        // A stop between the reservation and the start refuses it too.
        if (!pool().start(run, job)) result = pool().stopping() ? LM_NMC_GOING_DOWN : LM_NMC_OUT_OF_MEMORY;
        break;
    }
  }
  if (result != LM_NMC_OK) {
    delete job;  // the record stays the caller's
    upnp_log_impl(LOG_LEVEL_ERROR, LOG_SYSTEM, "wpl_transfer_start",
                  "NMC: Cannot start a queue transfer (%u), %u at most", result, LM_DMRCP_WPL_MAX_ACTIVE);
  }
  return result;
}

bool wpl_transfer_stopping(void) { return pool().stopping(); }

void nmc_wpl_transfers_stop(void) { pool().stop("queue transfer(s)"); }

unsigned nmc_wpl_transfers_running(void) { return pool().running(); }
