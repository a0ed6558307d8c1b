// Files and temporary files opened with close-on-exec (pipes: one file per
// platform under platform/).
#include "base/upnp_fd.h"

#include <cerrno>
#include <cstdlib>
#include <fcntl.h>
#include <unistd.h>

extern "C" FILE *upnp_fopen(const char *path, const char *mode) {
  if (path == nullptr || mode == nullptr) {
    errno = EINVAL;
    return nullptr;
  }
  int flags = 0;
  switch (mode[0]) {
    case 'r':
      break;
    case 'w':
      flags = O_CREAT | O_TRUNC;
      break;
    case 'a':
      flags = O_CREAT | O_APPEND;
      break;
    default:
      errno = EINVAL;
      return nullptr;
  }
  bool update = false;
  for (const char *c = mode + 1; *c != '\0'; ++c) {
    if (*c == '+') {
      update = true;
    } else if (*c != 'b') {
      errno = EINVAL;
      return nullptr;
    }
  }
  flags |= update ? O_RDWR : mode[0] == 'r' ? O_RDONLY : O_WRONLY;
  int fd = open(path, flags | O_CLOEXEC, 0666);
  if (fd < 0) return nullptr;
  // The stream takes the descriptor as it is; creation and truncation were
  // done by the open above.
  const char stream_mode[] = {mode[0], update ? '+' : '\0', '\0'};
  FILE *file = fdopen(fd, stream_mode);
  if (file == nullptr) {
    int error = errno;
    close(fd);
    errno = error;
  }
  return file;
}

extern "C" int upnp_mkstemp(char *path_template) {
  if (path_template == nullptr) {
    errno = EINVAL;
    return -1;
  }
  return mkostemp(path_template, O_CLOEXEC);
}
