#ifndef KESTREL_HTTP_HTTP_MIME_H
#define KESTREL_HTTP_HTTP_MIME_H

/* The MIME table: ordered groups of a MIME type and its file extensions.
 * Lookups ignore the case of extensions and take the first matching group. */

#ifdef __cplusplus
extern "C" {
#endif

/* The server's per-request connection record. */
struct HTTP_connection;

#define HTTP_MIME_FALLBACK "application/octet-stream"

/* MIME type for a file extension (without the dot). With a connection, a
 * client-specific type from the client database wins. Unknown or absent
 * extensions give the fallback. The text is constant and must not be freed. */
const char *HTTP_get_mime_type(const struct HTTP_connection *connection, const char *extension);
/* Pointer into path just after its last '.', or none. */
const char *HTTP_get_extension(const char *path);
/* 1 when the MIME type of any group (fallback excluded) occurs in text. */
int HTTP_is_known_mime_type(const char *text);
/* First extension of the first group whose MIME type occurs in text, else the
 * client database's answer, else none. Constant text. */
const char *HTTP_get_extension_by_mime_type(const char *text);

#ifdef __cplusplus
}
#endif

#endif
