#ifndef KESTREL_NMC_LM_NMC_ACROSS_H
#define KESTREL_NMC_LM_NMC_ACROSS_H

/* Work across devices, built over the renderer, queue and server functions:
 *
 * Handoff: what plays on one renderer moves to another one (its queue, the
 * entry playing and the position). The new renderer plays the same entry
 * from the same queue and is sought to the old renderer's position by
 * time; a renderer that cannot seek by time starts the entry from its
 * start, and the report says so. The old renderer is stopped only once the
 * new one plays; when the new one fails (refuses, never reaches PLAYING,
 * leaves) the old one keeps playing untouched and the new one gets its own
 * queue back.
 *
 * Search across servers: one query goes to every listed server that offers
 * Search, each on a thread of its own and each bounded in time; results are
 * merged in the order they arrive (a page read earlier keeps its rows as
 * more arrive), servers without Search are named as skipped, a server that
 * does not answer within its bound is named as such. Every result row
 * carries the object's bookmark, which lm_queue_add_bookmark (lm_queue.h)
 * takes, so a result plays directly.
 *
 * Results as in lm_nmc.h. Every function that takes a report buffer writes
 * what happened (or what failed and why) in words into it, cut to its
 * size; 256 bytes hold any report but the longest device names. */

#include <stdint.h>

#include "nmc/lm_nmc.h"

#ifdef __cplusplus
extern "C" {
#endif

/* ---- Handoff. ---- */
/* from and to name renderers by UDN ("uuid:...") or by position in the
 * renderer list ("0", "1", ...). Answers 0 when the new renderer plays (and
 * the old one was stopped); 2 for a missing name or the same renderer
 * twice; 3 when a name is no listed renderer or the new renderer left
 * during the handoff; 9 when nothing plays on the old renderer; 6 when the
 * new renderer does not answer or did not reach PLAYING within wait_ms (0:
 * 15 s, at most 120 s); 9 also when the new renderer refused every entry
 * of the queue (each one it refuses is skipped, as when a queue plays);
 * another code of the new renderer's as it came. */
KESTREL_API lm_nmc_result_t lm_nmc_handoff(const char *from, const char *to, uint32_t wait_ms, uint32_t size,
                                           char *report);

/* ---- Search across servers. ---- */
/* Status of one server in a search. */
#define LM_NMC_SEARCH_ALL_PENDING 0u
#define LM_NMC_SEARCH_ALL_ANSWERED 1u
#define LM_NMC_SEARCH_ALL_SKIPPED 2u   /* the server offers no Search */
#define LM_NMC_SEARCH_ALL_TIMED_OUT 3u /* no answer within the bound */
#define LM_NMC_SEARCH_ALL_FAILED 4u    /* the server refused or failed */

/* Called once per server as its results arrive (merged already) or its
 * status becomes final, on the searching thread, with no controller lock
 * held: fn(search, server UDN, server name, status, rows from this server,
 * rows merged so far, user). */
typedef void (*lm_nmc_search_all_callback)(uint32_t search, const char *udn, const char *name, uint32_t status,
                                           uint32_t found, uint32_t merged, void *user);

/* Most rows taken from one server. */
#define LM_NMC_SEARCH_ALL_MAX_PER_SERVER 500u
/* Most searches held at once (each until lm_nmc_search_all_release). */
#define LM_NMC_SEARCH_ALL_MAX_HELD 16u

/* Runs the query (a simple query or a whole criteria text, as
 * lm_dmscp_search takes it) on every listed server; returns once every
 * server answered or its bound (per_server_ms, 0: 5 s, at most 60 s) passed.
 * *search_out names the merged result for the functions below. 2 for an
 * empty query, 22 when LM_NMC_SEARCH_ALL_MAX_HELD searches are held, 9 when
 * no server is listed (nothing is held then). */
KESTREL_API lm_nmc_result_t lm_nmc_search_all(const char *query, uint32_t per_server_ms,
                                              lm_nmc_search_all_callback callback, void *user, uint32_t *search_out);
/* Rows merged (servers still searching may add more). */
KESTREL_API lm_nmc_result_t lm_nmc_search_all_get_count(uint32_t search, uint32_t *count);
/* Rows start .. start+count-1 (count 0: all from start), one line each:
 * "INDEX\tTITLE\tCLASS\tSERVER NAME\tBOOKMARK\n" (tabs and line ends in
 * titles and names read as blanks). 9 when start is beyond the rows. */
KESTREL_API lm_nmc_result_t lm_nmc_search_all_get_page(uint32_t search, uint32_t start, uint32_t count, uint32_t size,
                                                       char *buffer);
/* One line per server in list order: "UDN\tNAME\tSTATUS\tROWS\tWORDS\n"
 * with STATUS "answered", "skipped", "no answer", "failed" or "searching"
 * and WORDS saying why ("offers no Search", "no answer within 5000 ms",
 * "Search refused: 708 ..."). */
KESTREL_API lm_nmc_result_t lm_nmc_search_all_get_servers(uint32_t search, uint32_t size, char *buffer);
/* Ends a search; servers still searching finish on their own threads and
 * their rows are dropped. 1 for an unknown search. */
KESTREL_API lm_nmc_result_t lm_nmc_search_all_release(uint32_t search);

/* ---- Cancelling a handoff or a search. ---- */
/* A cancel flag: made by lm_nmc_cancel_create (22 when
 * LM_NMC_CANCEL_MAX_HELD flags are held), set from any thread by
 * lm_nmc_cancel_set, ended by lm_nmc_cancel_delete (1 for an unknown flag).
 * A call given flag 0 cannot be cancelled. */
#define LM_NMC_CANCEL_MAX_HELD 64u
/* The result of a call that was cancelled. */
#define LM_NMC_CANCELLED 20u
KESTREL_API lm_nmc_result_t lm_nmc_cancel_create(uint32_t *cancel);
KESTREL_API lm_nmc_result_t lm_nmc_cancel_set(uint32_t cancel);
KESTREL_API lm_nmc_result_t lm_nmc_cancel_delete(uint32_t cancel);

/* lm_nmc_handoff that stops when the flag is set: before the queue moves,
 * or while it waits for the new renderer to play; the new renderer is then
 * stopped and gets its own queue back, the old one keeps playing, and the
 * answer is LM_NMC_CANCELLED. A flag set once the new renderer plays
 * changes nothing (the handoff is done). */
KESTREL_API lm_nmc_result_t lm_nmc_handoff_cancellable(const char *from, const char *to, uint32_t wait_ms,
                                                       uint32_t cancel, uint32_t size, char *report);
/* lm_nmc_search_all that stops waiting when the flag is set: it answers 0
 * with what was merged so far held under *search_out, and the servers
 * still searching are named "no answer" ("cancelled before it answered"). */
KESTREL_API lm_nmc_result_t lm_nmc_search_all_cancellable(const char *query, uint32_t per_server_ms, uint32_t cancel,
                                                          lm_nmc_search_all_callback callback, void *user,
                                                          uint32_t *search_out);

#ifdef __cplusplus
}
#endif

#endif
