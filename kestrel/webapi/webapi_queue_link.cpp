// The queue calls of the web API: one lm_queue_ call each.
#include "webapi/webapi_queue_link.h"

#include "nmc/lm_queue.h"

lm_nmc_result_t webapi_queue_get_playindex(uint32_t context, int32_t *index, uint32_t *pending) {
  return lm_queue_get_playindex(context, index, pending);
}
lm_nmc_result_t webapi_queue_go_index(uint32_t context, uint32_t index) { return lm_queue_go_index(context, index); }
lm_nmc_result_t webapi_queue_add_bookmark(uint32_t context, const char *bookmark) {
  return lm_queue_add_bookmark(context, bookmark);
}
lm_nmc_result_t webapi_queue_add_metadata(uint32_t context, const char *url, const char *metadata) {
  return lm_queue_add_metadata(context, url, metadata);
}
lm_nmc_result_t webapi_queue_delete_item(uint32_t context) { return lm_queue_delete_item(context); }
lm_nmc_result_t webapi_queue_move_to(uint32_t context, uint32_t target) { return lm_queue_move_to(context, target); }
lm_nmc_result_t webapi_queue_clear(uint32_t context) { return lm_queue_clear(context); }
