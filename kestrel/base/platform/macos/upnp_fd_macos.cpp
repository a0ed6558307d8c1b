// macOS: there is no pipe2, so both ends are marked right after the pipe is
// made (a fork on another thread in between is the one window left).
#include <cerrno>
#include <fcntl.h>
#include <unistd.h>

#include "base/upnp_fd.h"

extern "C" int upnp_pipe(int fds[2]) {
  if (pipe(fds) != 0) return -1;
  if (fcntl(fds[0], F_SETFD, FD_CLOEXEC) == 0 && fcntl(fds[1], F_SETFD, FD_CLOEXEC) == 0) return 0;
  int error = errno;
  close(fds[0]);
  close(fds[1]);
  errno = error;
  return -1;
}
