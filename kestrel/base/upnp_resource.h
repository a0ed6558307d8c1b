#ifndef KESTREL_BASE_UPNP_RESOURCE_H
#define KESTREL_BASE_UPNP_RESOURCE_H

/* Named resource files that ship beside the program ("<program
 * directory>/resources/<name>"), read whole and kept in a small in-memory
 * cache (100 entries; only files with the extensions xml, txt, ico, jpg and
 * png, never names containing "strings-" or "views/"). The application may
 * register a function that replaces the whole lookup.
 *
 * While the module is not initialised (upnp_resource_init), lookups still
 * read from disk but nothing is cached. */

#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

/* Entries of the resource cache. */
#define UPNP_RESOURCE_CACHE_SIZE 100

/* Same contract as upnp_resource_get. */
typedef int (*upnp_resource_get_function)(const char *name, uint32_t *size, char **data);

/* Creates the lock if needed and empties the cache. */
void upnp_resource_init(void);
/* Frees every cache entry and deletes the lock. */
void upnp_resource_exit(void);

/* Registers the application's lookup (none restores the built-in one). */
void register_upnp_resource_get_function(upnp_resource_get_function function);

/* Looks up `name` (a query part after the last '?' is ignored). Returns 1
 * with *data a new accounted copy of the content followed by two zero bytes
 * (not counted in *size; free with upnp_free_impl), or 0 with *size 0 and
 * *data none. */
int upnp_resource_get(const char *name, uint32_t *size, char **data);

/* Whether "<program directory>/resources/<name>" exists as a file. */
int upnp_resource_exists(const char *name);

/* Test seam: number of cache entries in use. */
int upnp_resource_cached_count(void);

#ifdef __cplusplus
}
#endif

#endif
