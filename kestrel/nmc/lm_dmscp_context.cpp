// Server contexts: the level stack a context gets on first use, the page
// sizes, and the plumbing every lm_dmscp_ function runs through (controller
// running, context held for the whole operation, no exception leaving).
#include <atomic>
#include <new>

#include "base/upnp_log.h"
#include "nmc/lm_dmscp_ahead.h"
#include "nmc/lm_dmscp_internal.h"
#include "nmc/lm_nmc_internal.h"

namespace {

std::atomic<uint32_t> g_global_page{NMC_DMS_DEFAULT_PAGE};

}  // namespace

void nmc_dms_level::drop_page() {
  page.clear();
  page_tree.reset();
  page_first = 0;
  for (const auto &ahead : aheads) nmc_dms_ahead_cancel(*ahead);
  aheads.clear();
  // A cached object of the page goes with it; an owned copy stays.
  if (current != nullptr && !current_owned) current = nullptr;
}

void nmc_dms_level::drop_current() {
  current = nullptr;
  current_owned.reset();
}

void nmc_dms_state::cut_to_servers() {
  if (levels.size() > 1) levels.resize(1);
}

uint32_t nmc_dms_global_page_size(void) { return g_global_page.load(); }

void nmc_dms_set_global_page_size(uint32_t size) {
  uint32_t old = g_global_page.exchange(size);
  // Each context is held while its size is compared and changed.
  for (const nmc_context_view &view : nmc_contexts_snapshot(false)) {
    nmc_context *context = nmc_context_find(view.id);
    if (context == nullptr) continue;
    if (context->dms && context->dms->page_size == old) context->dms->page_size = size;
    nmc_context_release(context);
  }
}

nmc_dms_state *nmc_dms_state_of(nmc_context *context) {
  if (context->dms) return context->dms.get();
  try {
    auto state = std::make_shared<nmc_dms_state>();
    state->page_size = g_global_page.load();
    auto bottom = std::make_unique<nmc_dms_level>();
    bottom->type = NMC_LEVEL_SERVERS;
    bottom->title = "Digital Media Servers";
    bottom->object_id = "0";
    state->levels.push_back(std::move(bottom));
    context->dms = state;
  } catch (...) {
    upnp_log_impl(LOG_LEVEL_ERROR, LOG_SYSTEM, "nmc_dms_state_of", "NMC: Out of memory creating browse level");
    return nullptr;
  }
  return context->dms.get();
}

lm_nmc_result_t nmc_dms_run(uint32_t id, lm_nmc_result_t (*op)(nmc_dms_state &, void *), void *argument) {
  if (!lm_nmc_conn_init()) return LM_NMC_GOING_DOWN;
  if (!lm_nmc_is_dms_context(id)) return LM_NMC_INVALID_INDEX;
  nmc_context *context = nmc_context_find(id);
  if (context == nullptr) return LM_NMC_INVALID_INDEX;
  lm_nmc_result_t result = LM_NMC_OUT_OF_MEMORY;
  try {
    // A copy of the pointer keeps the state alive for this call.
    nmc_dms_state *state = nmc_dms_state_of(context);
    if (state != nullptr) {
      std::shared_ptr<nmc_dms_state> hold = context->dms;
      result = nmc_dms_check_levels(id, *state);
      if (result == LM_NMC_OK) result = op(*state, argument);
    }
  } catch (const std::bad_alloc &) {
    upnp_log_impl(LOG_LEVEL_ERROR, LOG_SYSTEM, "nmc_dms_run", "NMC: Out of memory on server context %u", id);
    result = LM_NMC_OUT_OF_MEMORY;
  } catch (...) {
    result = LM_NMC_NO_VALUE;
  }
  nmc_context_release(context);
  return result;
}

lm_nmc_result_t nmc_dms_check_levels(uint32_t id, nmc_dms_state &state) {
  if (!state.levels.empty()) return LM_NMC_OK;
  upnp_log_impl(LOG_LEVEL_ERROR, LOG_SYSTEM, "nmc_dms_check_levels", "NMC: No level for context %u", id);
  return LM_NMC_NO_VALUE;
}
