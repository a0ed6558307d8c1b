#ifndef KESTREL_BASE_UPNP_CRITSEC_PLATFORM_H
#define KESTREL_BASE_UPNP_CRITSEC_PLATFORM_H

/* Waiting for a mutex with a time limit (one file per platform). Internal. */

#include <pthread.h>

/* 0 when locked, ETIMEDOUT when the time ran out, another error number on
 * failure. */
int upnp_platform_mutex_timedlock(pthread_mutex_t *mutex, unsigned int milliseconds);

#endif
