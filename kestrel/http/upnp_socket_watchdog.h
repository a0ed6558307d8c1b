#ifndef KESTREL_HTTP_UPNP_SOCKET_WATCHDOG_H
#define KESTREL_HTTP_UPNP_SOCKET_WATCHDOG_H

/* The socket watchdog: a process-wide list of (socket, deadline) entries and
 * the "SocketRelease" thread that shuts a socket down when its deadline
 * passes, so that a blocked connect, send or receive returns. Wall-clock
 * limits that the socket options alone cannot guarantee. */

#ifdef __cplusplus
extern "C" {
#endif

typedef struct upnp_socket_timeout upnp_socket_timeout;

/* Registers the socket for ms milliseconds from now and starts the watchdog
 * thread if none runs. None when the socket is -1 or ms is 0 ("Invalid
 * parameters") or memory runs out. */
upnp_socket_timeout *upnp_enforce_socket_timeout(unsigned int ms, int socket);

/* Withdraws the entry and frees the handle. With close set, the socket is
 * shut down and closed. Returns 1 when the exchange must count as failed:
 * close was set, or the watchdog had already fired (or the stack stopped and
 * dropped the entry). A none handle returns close. */
int upnp_release_socket_timeout(upnp_socket_timeout *handle, int close);

/* 1 while the watchdog thread runs. */
int upnp_socket_watchdog_is_active(void);
/* Number of entries waiting for their deadline. */
unsigned int upnp_socket_watchdog_pending(void);

#ifdef __cplusplus
}
#endif

#endif
