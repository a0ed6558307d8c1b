#ifndef KESTREL_WEBAPI_WEBAPI_LOCAL_FILES_H
#define KESTREL_WEBAPI_WEBAPI_LOCAL_FILES_H

/* Local files made reachable for renderers: the queue shares a file while
 * its entry is queued and the library's HTTP server serves exactly the
 * shared files, read-only and with byte ranges, at
 * "/rpc/share_local_file?TOKEN", the token being an unguessable name of
 * ours (no request can name a path). Works whether the web API is enabled
 * or not. */

#include <stddef.h>

#define WEBAPI_SHARE_PREFIX "/rpc/share_local_file"
/* Token text: 32 hex digits and the zero. */
#define WEBAPI_SHARE_TOKEN_SIZE 33

/* Shares the file at path (an absolute path, or a "file://" URL); writes
 * the token. 0 on success, 1 when the path is unusable or no token could be
 * made. Sharing the same path again gives a new token (each entry holds its
 * own). */
int webapi_local_file_share(const char *path, char *token, size_t token_size);
/* Ends one share; unknown tokens are ignored. */
void webapi_local_file_unshare(const char *token);
/* Number of shares (for checks). */
size_t webapi_local_file_count(void);

#endif
