#ifndef KESTREL_BASE_UPNP_THREAD_PLATFORM_H
#define KESTREL_BASE_UPNP_THREAD_PLATFORM_H

/* How a thread's scheduling priority (10..90, from upnp_thread_priority_for_level)
 * is realised, one file per platform. Internal.
 *
 * macOS: the creation attributes ask for the time-sharing policy with that
 * static priority (explicit scheduling).
 * Linux: the time-sharing policy accepts no static priority, so the
 * attributes stay at their defaults and the new thread adjusts its own nice
 * value instead, relative to the process's nice value when the layer was
 * first used: 10 -> +5, 30 -> +2, 50 -> 0, 70 -> -2, 90 -> -5. Lowering the
 * priority always works; raising it needs the right to do so (root or
 * RLIMIT_NICE). Without it the thread keeps the priority it inherited, and
 * this is logged once per process, not on every start. */

#include <pthread.h>

#ifdef __cplusplus
extern "C" {
#endif

/* Prepares creation attributes for `priority`; 0 or an error number. */
int upnp_thread_platform_prepare_attributes(pthread_attr_t *attributes, int priority);
/* Runs first thing on the new thread. */
void upnp_thread_platform_on_start(int priority);
/* Names the calling thread. */
void upnp_thread_platform_set_name(const char *name);
/* The nice offset used for a priority (Linux mapping; 0 on other platforms). */
int upnp_thread_platform_nice_offset(int priority);

/* Test seam: the function that creates threads (none restores
 * pthread_create), to provoke the retry and fallback paths. */
typedef int (*upnp_thread_create_fn)(pthread_t *thread, const pthread_attr_t *attributes,
                                     void *(*routine)(void *), void *argument);
void upnp_thread_set_create_function(upnp_thread_create_fn create);

#ifdef __cplusplus
}
#endif

#endif
