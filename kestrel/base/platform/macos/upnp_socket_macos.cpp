// macOS: SIGPIPE is suppressed per socket.
#include <sys/socket.h>

#include "base/upnp_socket_platform.h"

int upnp_socket_platform_prepare(int s) {
  int on = 1;
  return setsockopt(s, SOL_SOCKET, SO_NOSIGPIPE, &on, sizeof on);
}

int upnp_socket_platform_send_flags(void) { return 0; }
