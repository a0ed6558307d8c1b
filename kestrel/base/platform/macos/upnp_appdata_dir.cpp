// Per-user data root on macOS: the user's "Library/Application Support";
// "/var/lumetmedia" for the superuser.
#include "base/platform/upnp_appdata_dir.h"

#include <cstdio>
#include <pwd.h>
#include <unistd.h>

std::string upnp_app_data_root(bool privileged, const char * /*data_home*/, const char *home) {
  if (privileged) return "/var/lumetmedia";
  if (home == nullptr || home[0] == '\0') return std::string();
  char root[1024];
  std::snprintf(root, sizeof root, "%s/Library/Application Support", home);
  return root;
}

std::string getAppDataDir() {
  uid_t uid = geteuid();
  struct passwd entry;
  struct passwd *found = nullptr;
  char buffer[4096];
  getpwuid_r(uid, &entry, buffer, sizeof buffer, &found);
  bool privileged = uid == 0 || found == nullptr;
  return upnp_app_data_root(privileged, nullptr, found != nullptr ? found->pw_dir : nullptr);
}
