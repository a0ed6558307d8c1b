// The command line of the configuration store, the program path and the data
// directory.
#include "base/upnp_ini_file.h"

#include "base/platform/upnp_appdata_dir.h"
#include "base/upnp_ini_file_internal.h"
#include "base/upnp_log.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <mutex>
#include <string>
#include <strings.h>
#include <system_error>
#include <vector>

namespace fs = std::filesystem;

namespace {

// g_strLumetMedia: the application name under the data root. It may be set
// before the store is initialised and outlives its release.
std::mutex g_app_name_guard;
std::string g_strLumetMedia = "lumetmedia";

void print_usage(const char *program) {
  std::printf(
      "\n"
      "usage: %s\n"
      "\n"
      "       all params from the .ini file can be used as an option, preceded by a -\n"
      "       e.g. %s -v 255\n"
      "       -inifile path and filename of ini file\n"
      "       -inipath path to ini file\n"
      "       -ininame filename of ini file\n",
      program, program);
  std::fflush(stdout);
}

// Program path and its directory (the text before the last '/'); under the lock.
void remember_exe_locked(const char *path) {
  g_ini.exe_name = path != nullptr ? path : "";
  size_t slash = g_ini.exe_name.rfind('/');
  g_ini.exe_dir = slash == std::string::npos ? std::string() : g_ini.exe_name.substr(0, slash);
  g_ini.exe_known = true;
}

bool is_ignored(const char *word) {
  bool ignored = false;
  if (ini_lock()) {
    for (const std::string &w : g_ini.ignored_params) {
      if (w == word) ignored = true;
    }
    ini_unlock();
  }
  return ignored;
}

std::string copy_of(const char *text) { return text != nullptr ? text : ""; }

// Removable media: a path containing ".lumet" (ignoring case) lies on a
// medium that is present when the folder before ".lumet" exists.
bool is_removable(const std::string &path) { return strcasestr(path.c_str(), ".lumet") != nullptr; }

bool removable_present(const std::string &path) {
  const char *at = strcasestr(path.c_str(), ".lumet");
  std::string media = path.substr(0, static_cast<size_t>(at - path.c_str()));
  while (!media.empty() && (media.back() == '/' || media.back() == '\\')) media.pop_back();
  std::error_code ec;
  return !media.empty() && fs::is_directory(media, ec);
}

bool may_create(const std::string &path) { return !is_removable(path) || removable_present(path); }

std::string join(const std::string &dir, const std::string &name) {
  if (dir.empty()) return name;
  if (dir.back() == '/') return dir + name;
  return dir + "/" + name;
}

// When the ini file does not exist yet, copies each registered default file
// onto it (from the inipath folder, else the program folder).
void copy_default_files() {
  std::string ini_path;
  std::string ini_dir;
  std::string exe_dir;
  std::vector<std::string> defaults;
  if (!ini_lock()) return;
  ini_path = ini_path_locked();
  const IniProperty *p = ini_find(INI_INIPATH);
  ini_dir = p != nullptr ? copy_of(ini_effective(*p)) : "";
  exe_dir = g_ini.exe_dir;
  defaults = g_ini.default_files;
  ini_unlock();

  std::error_code ec;
  if (fs::exists(ini_path, ec)) return;
  for (const std::string &name : defaults) {
    std::string in_ini_dir = join(ini_dir, name);
    std::string in_exe_dir = join(exe_dir, name);
    if (fs::is_regular_file(in_ini_dir, ec)) {
      if (fs::copy_file(in_ini_dir, ini_path, fs::copy_options::overwrite_existing, ec)) {
        upnp_log_impl(LOG_LEVEL_INFO, LOG_SYSTEM, nullptr, "existing ini file %s copied to %s", in_ini_dir.c_str(),
                      ini_path.c_str());
      }
    } else if (fs::is_regular_file(in_exe_dir, ec)) {
      if (fs::copy_file(in_exe_dir, ini_path, fs::copy_options::overwrite_existing, ec)) {
        upnp_log_impl(LOG_LEVEL_INFO, LOG_SYSTEM, nullptr, "exisiting ini file %s copied to %s", in_exe_dir.c_str(),
                      ini_path.c_str());
      }
    }
  }
}

}  // namespace

