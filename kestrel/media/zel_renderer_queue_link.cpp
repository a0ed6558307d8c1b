// The renderer object's calls into the controller's play queue. The queue
// functions of the controller are not in the library yet: each call answers
// "not found" and clears its out values. When they land, each body becomes
// the one lm_queue_ call it names.
#include "media/zel_renderer_queue_link.h"

lm_nmc_result_t ZelQueueGetCount(uint32_t /*context*/, uint32_t *count) {  // lm_queue_get_count
  if (count != nullptr) *count = 0;
  return LM_NMC_NOT_FOUND;
}

lm_nmc_result_t ZelQueueGetPlayIndex(uint32_t /*context*/, int32_t *index, uint32_t *pending) {  // lm_queue_get_playindex
  if (index != nullptr) *index = -1;
  if (pending != nullptr) *pending = 0;
  return LM_NMC_NOT_FOUND;
}

lm_nmc_result_t ZelQueueGoIndex(uint32_t /*context*/, uint32_t /*index*/) { return LM_NMC_NOT_FOUND; }

lm_nmc_result_t ZelQueueAddBookmark(uint32_t /*context*/, const char * /*bookmark*/) { return LM_NMC_NOT_FOUND; }

lm_nmc_result_t ZelQueueAddMetadata(uint32_t /*context*/, const char * /*url*/, const char * /*metadata*/) {
  return LM_NMC_NOT_FOUND;
}

lm_nmc_result_t ZelQueueDeleteItem(uint32_t /*context*/) { return LM_NMC_NOT_FOUND; }

lm_nmc_result_t ZelQueueMoveTo(uint32_t /*context*/, uint32_t /*target*/) { return LM_NMC_NOT_FOUND; }

lm_nmc_result_t ZelQueueClear(uint32_t /*context*/) { return LM_NMC_NOT_FOUND; }
