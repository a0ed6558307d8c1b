// macOS: SIGPIPE is suppressed per socket; close-on-exec is set right after
// creation (there is no SOCK_CLOEXEC or accept4).
#include <cerrno>
#include <fcntl.h>
#include <sys/socket.h>
#include <unistd.h>

#include "base/upnp_socket_platform.h"

namespace {

int close_on_exec(int s) {
  if (s < 0 || fcntl(s, F_SETFD, FD_CLOEXEC) == 0) return s;
  int error = errno;
  close(s);
  errno = error;
  return -1;
}

}  // namespace

int upnp_socket_platform_socket(int type, int protocol) { return close_on_exec(socket(AF_INET, type, protocol)); }

int upnp_socket_platform_accept(int s, struct sockaddr *address, socklen_t *length) {
  return close_on_exec(accept(s, address, length));
}

int upnp_socket_platform_prepare(int s) {
  int on = 1;
  return setsockopt(s, SOL_SOCKET, SO_NOSIGPIPE, &on, sizeof on);
}

int upnp_socket_platform_send_flags(void) { return 0; }
