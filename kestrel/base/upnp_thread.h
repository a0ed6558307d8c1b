#ifndef KESTREL_BASE_UPNP_THREAD_H
#define KESTREL_BASE_UPNP_THREAD_H

/* Thread start with a priority level, sleeping and the millisecond clocks. */

#include <pthread.h>
#include <stddef.h>
#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

typedef pthread_t upnp_thread_t;
/* "No thread": what the start functions give when they fail. */
#define UPNP_NO_THREAD ((upnp_thread_t)0)

typedef void *(*upnp_thread_routine)(void *argument);

/* The level the library's worker threads use unless told otherwise. */
#define UPNP_THREAD_LEVEL_DEFAULT 5

/* Scheduling priority requested for a level: 3 -> 10, 4 -> 30, 6 -> 70,
 * 7 -> 90, any other level -> 50. How the platform realises it is described
 * in upnp_thread_platform.h. */
int upnp_thread_priority_for_level(int level);

/* Starts a joinable thread with the platform's default (time-sharing) policy
 * and the priority chosen from `level`. A lack of resources is retried once
 * after 20 ms; any other failure falls back to default attributes. Gives
 * UPNP_NO_THREAD when no thread could be started. */
upnp_thread_t upnp_start_joinable_thread(upnp_thread_routine routine, void *argument, int level);
/* Start as above and detach; 1 when the thread runs, 0 when none started. */
int upnp_start_detached_thread(upnp_thread_routine routine, void *argument, int level);
int upnp_start_thread(upnp_thread_routine routine, void *argument, int level);
/* Waits for a joinable thread; 0 on success, an error number otherwise. */
int upnp_join_thread(upnp_thread_t thread, void **result);
/* Cancels a joinable thread (it still has to be joined). */
int upnp_kill_joinable_thread(upnp_thread_t thread);
/* Names the calling thread for debuggers (up to 15 characters are kept). */
void upnp_init_thread(const char *name);
/* Ends the calling thread. */
void upnp_end_thread(void);

void Sleep(unsigned int milliseconds);
/* Milliseconds since the first call (which records the base and gives 0).
 * Monotonic: not affected by changes of the wall clock. */
uint64_t getSystemTime(void);
/* Local time as "%H:%M:%S" followed by ":%03ld " with the milliseconds, e.g.
 * "17:04:09:042 "; truncated to `size` (always zero-terminated). Returns
 * `buffer`. */
char *upnp_get_logging_timestamp(char *buffer, size_t size);

#ifdef __cplusplus
}
#endif

#endif
