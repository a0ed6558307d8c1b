#ifndef KESTREL_WEBAPI_WEBAPI_QUEUE_LINK_H
#define KESTREL_WEBAPI_WEBAPI_QUEUE_LINK_H

/* The renderer queue as the web API reaches it: one call per queue
 * operation, each standing for the queue function of the same name. */

#include <stdint.h>

#include "nmc/lm_nmc.h"

lm_nmc_result_t webapi_queue_get_playindex(uint32_t context, int32_t *index, uint32_t *pending);
lm_nmc_result_t webapi_queue_go_index(uint32_t context, uint32_t index);
lm_nmc_result_t webapi_queue_add_bookmark(uint32_t context, const char *bookmark);
lm_nmc_result_t webapi_queue_add_metadata(uint32_t context, const char *url, const char *metadata);
lm_nmc_result_t webapi_queue_delete_item(uint32_t context);
lm_nmc_result_t webapi_queue_move_to(uint32_t context, uint32_t target);
lm_nmc_result_t webapi_queue_clear(uint32_t context);

#endif
