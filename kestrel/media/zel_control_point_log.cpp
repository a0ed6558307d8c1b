// The control point's log file in the application-data folder.
#include "media/zel_control_point_log.h"

#include <sys/stat.h>

#include "base/upnp_log.h"
#include "media/zel_util.h"

bool ZelControlPointOpenLog() {
  if (upnp_log_initialized()) return true;
  char folder[4096];
  char path[4096];
  if (!ZelUtil::GetLMAppDataPath(folder, sizeof folder) ||
      !ZelUtil::CreatePathToLMAppDataFile("LumetControlPoint-log.txt", path, sizeof path))
    return false;
  (void)mkdir(folder, 0700);  // an existing folder is fine
  return upnp_log_init(path) == 1;
}
