// Timed mutex wait on macOS, which has no pthread_mutex_timedlock: try, then
// nap 1 ms, until the time runs out.
#include <cerrno>
#include <ctime>

#include "base/upnp_critsec_platform.h"

int upnp_platform_mutex_timedlock(pthread_mutex_t *mutex, unsigned int milliseconds) {
  for (unsigned int waited = 0;; ++waited) {
    int rc = pthread_mutex_trylock(mutex);
    if (rc != EBUSY) return rc;
    if (waited >= milliseconds) return ETIMEDOUT;
    struct timespec nap = {0, 1000000L};
    nanosleep(&nap, nullptr);
  }
}
