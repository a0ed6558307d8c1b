// Thread priorities and names on macOS: the time-sharing policy with an
// explicit static priority in the creation attributes.
#include <cstring>
#include <sched.h>

#include "base/upnp_thread_platform.h"

extern "C" int upnp_thread_platform_nice_offset(int priority) {
  (void)priority;
  return 0;
}

extern "C" int upnp_thread_platform_prepare_attributes(pthread_attr_t *attributes, int priority) {
  int rc = pthread_attr_setinheritsched(attributes, PTHREAD_EXPLICIT_SCHED);
  if (rc == 0) rc = pthread_attr_setschedpolicy(attributes, SCHED_OTHER);
  if (rc == 0) {
    struct sched_param param;
    std::memset(&param, 0, sizeof param);
    param.sched_priority = priority;
    rc = pthread_attr_setschedparam(attributes, &param);
  }
  return rc;
}

extern "C" void upnp_thread_platform_on_start(int priority) { (void)priority; }

extern "C" void upnp_thread_platform_set_name(const char *name) {
  char shortened[64];
  std::strncpy(shortened, name, sizeof shortened - 1);
  shortened[sizeof shortened - 1] = '\0';
  pthread_setname_np(shortened);
}
