// Linux: a send to a peer that went away must not raise SIGPIPE; sockets
// are made close-on-exec in the same call that creates them.
#include <sys/socket.h>

#include "base/upnp_socket_platform.h"

int upnp_socket_platform_socket(int type, int protocol) { return socket(AF_INET, type | SOCK_CLOEXEC, protocol); }

int upnp_socket_platform_accept(int s, struct sockaddr *address, socklen_t *length) {
  return accept4(s, address, length, SOCK_CLOEXEC);
}

int upnp_socket_platform_prepare(int s) {
  (void)s;
  return 0;
}

int upnp_socket_platform_send_flags(void) { return MSG_NOSIGNAL; }
