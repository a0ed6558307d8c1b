// Thread priorities and names on Linux. SCHED_OTHER takes no static priority,
// so a level is realised as a nice offset that the new thread applies to
// itself (see upnp_thread_platform.h for the table and the rules).
#include <atomic>
#include <cerrno>
#include <cstring>
#include <mutex>
#include <sys/resource.h>
#include <sys/syscall.h>
#include <unistd.h>

#include "base/upnp_base_log.h"
#include "base/upnp_log.h"
#include "base/upnp_thread_platform.h"

namespace {

int process_nice() {
  static const int base = [] {
    errno = 0;
    int value = getpriority(PRIO_PROCESS, 0);
    return errno == 0 ? value : 0;
  }();
  return base;
}

std::once_flag g_refusal_logged;

}  // namespace

extern "C" int upnp_thread_platform_nice_offset(int priority) {
  if (priority <= 10) return 5;
  if (priority <= 30) return 2;
  if (priority < 70) return 0;
  if (priority < 90) return -2;
  return -5;
}

extern "C" int upnp_thread_platform_prepare_attributes(pthread_attr_t *attributes, int priority) {
  (void)attributes;
  (void)priority;
  process_nice();  // fix the base before the first thread can change its own
  return 0;
}

extern "C" void upnp_thread_platform_on_start(int priority) {
  int wanted = process_nice() + upnp_thread_platform_nice_offset(priority);
  pid_t tid = static_cast<pid_t>(syscall(SYS_gettid));
  errno = 0;
  int current = getpriority(PRIO_PROCESS, static_cast<id_t>(tid));
  if (errno == 0 && current == wanted) return;
  if (setpriority(PRIO_PROCESS, static_cast<id_t>(tid), wanted) != 0) {
    int error = errno;
    std::call_once(g_refusal_logged, [error] {
      upnp_base_log(LOG_LEVEL_INFO, "upnp_start_thread",
                    "Thread priorities above the inherited one are not permitted (%s) - threads keep it",
                    std::strerror(error));
    });
  }
}

extern "C" void upnp_thread_platform_set_name(const char *name) {
  char shortened[16];
  std::strncpy(shortened, name, sizeof shortened - 1);
  shortened[sizeof shortened - 1] = '\0';
  pthread_setname_np(pthread_self(), shortened);
}
