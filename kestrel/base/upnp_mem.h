#ifndef KESTREL_BASE_UPNP_MEM_H
#define KESTREL_BASE_UPNP_MEM_H

/* Accounted memory. Every block carries its requested size in front of the
 * caller's bytes; two process-wide counters (bytes in use and the highest
 * value that count has reached) change only under g_Mem_Section. Blocks from
 * these functions are released with upnp_free_impl only. */

#include <stddef.h>
#include <stdint.h>

#include "base/upnp_critsec.h"

#ifdef __cplusplus
extern "C" {
#endif

extern CRITICAL_SECTION g_Mem_Section;

/* Largest size a block may request. */
#define UPNP_MEM_MAX_SIZE ((size_t)0x7fffffffffffffeeULL)

void *upnp_malloc_impl(size_t size);
/* none behaves as upnp_malloc_impl; on failure the old block's size is taken
 * off the counters all the same and none is returned (the old block stays
 * allocated). */
void *upnp_realloc_impl(void *block, size_t size);
void *upnp_calloc_impl(size_t count, size_t size);
/* none for none. */
char *upnp_strdup_impl(const char *text);
/* Replaces the owned text *field with a copy of text (none for none): 1 done;
 * 0 when the copy cannot be made, *field then unchanged. */
int upnp_strdup_replace(char **field, const char *text);
void upnp_free_impl(void *block);
/* Frees *block and clears the reference. */
void upnp_safe_free(void **block);

/* Create / delete the memory lock (once each; repeated calls do nothing). */
void upnp_mem_init(void);
void upnp_mem_exit(void);
int64_t upnp_mem_used(void);
int64_t upnp_max_mem_used(void);

#ifdef __cplusplus
}
#endif

#endif
