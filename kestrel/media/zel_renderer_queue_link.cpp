// The renderer object's calls into the controller's play queue: one
// lm_queue_ call each, on the renderer's context.
#include "media/zel_renderer_queue_link.h"

#include "nmc/lm_queue.h"

lm_nmc_result_t ZelQueueGetCount(uint32_t context, uint32_t *count) { return lm_queue_get_count(context, count); }

lm_nmc_result_t ZelQueueGetPlayIndex(uint32_t context, int32_t *index, uint32_t *pending) {
  return lm_queue_get_playindex(context, index, pending);
}

lm_nmc_result_t ZelQueueGoIndex(uint32_t context, uint32_t index) { return lm_queue_go_index(context, index); }

lm_nmc_result_t ZelQueueAddBookmark(uint32_t context, const char *bookmark) {
  return lm_queue_add_bookmark(context, bookmark);
}

lm_nmc_result_t ZelQueueAddMetadata(uint32_t context, const char *url, const char *metadata) {
  return lm_queue_add_metadata(context, url, metadata);
}

lm_nmc_result_t ZelQueueDeleteItem(uint32_t context) { return lm_queue_delete_item(context); }

lm_nmc_result_t ZelQueueMoveTo(uint32_t context, uint32_t target) { return lm_queue_move_to(context, target); }

lm_nmc_result_t ZelQueueClear(uint32_t context) { return lm_queue_clear(context); }
