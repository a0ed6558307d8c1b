// Folders of the platform: the per-user application-data folder (the XDG data
// folder, or the folder an environment variable names), folder listings and
// the file that holds the library's own code.
#include <dirent.h>
#include <dlfcn.h>

#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "base/upnp_mem.h"
#include "media/zel_platform.h"

char *MUGetAppDataFolder(void) {
  const char *over = std::getenv("KESTREL_APP_SUPPORT_DIR");
  if (over && over[0] == '/') return upnp_strdup_impl(over);
  const char *data_home = std::getenv("XDG_DATA_HOME");
  if (data_home && data_home[0] == '/') return upnp_strdup_impl(data_home);
  const char *home = std::getenv("HOME");
  if (!home || home[0] != '/') return nullptr;
  std::string path = home;
  if (path.back() != '/') path += '/';
  path += ".local/share";
  return upnp_strdup_impl(path.c_str());
}

char **MUGetFilesInFolder(const char *path) {
  if (!path) return nullptr;
  DIR *dir = opendir(path);
  if (!dir) return nullptr;
  std::vector<char *> names;
  bool failed = false;
  while (struct dirent *entry = readdir(dir)) {
    if (std::strcmp(entry->d_name, ".") == 0 || std::strcmp(entry->d_name, "..") == 0) continue;
    char *name = upnp_strdup_impl(entry->d_name);
    if (!name) {
      failed = true;
      break;
    }
    names.push_back(name);
  }
  closedir(dir);
  char **list = failed ? nullptr : static_cast<char **>(upnp_calloc_impl(names.size() + 1, sizeof(char *)));
  if (!list) {
    for (char *name : names) upnp_free_impl(name);
    return nullptr;
  }
  for (size_t i = 0; i < names.size(); ++i) list[i] = names[i];
  return list;
}

char *MUGetOwnImagePath(void) {
  Dl_info info;
  std::memset(&info, 0, sizeof info);
  if (dladdr(reinterpret_cast<void *>(&MUGetOwnImagePath), &info) == 0 || !info.dli_fname || !info.dli_fname[0]) {
    return nullptr;
  }
  // A program's own name can come back relative to the working folder.
  if (info.dli_fname[0] != '/') {
    char *absolute = realpath(info.dli_fname, nullptr);
    if (!absolute) return nullptr;
    char *copy = upnp_strdup_impl(absolute);
    std::free(absolute);
    return copy;
  }
  return upnp_strdup_impl(info.dli_fname);
}
