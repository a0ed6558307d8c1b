// The upload staging folder and its files.
#include "webapi/webapi_upload_folder.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdio>
#include <mutex>
#include <random>

#include "base/upnp_ini_file.h"
#include "base/upnp_log.h"

namespace {

// Set by tests, read by request threads.
std::mutex g_parent_mutex;
std::string g_parent;
std::atomic<unsigned> g_counter{0};

bool private_folder(const std::string &path) {
  struct stat st;
  if (lstat(path.c_str(), &st) != 0) return false;
  return S_ISDIR(st.st_mode) && st.st_uid == geteuid() && (st.st_mode & 0777) == 0700;
}

}  // namespace

void webapi_upload_set_parent(const char *path) {
  std::lock_guard<std::mutex> hold(g_parent_mutex);
  g_parent = path ? path : "";
}

std::string webapi_upload_folder(void) {
  std::string parent;
  {
    std::lock_guard<std::mutex> hold(g_parent_mutex);
    parent = g_parent;
  }
  if (parent.empty()) {
    const char *appdata = upnp_ini_file_getString(INI_APPDATA);
    if (appdata) parent = appdata;
  }
  if (parent.empty()) return "";
  std::string folder = parent + "/webapi-uploads";
  if (mkdir(folder.c_str(), 0700) != 0 && errno != EEXIST) {
    upnp_log_impl(LOG_LEVEL_ERROR, LOG_HTTP, __func__, "cannot create the upload folder %s", folder.c_str());
    return "";
  }
  if (!private_folder(folder)) {
    upnp_log_impl(LOG_LEVEL_ERROR, LOG_HTTP, __func__, "upload folder %s is not a private folder", folder.c_str());
    return "";
  }
  return folder;
}

std::string webapi_upload_new_file(const std::string &folder) {
  std::random_device random;
  for (int attempt = 0; attempt < 8; ++attempt) {
    char name[96];
    std::snprintf(name, sizeof name, "/upload-%d-%u-%08x.part", static_cast<int>(getpid()), g_counter.fetch_add(1),
                  static_cast<unsigned>(random()));
    std::string path = folder + name;
    int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
    if (fd >= 0) {
      close(fd);
      return path;
    }
    if (errno != EEXIST) break;
  }
  return "";
}
