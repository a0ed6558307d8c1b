#ifndef KESTREL_NMC_LM_DMSCP_H
#define KESTREL_NMC_LM_DMSCP_H

/* The server side of the NMC controller: a server context is a cursor in a
 * stack of browse levels (the server list at the bottom, then containers,
 * search results and containers reached by a bookmark). Contexts are made
 * with lm_dmscp_create_context (lm_nmc.h).
 *
 * Every function answers a result code (lm_nmc.h): 11 when the controller
 * cannot run, 1 for an unknown context; text outputs follow the output
 * string rule of lm_nmc.h. */

#include <stdint.h>

#include "nmc/lm_nmc.h"

#ifdef __cplusplus
extern "C" {
#endif

/* fn(context, name, value, occurrence, user): first (null, null, count),
 * then one call per property, last (null, null, 0). Non-zero goes on. */
typedef int (*lm_dmscp_metadata_callback)(uint32_t context, const char *name, const char *value,
                                          uint32_t occurrence, void *user);

/* Which object lm_dmscp_load_metadata reports. */
#define LM_DMSCP_METADATA_OBJECT 1
#define LM_DMSCP_METADATA_SERVER 2

/* Moving: home (the server list, on the context's server), to an index of
 * the current level (9 when not below its count), into the object under
 * the cursor (a server or a container; 7 for an item), to the parent (9 at
 * the server list). */
KESTREL_API lm_nmc_result_t lm_dmscp_go_home(uint32_t context);
KESTREL_API lm_nmc_result_t lm_dmscp_go_index(uint32_t context, uint32_t index);
KESTREL_API lm_nmc_result_t lm_dmscp_get_index(uint32_t context, uint32_t *index);
KESTREL_API lm_nmc_result_t lm_dmscp_get_count(uint32_t context, uint32_t *count);
KESTREL_API lm_nmc_result_t lm_dmscp_is_directory(uint32_t context, uint32_t *flag);
KESTREL_API lm_nmc_result_t lm_dmscp_go_directory(uint32_t context);
KESTREL_API lm_nmc_result_t lm_dmscp_go_parent(uint32_t context);
/* Levels above the server list (0 there) and the current level's title. */
KESTREL_API lm_nmc_result_t lm_dmscp_get_level(uint32_t context, uint32_t *depth);
KESTREL_API lm_nmc_result_t lm_dmscp_get_levelname(uint32_t context, uint32_t size, char *buffer);

/* Search: a simple query ("title=x&artist=y&exact=1&type=musicItem") or a
 * whole search criteria text; pushes a search level. Sort: "title",
 * "album=descending", ... or a whole sort criteria text; empty clears. */
KESTREL_API lm_nmc_result_t lm_dmscp_search(uint32_t context, const char *query);
KESTREL_API lm_nmc_result_t lm_dmscp_set_sort_option(uint32_t context, const char *sort);
KESTREL_API lm_nmc_result_t lm_dmscp_get_sort_capabilities(uint32_t context, uint32_t size, char *buffer);
KESTREL_API lm_nmc_result_t lm_dmscp_get_search_capabilities(uint32_t context, uint32_t size, char *buffer);
/* "<serverInfo>" + the server's information + "</serverInfo>". */
KESTREL_API lm_nmc_result_t lm_dmscp_get_device_info(uint32_t context, uint32_t size, char *buffer);

/* Bookmarks: of the object under the cursor (temp: "-" in place of its own
 * identifier, except at the server list), and going to one. */
KESTREL_API lm_nmc_result_t lm_dmscp_get_bookmark(uint32_t context, uint32_t size, char *buffer);
KESTREL_API lm_nmc_result_t lm_dmscp_get_temp_bookmark(uint32_t context, uint32_t size, char *buffer);
KESTREL_API lm_nmc_result_t lm_dmscp_go_bookmark(uint32_t context, const char *bookmark);

/* Metadata of the object under the cursor: as DIDL-Lite text; one property
 * ("Title", "Resource@Size", "Artist.Count", a device field, or an XML tag)
 * at an occurrence, as text or number; every property to a callback;
 * changing one on the server; destroying the object. */
KESTREL_API lm_nmc_result_t lm_dmscp_get_metadata(uint32_t context, uint32_t size, char *buffer);
KESTREL_API lm_nmc_result_t lm_dmscp_extract_metadata(uint32_t context, const char *key, uint32_t occurrence,
                                                      uint32_t size, char *buffer);
KESTREL_API lm_nmc_result_t lm_dmscp_extract_metadata_int(uint32_t context, const char *key, uint32_t occurrence,
                                                          int32_t *value);
KESTREL_API lm_nmc_result_t lm_dmscp_extract_metadata_uint64(uint32_t context, const char *key,
                                                             uint32_t occurrence, uint64_t *value);
KESTREL_API lm_nmc_result_t lm_dmscp_load_metadata(uint32_t context, lm_dmscp_metadata_callback callback,
                                                   uint32_t which, void *user);
KESTREL_API lm_nmc_result_t lm_dmscp_set_metadata(uint32_t context, const char *key, uint32_t occurrence,
                                                  const char *value);
KESTREL_API lm_nmc_result_t lm_dmscp_delete_object(uint32_t context);

#ifdef __cplusplus
}
#endif

#endif
