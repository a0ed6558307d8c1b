// The control point's log file in the application-data folder.
#include "media/zel_control_point_log.h"

#include <sys/stat.h>

#include "base/upnp_log.h"
#include "media/zel_util.h"

namespace {

// The folder exists as a folder of its own: made here when missing, and not
// a symbolic link (the settings folder is never written through one).
bool own_folder(const char *folder) {
  (void)mkdir(folder, 0700);
  struct stat info;
  return lstat(folder, &info) == 0 && S_ISDIR(info.st_mode);
}

}  // namespace

bool ZelControlPointOpenLog() {
  if (upnp_log_initialized()) return true;
  char folder[4096];
  char path[4096];
  if (ZelUtil::GetLMAppDataPath(folder, sizeof folder) && own_folder(folder) &&
      ZelUtil::CreatePathToLMAppDataFile("LumetControlPoint-log.txt", path, sizeof path) && upnp_log_init(path) == 1)
    return true;
  // Anywhere but the host's standard output.
  (void)upnp_log_init("/dev/null");
  return false;
}
