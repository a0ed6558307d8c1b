#ifndef KESTREL_MEDIA_ZEL_PLATFORM_H
#define KESTREL_MEDIA_ZEL_PLATFORM_H

/* The platform services under ZelUtil, each in a file of its own: URL loading
 * (zel_platform_url.cpp), folders and the library's own file
 * (zel_platform_folders.cpp), the application launcher
 * (zel_platform_launch.cpp). Texts handed out are accounted memory that the
 * caller frees with upnp_free_impl. */

#include <stddef.h>

/* Default deadline of one URL load, from the connect to the last byte. */
#define MU_HTTP_DEADLINE_MS 10000
/* The most body bytes one load keeps; a longer body is a failed load. */
#define MU_HTTP_BODY_CAP (1024 * 1024)

/* The response body of an "http://" URL as UTF-8 text (any status; cached
 * data is never used), or none when the host does not resolve, the exchange
 * fails or passes deadline_ms (0 for MU_HTTP_DEADLINE_MS), the body passes
 * MU_HTTP_BODY_CAP or is no UTF-8. */
char *MUHttpGet(const char *url, unsigned int deadline_ms);
/* As MUHttpGet, but a redirect answer is not followed: its header fields come
 * back as lines "Name = value;" (the value in double quotes when it holds
 * blanks or punctuation, with '"' and '\' escaped by '\'). Any other answer
 * gives its body as MUHttpGet does. */
char *MUHttpGetHeader(const char *url, unsigned int deadline_ms);
/* The redirect fields of a header (CR LF lines after the status line) as
 * MUHttpGetHeader writes them. */
char *MUFormatHeaderFields(const char *header);

/* The per-user folder for application data: $KESTREL_APP_SUPPORT_DIR when
 * set (every test sets it), else $XDG_DATA_HOME when absolute, else
 * ~/.local/share. None when none can be found. */
char *MUGetAppDataFolder(void);
/* The names of a folder's entries (not "." and ".."), as an array ended by a
 * null pointer; none when the folder cannot be listed. */
char **MUGetFilesInFolder(const char *path);
/* The path of the file (library or program) that holds this code, found with
 * dladdr; none when it cannot be found. */
char *MUGetOwnImagePath(void);

/* Asks the launcher to open the application at path: runs the configured
 * launch command (property "launch_command", with path as $1) without
 * waiting for it; with none configured only records the request. False
 * when the command could not be started. */
bool MULaunchApp(const char *path);
/* The path of the last launch request (a copy), or none. */
char *MULastLaunchRequest(void);

#endif
