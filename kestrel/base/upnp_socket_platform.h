#ifndef KESTREL_BASE_UPNP_SOCKET_PLATFORM_H
#define KESTREL_BASE_UPNP_SOCKET_PLATFORM_H

/* Socket differences between platforms, one file per platform. Internal. */

#include <sys/socket.h>

/* A new IPv4 socket, and a connection accepted on listening socket `s`,
 * that a child process of the host never inherits: close-on-exec is set at
 * creation (Linux) or right after it (macOS, which has no atomic form).
 * -1 with errno on failure. */
int upnp_socket_platform_socket(int type, int protocol);
int upnp_socket_platform_accept(int s, struct sockaddr *address, socklen_t *length);
/* Called on every new socket (macOS: SO_NOSIGPIPE). 0 or -1. */
int upnp_socket_platform_prepare(int s);
/* Flags added to every send (Linux: MSG_NOSIGNAL). */
int upnp_socket_platform_send_flags(void);

#endif