extern "C" void upnp_ini_file_init_DATA_Dir(void) {
  std::string root = getAppDataDir();
  std::string app_name;
  std::string exe_dir;
  {
    std::lock_guard<std::mutex> hold(g_app_name_guard);
    app_name = g_strLumetMedia;
  }
  if (!ini_lock()) return;
  exe_dir = g_ini.exe_dir;
  ini_unlock();

  std::string candidate = root.empty() ? exe_dir : root + "/" + app_name;
  std::string appdata = copy_of(upnp_ini_file_getString(INI_APPDATA));
  std::error_code ec;
  if (appdata.empty()) {
    upnp_ini_file_setPropertyByKey(INI_APPDATA, candidate.c_str());
    if (!candidate.empty() && may_create(candidate)) fs::create_directories(candidate, ec);
    appdata = candidate;
  } else if (may_create(appdata)) {
    fs::create_directories(appdata, ec);
  }
  const char *inipath = upnp_ini_file_getString(INI_INIPATH);
  if (inipath == nullptr || inipath[0] == '\0') upnp_ini_file_setPropertyByKey(INI_INIPATH, appdata.c_str());
}

extern "C" int upnp_ini_file_parse_cmdline(int argc, const char *const *argv) {
  if (argc > 0 && argv != nullptr && ini_lock()) {
    if (!g_ini.exe_known) remember_exe_locked(argv[0]);
    ini_unlock();
  }
  for (int i = 1; argv != nullptr && i < argc; ++i) {
    const char *word = argv[i];
    if (word == nullptr) continue;
    if (std::strchr(word, '?') != nullptr || std::strstr(word, "help") != nullptr) {
      print_usage(argv[0] != nullptr ? argv[0] : "");
      return 1;
    }
    if (word[0] != '-' || is_ignored(word)) continue;
    const char *name = word + 1;
    if (*name == '-') ++name;
    const char *value = "";
    if (i + 1 < argc && argv[i + 1] != nullptr && argv[i + 1][0] != '-') value = argv[++i];
    if (std::strcmp(name, "inifile") == 0) {
      std::string path = value;
      size_t slash = path.rfind('/');
      std::string dir = slash == std::string::npos ? std::string() : path.substr(0, slash);
      std::string file = slash == std::string::npos ? path : path.substr(slash + 1);
      upnp_ini_file_setProperty(INI_INIPATH, dir.c_str(), 1, 1);
      upnp_ini_file_setProperty(INI_ININAME, file.c_str(), 1, 1);
    } else {
      setPropertyByStringkey(name, value, 1, 1);
    }
  }
  upnp_ini_file_init_DATA_Dir();
  copy_default_files();
  upnp_ini_file_read_properties();
  upnp_ini_file_reset_restartPending();
  return 0;
}

extern "C" void upnp_ini_file_read_cmdline(int argc, const char *const *argv) {
  if (upnp_ini_file_parse_cmdline(argc, argv) != 0) std::exit(1);
}

extern "C" void upnp_ini_file_add_default_file(const char *file_name) {
  if (file_name == nullptr || !ini_lock()) return;
  g_ini.default_files.emplace_back(file_name);
  ini_unlock();
}

extern "C" int upnp_ini_file_add_ignored_cmdline_param(const char *word) {
  if (word == nullptr || !ini_lock()) return 0;
  int added = 0;
  if (g_ini.ignored_params.size() < UPNP_INI_MAX_IGNORED_PARAMS) {
    g_ini.ignored_params.emplace_back(word);
    added = 1;
  }
  ini_unlock();
  return added;
}

extern "C" void upnp_ini_file_set_default_appname(const char *name) {
  std::lock_guard<std::mutex> hold(g_app_name_guard);
  g_strLumetMedia.assign(name != nullptr ? name : "", name != nullptr ? strnlen(name, 1023) : 0);
  if (g_strLumetMedia.empty()) g_strLumetMedia = "lumetmedia";
}

extern "C" void upnp_set_EXE_Name(const char *path) {
  if (!ini_lock()) return;
  remember_exe_locked(path);
  ini_unlock();
}

extern "C" const char *upnp_ini_file_get_EXE_Name(void) {
  if (!ini_lock()) return nullptr;
  const char *name = g_ini.exe_known ? g_ini.exe_name.c_str() : nullptr;
  ini_unlock();
  return name;
}

extern "C" const char *upnp_ini_file_get_EXE_Dir(void) {
  if (!ini_lock()) return nullptr;
  const char *dir = g_ini.exe_known ? g_ini.exe_dir.c_str() : nullptr;
  ini_unlock();
  return dir;
}
