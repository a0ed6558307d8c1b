// Per-user data root on Linux: $XDG_DATA_HOME when it holds an absolute path,
// else ~/.local/share; "/var/lumetmedia" for the superuser.
#include "base/platform/upnp_appdata_dir.h"

#include <cstdlib>
#include <pwd.h>
#include <unistd.h>

std::string upnp_app_data_root(bool privileged, const char *data_home, const char *home) {
  if (privileged) return "/var/lumetmedia";
  if (data_home != nullptr && data_home[0] == '/') return data_home;
  if (home != nullptr && home[0] != '\0') {
    std::string root = home;
    if (root.back() != '/') root += '/';
    return root + ".local/share";
  }
  return std::string();
}

std::string getAppDataDir() {
  uid_t uid = geteuid();
  struct passwd entry;
  struct passwd *found = nullptr;
  char buffer[4096];
  getpwuid_r(uid, &entry, buffer, sizeof buffer, &found);
  bool privileged = uid == 0 || found == nullptr;
  const char *home = std::getenv("HOME");
  if ((home == nullptr || home[0] == '\0') && found != nullptr) home = found->pw_dir;
  return upnp_app_data_root(privileged, std::getenv("XDG_DATA_HOME"), home);
}
