// Timed mutex wait on Linux: pthread_mutex_timedlock against CLOCK_REALTIME.
#include <cerrno>
#include <ctime>

#include "base/upnp_critsec_platform.h"

int upnp_platform_mutex_timedlock(pthread_mutex_t *mutex, unsigned int milliseconds) {
  struct timespec deadline;
  clock_gettime(CLOCK_REALTIME, &deadline);
  deadline.tv_sec += milliseconds / 1000;
  deadline.tv_nsec += static_cast<long>(milliseconds % 1000) * 1000000L;
  if (deadline.tv_nsec >= 1000000000L) {
    deadline.tv_sec += 1;
    deadline.tv_nsec -= 1000000000L;
  }
  return pthread_mutex_timedlock(mutex, &deadline);
}
