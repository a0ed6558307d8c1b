// The queue calls of the web API. The renderer queue is not part of this
// build yet: every call answers "not found" until it joins, and the queue
// commands then answer through the error table.
#include "webapi/webapi_queue_link.h"

lm_nmc_result_t webapi_queue_get_playindex(uint32_t, int32_t *index, uint32_t *pending) {
  if (index) *index = 0;
  if (pending) *pending = 0;
  return LM_NMC_NOT_FOUND;
}
lm_nmc_result_t webapi_queue_go_index(uint32_t, uint32_t) { return LM_NMC_NOT_FOUND; }
lm_nmc_result_t webapi_queue_add_bookmark(uint32_t, const char *) { return LM_NMC_NOT_FOUND; }
lm_nmc_result_t webapi_queue_add_metadata(uint32_t, const char *, const char *) { return LM_NMC_NOT_FOUND; }
lm_nmc_result_t webapi_queue_delete_item(uint32_t) { return LM_NMC_NOT_FOUND; }
lm_nmc_result_t webapi_queue_move_to(uint32_t, uint32_t) { return LM_NMC_NOT_FOUND; }
lm_nmc_result_t webapi_queue_clear(uint32_t) { return LM_NMC_NOT_FOUND; }
