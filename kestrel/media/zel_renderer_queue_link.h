#ifndef KESTREL_MEDIA_ZEL_RENDERER_QUEUE_LINK_H
#define KESTREL_MEDIA_ZEL_RENDERER_QUEUE_LINK_H

/* The renderer object's only way to the controller's play queue of its
 * renderer context: one call per queue function it uses (lm_queue.h). Each
 * answers a controller result code (0 success). */

#include <stdint.h>

#include "nmc/lm_nmc.h"

lm_nmc_result_t ZelQueueGetCount(uint32_t context, uint32_t *count);
lm_nmc_result_t ZelQueueGetPlayIndex(uint32_t context, int32_t *index, uint32_t *pending);
lm_nmc_result_t ZelQueueGoIndex(uint32_t context, uint32_t index);
lm_nmc_result_t ZelQueueAddBookmark(uint32_t context, const char *bookmark);
lm_nmc_result_t ZelQueueAddMetadata(uint32_t context, const char *url, const char *metadata);
lm_nmc_result_t ZelQueueDeleteItem(uint32_t context);
lm_nmc_result_t ZelQueueMoveTo(uint32_t context, uint32_t target);
lm_nmc_result_t ZelQueueClear(uint32_t context);

#endif
