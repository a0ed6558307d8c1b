#ifndef KESTREL_BASE_UPNP_SOCKET_H
#define KESTREL_BASE_UPNP_SOCKET_H

/* IPv4 socket functions and option helpers. Sockets are plain descriptors;
 * results follow the BSD functions (-1 on failure, with errno set) unless
 * stated otherwise. Sending never raises SIGPIPE: a peer that went away is
 * reported as an error (EPIPE). No socket made here (created or accepted)
 * reaches a process the host starts: each is closed on exec. */

#include <netinet/in.h>
#include <stddef.h>
#include <sys/types.h>

#ifdef __cplusplus
extern "C" {
#endif

typedef int upnp_socket_t;
#define UPNP_INVALID_SOCKET (-1)

#define UPNP_LISTEN_BACKLOG 128

upnp_socket_t upnp_socket_create_udp(void);
upnp_socket_t upnp_socket_create_tcp(void);
int upnp_socket_close(upnp_socket_t s);
/* Listens with a backlog of 128. */
int upnp_socket_listen(upnp_socket_t s);
/* `peer` may be none. */
upnp_socket_t upnp_socket_accept(upnp_socket_t s, struct sockaddr_in *peer);
int upnp_socket_connect(upnp_socket_t s, const struct sockaddr_in *address);
int upnp_socket_bind(upnp_socket_t s, const struct sockaddr_in *address);
/* The address a socket is bound to (e.g. to learn an ephemeral port). */
int upnp_socket_get_local_address(upnp_socket_t s, struct sockaddr_in *address);

ssize_t upnp_send(upnp_socket_t s, const void *data, size_t length, int flags);
ssize_t upnp_recv(upnp_socket_t s, void *buffer, size_t length, int flags);
ssize_t upnp_sendto(upnp_socket_t s, const void *data, size_t length, int flags,
                    const struct sockaddr_in *to);
/* `from` may be none. */
ssize_t upnp_recvfrom(upnp_socket_t s, void *buffer, size_t length, int flags,
                      struct sockaddr_in *from);

/* Host name into `name` (always zero-terminated); 0 on success. */
int upnp_gethostname(char *name, size_t size);
/* Resolves a host name or dotted address to its first IPv4 address; 0 on
 * success, -1 when it does not resolve. */
int upnp_gethostbyname(const char *name, struct in_addr *address);
/* Dotted text of `address` in `buffer`; returns `buffer`, or none when it
 * does not fit. */
char *upnp_inet_ntoa(struct in_addr address, char *buffer, size_t size);
/* The platform's text for the calling thread's last error number. The text
 * stays valid until the same thread calls this again. */
const char *getLastSocketError(void);

/* Option helpers; each returns 0 on success, -1 on failure. */
/* Address reuse and port reuse. */
int setSockOptReuseAddr(upnp_socket_t s);
/* Unicast time-to-live. */
int setSockOptTTL(upnp_socket_t s, int ttl);
/* Outgoing multicast interface (dotted text; none leaves the default) and
 * multicast time-to-live (one byte). */
int setSockOptMulticast(upnp_socket_t s, int ttl, const char *interface_address);
/* Joins `group` on the interface with address `interface_address`, logging
 * "### joining SSDP multicast group %s on if %s " at level 2. */
int upnp_socket_setSockOptAddMembership(upnp_socket_t s, const char *group, const char *interface_address);
int setSockOptSendTimeout(upnp_socket_t s, unsigned int milliseconds);
int setSockOptReceiveTimeout(upnp_socket_t s, unsigned int milliseconds);
/* Traffic classes: accepted and without effect on this platform (return 0). */
int setSockOptAVPriority(upnp_socket_t s);
int setSockOptInteractivePriority(upnp_socket_t s);
int setSockOptBackgroundPriority(upnp_socket_t s);

#ifdef __cplusplus
}
#endif

#endif
