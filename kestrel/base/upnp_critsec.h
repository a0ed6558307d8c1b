#ifndef KESTREL_BASE_UPNP_CRITSEC_H
#define KESTREL_BASE_UPNP_CRITSEC_H

/* Recursive critical sections with an owner and a recursion count, the only
 * kind of lock the library uses, plus the upnp_client_*_mutex helpers that
 * the locked lists and the controller build on. */

#include <pthread.h>
#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

typedef struct CRITICAL_SECTION {
  pthread_mutex_t mutex;
  /* Identity of the owning thread, 0 when free. Read by other threads
   * (atomically) to tell "mine" from "someone else's"; written by the owner. */
  uintptr_t owner;
  /* Recursion count: 0 when held once, n when entered n + 1 times. */
  uint32_t count;
} CRITICAL_SECTION;

void InitializeCriticalSection(CRITICAL_SECTION *cs);
void DeleteCriticalSection(CRITICAL_SECTION *cs);
/* Re-entering from the owner only counts up (and logs it at level 3). */
void EnterCriticalSection(CRITICAL_SECTION *cs);
/* Leaving from a thread that does not own the section logs it, clears the
 * owner and unlocks; from the owner it counts down and unlocks at 0. */
void LeaveCriticalSection(CRITICAL_SECTION *cs);

/* Non-blocking enter: 1 when the caller now holds the section (also when it
 * already did, which counts up like EnterCriticalSection), 0 when another
 * thread holds it. */
int upnp_critical_section_try_enter(CRITICAL_SECTION *cs);
/* 1 when the calling thread owns the section. */
int upnp_critical_section_is_owned(const CRITICAL_SECTION *cs);

/* A new heap-allocated (accounted) critical section, already entered by the
 * caller when `locked` is non-zero; none when out of memory. */
CRITICAL_SECTION *upnp_client_create_mutex(int locked);
/* Enters *mutex. Succeeds (1) only while *mutex is still the same section
 * once it is held and, unless `force`, while the library's server is running
 * or restarting (see upnp_server_state.h). A waiting caller gives up once the
 * server has stopped instead of blocking for good. On failure (0) nothing is
 * held. */
int upnp_client_lock_mutex(CRITICAL_SECTION **mutex, int force);
/* Leaves *mutex; 0 when there is no section. */
int upnp_client_unlock_mutex(CRITICAL_SECTION **mutex);
/* Takes the section (unless `already_held`), clears the reference and leaves
 * it. Threads that were waiting for it through the reference then give up;
 * the section is deleted and freed once none of them can still touch it (by
 * the last one to let go, or at once when none was waiting). */
void upnp_client_delete_mutex(CRITICAL_SECTION **mutex, int already_held);

#ifdef __cplusplus
}
#endif

#endif
