#ifndef KESTREL_NMC_LM_QUEUE_H
#define KESTREL_NMC_LM_QUEUE_H

/* The play queue of the renderer a renderer context points at (lm_dmrcp.h).
 * The context keeps a queue cursor, an index into the queue; the functions
 * read and change the entry at the cursor. Result codes as in lm_nmc.h and
 * lm_dmrcp.h; 9 when the cursor is beyond the queue or an entry or value is
 * not there. lm_queue_register_callback is in lm_nmc.h. */

#include <stdint.h>

#include "nmc/lm_nmc.h"

#ifdef __cplusplus
extern "C" {
#endif

KESTREL_API lm_nmc_result_t lm_queue_get_count(uint32_t context, uint32_t *count);
KESTREL_API lm_nmc_result_t lm_queue_get_index(uint32_t context, uint32_t *index);
KESTREL_API lm_nmc_result_t lm_queue_go_index(uint32_t context, uint32_t index);
/* The position of the entry playing (-1: none) and the entries after it. */
KESTREL_API lm_nmc_result_t lm_queue_get_playindex(uint32_t context, int32_t *index, uint32_t *pending);
/* Inserts a server object after the cursor; the cursor moves onto it. A
 * bookmark without the object's own identifier ("-") is refused with 2. */
KESTREL_API lm_nmc_result_t lm_queue_add_bookmark(uint32_t context, const char *bookmark);
/* Inserts a URL with its DIDL-Lite metadata after the cursor. A local file
 * (a path starting with '/' or '\', or a file URL) is offered to the
 * renderer through the library's web server. */
KESTREL_API lm_nmc_result_t lm_queue_add_metadata(uint32_t context, const char *url, const char *metadata);
KESTREL_API lm_nmc_result_t lm_queue_delete_item(uint32_t context);
/* Moves the entry at the cursor to target (0x7FFFFFFF: the end). */
KESTREL_API lm_nmc_result_t lm_queue_move_to(uint32_t context, uint32_t target);
KESTREL_API lm_nmc_result_t lm_queue_clear(uint32_t context);
KESTREL_API lm_nmc_result_t lm_queue_get_bookmark(uint32_t context, uint32_t size, char *buffer);
/* Moves the cursor to the entry of the bookmark; 9 when not in the queue. */
KESTREL_API lm_nmc_result_t lm_queue_go_bookmark(uint32_t context, const char *bookmark);
/* The DIDL-Lite metadata of the entry at the cursor. */
KESTREL_API lm_nmc_result_t lm_queue_get_metadata(uint32_t context, uint32_t size, char *buffer);
/* One value of it: key "name", "name@attribute", either with ".Count". */
KESTREL_API lm_nmc_result_t lm_queue_extract_metadata(uint32_t context, const char *key, uint32_t occurrence,
                                                      uint32_t size, char *buffer);
KESTREL_API lm_nmc_result_t lm_queue_extract_metadata_int(uint32_t context, const char *key, uint32_t occurrence,
                                                          int32_t *value);
KESTREL_API lm_nmc_result_t lm_queue_extract_metadata_uint64(uint32_t context, const char *key,
                                                             uint32_t occurrence, uint64_t *value);
/* Reads the metadata of the entry at the cursor (0 when there is some). */
KESTREL_API lm_nmc_result_t lm_queue_load_metadata(uint32_t context);

#ifdef __cplusplus
}
#endif

#endif
