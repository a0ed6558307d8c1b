#ifndef KESTREL_BASE_UPNP_SOCKET_PLATFORM_H
#define KESTREL_BASE_UPNP_SOCKET_PLATFORM_H

/* Socket differences between platforms, one file per platform. Internal. */

/* Called on every new socket (macOS: SO_NOSIGPIPE). 0 or -1. */
int upnp_socket_platform_prepare(int s);
/* Flags added to every send (Linux: MSG_NOSIGNAL). */
int upnp_socket_platform_send_flags(void);

#endif
