// Whole-file replacement (temporary file, sync, rename) and private folders.
#include "media/zel_file_write.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "base/upnp_fd.h"
#include "base/upnp_log.h"

namespace {

bool write_all(int fd, const std::string &bytes) {
  size_t done = 0;
  while (done < bytes.size()) {
    ssize_t n = write(fd, bytes.data() + done, bytes.size() - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    done += static_cast<size_t>(n);
  }
  return true;
}

std::string folder_of(const std::string &path) {
  size_t slash = path.rfind('/');
  if (slash == std::string::npos) return ".";
  return slash == 0 ? "/" : path.substr(0, slash);
}

}  // namespace

bool zel_make_private_folder(const std::string &path) {
  if (path.empty()) return false;
  struct stat st;
  if (lstat(path.c_str(), &st) == 0) {
    if (S_ISLNK(st.st_mode) || !S_ISDIR(st.st_mode)) {
      upnp_log_impl(LOG_LEVEL_ERROR, LOG_SYSTEM, __func__, "%s is no folder of its own", path.c_str());
      return false;
    }
    return true;
  }
  std::string parent = folder_of(path);
  if (parent != path && parent != "/" && parent != "." && !zel_make_private_folder(parent)) return false;
  if (mkdir(path.c_str(), 0700) != 0 && errno != EEXIST) {
    upnp_log_impl(LOG_LEVEL_ERROR, LOG_SYSTEM, __func__, "cannot make %s: %s", path.c_str(), std::strerror(errno));
    return false;
  }
  return lstat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

bool zel_replace_file(const std::string &path, const std::string &bytes) {
  std::string temp = path + ".XXXXXX";
  int fd = upnp_mkstemp(&temp[0]);
  if (fd < 0) {
    upnp_log_impl(LOG_LEVEL_ERROR, LOG_SYSTEM, __func__, "cannot write beside %s: %s", path.c_str(),
                  std::strerror(errno));
    return false;
  }
  bool ok = fchmod(fd, 0600) == 0 && write_all(fd, bytes) && fsync(fd) == 0;
  if (close(fd) != 0) ok = false;
  if (ok && rename(temp.c_str(), path.c_str()) != 0) ok = false;
  if (!ok) {
    upnp_log_impl(LOG_LEVEL_ERROR, LOG_SYSTEM, __func__, "cannot replace %s: %s", path.c_str(), std::strerror(errno));
    unlink(temp.c_str());
    return false;
  }
  // The rename itself is made durable with the folder.
  int dir = open(folder_of(path).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (dir >= 0) {
    fsync(dir);
    close(dir);
  }
  return true;
}

bool zel_read_file(const std::string &path, std::string *bytes) {
  bytes->clear();
  int fd = open(path.c_str(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC);
  if (fd < 0) return false;
  struct stat st;
  if (fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
    close(fd);
    return false;
  }
  char buffer[16384];
  bool ok = true;
  for (;;) {
    ssize_t n = read(fd, buffer, sizeof buffer);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) ok = false;
    if (n <= 0) break;
    bytes->append(buffer, static_cast<size_t>(n));
  }
  close(fd);
  return ok;
}

bool zel_copy_file(const std::string &from, const std::string &to) {
  std::string bytes;
  return zel_read_file(from, &bytes) && zel_replace_file(to, bytes);
}
