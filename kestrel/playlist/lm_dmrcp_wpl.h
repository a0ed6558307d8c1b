#ifndef KESTREL_PLAYLIST_LM_DMRCP_WPL_H
#define KESTREL_PLAYLIST_LM_DMRCP_WPL_H

/* A renderer's play queue written out as WPL playlist text, and WPL text
 * read into a queue. The text never touches a file here: an import pulls it
 * from the application in chunks through a callback, an export hands it out
 * in chunks through another. Each runs on a thread of its own ("NMC WPL
 * Handler") that the controller's stop joins with its bound.
 *
 * Both entry points answer 0 once the thread runs; then the callback makes
 * exactly one final (import) or end (export) call. Any other answer means no
 * callback call at all. At most LM_DMRCP_WPL_MAX_ACTIVE transfers run at
 * once (22 beyond). The playlists built or parsed are private to the
 * transfer: a playlist of the application's with the same title and type is
 * never read, changed or deleted, and two exports never share one. */

#include <stdint.h>

#include "export.h"
#include "nmc/lm_nmc.h"

#ifdef __cplusplus
extern "C" {
#endif

/* The only format: WPL. */
#define LM_DMRCP_WPL_FORMAT 0u
/* Chunk size (bytes) when the caller gives 0. */
#define LM_DMRCP_WPL_DEFAULT_CHUNK 8192u
/* Longest playlist text an import reads (bytes); more ends it with 10. */
#define LM_DMRCP_WPL_MAX_TEXT (16u * 1024u * 1024u)
/* Imports and exports running at once. */
#define LM_DMRCP_WPL_MAX_ACTIVE 8u

/* Import callback fn(context, &user data, chunk size, buffer, &length):
 * writes up to chunk size bytes of the text into buffer, stores their count
 * in *length (cleared before each call) and answers non-zero while more
 * follows. A count above the chunk size ends the import with 10. The final
 * call is fn(context, &user data, result code, none, &length); its answer is
 * ignored. The result is that of the last entry handled (0 for an empty
 * text or playlist, 2 when that entry could not be added). */
typedef int (*lm_dmrcp_import_callback)(uint32_t context, void **user_data, uint32_t size, char *buffer,
                                        uint32_t *length);
/* Export callback fn(context, &user data, queue text, data, count): the
 * next count bytes (at most the chunk size) of the text; non-zero goes on.
 * The end is a call with no data and count 0 (not made after a 0 answer).
 * The queue text is "<QueueID>id</QueueID>". */
typedef int (*lm_dmrcp_export_callback)(uint32_t context, void **user_data, const char *queue, const char *data,
                                        uint32_t count);

/* Reads a WPL text into the queue of the renderer context's renderer, each
 * entry after the queue cursor in order: an http URL (the "bookmark"
 * attribute, else the source) with the item's "metadata" attribute, a
 * server object by its bookmark. 2 without a callback or for another
 * format, the context's own error (1, 3) when it names no renderer, 8 or 22
 * when the thread cannot be had, 11 when the controller cannot run. */
KESTREL_API lm_nmc_result_t lm_dmrcp_import_queue(uint32_t context, void *user_data, uint32_t format,
                                                  uint32_t chunk_size, lm_dmrcp_import_callback callback);
/* Writes the queue of the renderer context's renderer as WPL text: each
 * entry's location and "udn", "objectId", "metadata" (entries that are no
 * server object) and "bookmark" attributes; the type follows the kinds of
 * the entries. 2 without a callback or for another format, the context's
 * error, 500 when the renderer has no queue, 8 or 22 as the import. */
KESTREL_API lm_nmc_result_t lm_dmrcp_export_queue(uint32_t context, void *user_data, uint32_t format,
                                                  uint32_t chunk_size, lm_dmrcp_export_callback callback);

#ifdef __cplusplus
}
#endif

#endif
