// First-start notes of the terminal mode.
#include "host_first_start.h"

#include <dlfcn.h>
#include <link.h>
#include <sys/stat.h>

#include <cstdlib>

namespace host {

namespace {

bool is_file(const std::string &path) {
  struct stat st {};
  return stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode);
}

std::string env(const char *name) {
  const char *value = std::getenv(name);
  return value != nullptr ? value : "";
}

}  // namespace

std::string settings_file_path() {
  std::string folder = env("KESTREL_APP_SUPPORT_DIR");
  if (folder.empty()) folder = env("XDG_DATA_HOME");
  if (folder.empty()) folder = env("HOME").empty() ? std::string() : env("HOME") + "/.local/share";
  if (folder.empty()) return "";
  return folder + "/LumetMedia/LumetPluginSettings.ini";
}

std::string loaded_file(void *handle, const std::string &fallback) {
  struct link_map *map = nullptr;
  if (handle == nullptr || dlinfo(handle, RTLD_DI_LINKMAP, &map) != 0 || map == nullptr || map->l_name == nullptr ||
      map->l_name[0] != '/')
    return fallback;
  return map->l_name;
}

std::vector<std::string> first_start_notes(const std::string &library_path) {
  std::vector<std::string> notes;
  const std::string settings = settings_file_path();
  if (settings.empty()) {
    notes.push_back("no settings folder (neither KESTREL_APP_SUPPORT_DIR, XDG_DATA_HOME nor HOME is set): defaults "
                    "used, and changes are not saved");
  } else if (!is_file(settings)) {
    notes.push_back("no settings file yet: defaults used, saved at " + settings + " on the first change");
  }
  size_t slash = library_path.rfind('/');
  const std::string device_file = (slash == std::string::npos ? std::string() : library_path.substr(0, slash + 1)) +
                                  "deviceinfo.xml";
  if (!is_file(device_file)) {
    notes.push_back("no device information file (" + device_file + "): devices are shown with their own names");
  }
  return notes;
}

}  // namespace host
