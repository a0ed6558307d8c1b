// The application launcher: runs the configured launch command with the
// application's path as $1 and does not wait for what it starts; without a
// command it only records the request.
#include <spawn.h>
#include <sys/wait.h>

#include <cerrno>

#include <mutex>
#include <string>

#include "base/upnp_log.h"
#include "base/upnp_mem.h"
#include "media/zel_platform.h"
#include "media/zel_site_config.h"

extern char **environ;

namespace {

// The last request, read by callers on any thread.
std::mutex g_lock;
std::string g_last;
bool g_requested = false;

}  // namespace

bool MULaunchApp(const char *path) {
  if (!path) return false;
  {
    std::lock_guard<std::mutex> hold(g_lock);
    g_last = path;
    g_requested = true;
  }
  std::string command = zel_site_get(ZEL_SITE_LAUNCH_COMMAND);
  if (command.empty()) {
    upnp_log_impl(LOG_LEVEL_INFO, LOG_SYSTEM, __func__, "no launch command configured; request for %s recorded", path);
    return true;
  }
  // The shell puts the command in the background and ends at once, so the
  // wait below is short and leaves no child behind.
  std::string script = command + " \"$1\" >/dev/null 2>&1 </dev/null &";
  const char *argv[] = {"/bin/sh", "-c", script.c_str(), "sh", path, nullptr};
  pid_t pid = 0;
  if (posix_spawn(&pid, "/bin/sh", nullptr, nullptr, const_cast<char *const *>(argv), environ) != 0) {
    upnp_log_impl(LOG_LEVEL_ERROR, LOG_SYSTEM, __func__, "cannot start the launch command for %s", path);
    return false;
  }
  int status = 0;
  while (waitpid(pid, &status, 0) < 0) {
    if (errno != EINTR) return false;
  }
  return WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

char *MULastLaunchRequest(void) {
  std::lock_guard<std::mutex> hold(g_lock);
  return g_requested ? upnp_strdup_impl(g_last.c_str()) : nullptr;
}
