#ifndef KESTREL_BASE_UPNP_FD_H
#define KESTREL_BASE_UPNP_FD_H

/* Files, pipes and temporary files the library opens, none of which a
 * process started by the host (or by the library itself) inherits: each
 * descriptor is closed on exec from the moment it exists, so a fork and exec
 * on another thread of the host cannot catch one without the flag. Sockets:
 * upnp_socket.h. Internal. */

#include <stdio.h>

#ifdef __cplusplus
extern "C" {
#endif

/* fopen with its modes "r", "w" and "a", each with "+" and "b". Files are
 * created with 0666 less the umask. None (errno set) on failure or for
 * another mode. */
FILE *upnp_fopen(const char *path, const char *mode);
/* pipe: fds[0] reads, fds[1] writes. 0, or -1 with errno. */
int upnp_pipe(int fds[2]);
/* mkstemp: fills in the trailing "XXXXXX" of path_template, creates the
 * file (0600) and opens it for reading and writing; the descriptor, or -1. */
int upnp_mkstemp(char *path_template);

#ifdef __cplusplus
}
#endif

#endif
