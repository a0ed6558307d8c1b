// Linux: a send to a peer that went away must not raise SIGPIPE.
#include <sys/socket.h>

#include "base/upnp_socket_platform.h"

int upnp_socket_platform_prepare(int s) {
  (void)s;
  return 0;
}

int upnp_socket_platform_send_flags(void) { return MSG_NOSIGNAL; }
