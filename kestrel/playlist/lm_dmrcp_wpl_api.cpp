// The entry points of the queue import and export: arguments are checked
// and the renderer found before the transfer record is made and its thread
// started.
#include <new>

#include "base/upnp_log.h"
#include "nmc/lm_dmrcp_state.h"
#include "nmc/lm_nmc_internal.h"
#include "nmc/lm_nmc_queue.h"
#include "playlist/lm_dmrcp_wpl_internal.h"

wpl_transfer *createPlaylistInfo(uint32_t context, void *user_data, uint32_t format, int renderer,
                                 uint32_t chunk_size, const std::string &queue_id) {
  auto *transfer = new (std::nothrow) wpl_transfer;
  if (transfer == nullptr) return nullptr;
  transfer->context = context;
  transfer->user_data = user_data;
  transfer->format = format;
  transfer->renderer = renderer;
  transfer->chunk_size = chunk_size != 0 ? chunk_size : LM_DMRCP_WPL_DEFAULT_CHUNK;
  try {
    transfer->queue_id = queue_id;
    if (!queue_id.empty()) transfer->queue_text = "<QueueID>" + queue_id + "</QueueID>";
  } catch (const std::bad_alloc &) {
    delete transfer;
    return nullptr;
  }
  return transfer;
}

namespace {

// Checks shared by both: 11 when the controller cannot run, 2 without a
// callback or for another format, else the context's renderer lookup.
lm_nmc_result_t check(uint32_t context, uint32_t format, bool has_callback, nmc_dmr_target *target) {
  if (!lm_nmc_conn_init()) return LM_NMC_GOING_DOWN;
  if (!has_callback || format != LM_DMRCP_WPL_FORMAT) return LM_NMC_INVALID_PARAMETER;
  return nmc_dmr_find(context, target);
}

}  // namespace

extern "C" KESTREL_API lm_nmc_result_t lm_dmrcp_import_queue(uint32_t context, void *user_data, uint32_t format,
                                                             uint32_t chunk_size, lm_dmrcp_import_callback callback) {
  nmc_dmr_target target;
  lm_nmc_result_t result = check(context, format, callback != nullptr, &target);
  if (result != LM_NMC_OK) return result;
  wpl_transfer *transfer = createPlaylistInfo(context, user_data, format, -1, chunk_size, std::string());
  if (transfer == nullptr) return LM_NMC_OUT_OF_MEMORY;
  transfer->import_callback = callback;
  upnp_log_impl(LOG_LEVEL_INFO, LOG_SYSTEM, "lm_dmrcp_import_queue", "Importing queue");
  result = wpl_transfer_start(transfer, importWpl);
  if (result != LM_NMC_OK) delete transfer;
  return result;
}

extern "C" KESTREL_API lm_nmc_result_t lm_dmrcp_export_queue(uint32_t context, void *user_data, uint32_t format,
                                                             uint32_t chunk_size, lm_dmrcp_export_callback callback) {
  nmc_dmr_target target;
  lm_nmc_result_t result = check(context, format, callback != nullptr, &target);
  if (result != LM_NMC_OK) return result;
  if (target.index < 0) return LM_NMC_NO_VALUE;
  nmc_queue_ref queue = nmc_queue_of_renderer(target.index);
  if (queue == nullptr) return LM_NMC_NO_VALUE;
  std::string id;
  try {
    std::lock_guard<std::recursive_mutex> hold(queue->lock);
    id = queue->id;
  } catch (const std::bad_alloc &) {
    return LM_NMC_OUT_OF_MEMORY;
  }
  if (id.empty()) return LM_NMC_NO_VALUE;
  wpl_transfer *transfer = createPlaylistInfo(context, user_data, format, target.index, chunk_size, id);
  if (transfer == nullptr) return LM_NMC_OUT_OF_MEMORY;
  transfer->export_callback = callback;
  upnp_log_impl(LOG_LEVEL_INFO, LOG_SYSTEM, "lm_dmrcp_export_queue", "Exporting queue of renderer index %d",
                target.index);
  result = wpl_transfer_start(transfer, exportWpl);
  if (result != LM_NMC_OK) delete transfer;
  return result;
}
