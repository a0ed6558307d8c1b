#ifndef KESTREL_HTTP_HTTP_PARSE_H
#define KESTREL_HTTP_HTTP_PARSE_H

/* Parsers over a whole HTTP header text, shared by the client, the server,
 * SSDP and eventing. Field names are found ignoring case. */

#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

/* Longest name the case-insensitive search accepts; longer never matches. */
#define HTTP_MAX_SEARCH_NAME 1024

/* First occurrence of needle in haystack ignoring ASCII case, or none. */
const char *HTTP_find_nocase(const char *haystack, const char *needle);

/* Status code of a response header; 500 when it cannot be read. */
int HTTP_parse_header_response(const char *header);
/* Content-Length value; 0 when absent, unreadable or negative. */
int64_t HTTP_parse_header_size(const char *header);
/* 1 when the header announces a chunked body. */
int HTTP_parse_header_chunked(const char *header);
/* Newly allocated copy of the Content-Type value (free with upnp_free_impl),
 * or none. */
char *HTTP_parse_header_mime_type(const char *header);
/* 1 when the peer will close the connection after this message. */
int upnp_http_has_connection_close(const char *header);
/* Pointer into header at the value of the field called name (given with its
 * leading CR LF and trailing colon, e.g. "\r\nNTS:"), or none when the field
 * is missing or its value is empty. */
const char *HTTP_get_header_param(const char *header, const char *name);
/* Percent-decoding and '+' to blank, in place; returns text. */
char *HTTP_unescape_url(char *text);

#ifdef __cplusplus
}
#endif

#endif
