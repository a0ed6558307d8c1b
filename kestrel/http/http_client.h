#ifndef KESTREL_HTTP_HTTP_CLIENT_H
#define KESTREL_HTTP_HTTP_CLIENT_H

/* The HTTP/1.1 client: connections, request senders, the response readers and
 * complete exchanges. Exchanges keep no connection record: each opens one
 * socket, sends one request, reads one response and closes the socket.
 *
 * Texts handed out (bodies, header copies) are accounted memory that the
 * caller frees with upnp_free_impl. */

#include <stddef.h>
#include <stdint.h>

#include "http/http_mime.h"
#include "http/http_parse.h"
#include "http/http_settings.h"

#ifdef __cplusplus
extern "C" {
#endif

/* Size of the header buffer of an exchange (a header keeps at most 8191
 * bytes). */
#define HTTP_HEADER_BUFFER_SIZE 8192

/* Upper bound of a body read into memory (bytes). A Content-Length above it,
 * or a chunked or read-until-close body that grows beyond it, ends the read
 * with a failure (no body). */
#define HTTP_MAX_BODY_SIZE (64u * 1024u * 1024u)

/* Exchange modes of _HTTP_talk. */
#define HTTP_TALK_SOAP 1
#define HTTP_TALK_GET 2

/* Connections: a connected TCP socket, or -1. */
int HTTP_open(const char *url);
int HTTP_open_ttl(const char *url, int ttl);

/* Request senders: 0 when the whole request went out, 1 otherwise. They never
 * read. extra_headers are whole lines, each ending in CR LF (none for none). */
int HTTP_get_request(int socket, const char *url, const char *extra_headers);
int HTTP_head_request(int socket, const char *url, const char *extra_headers);
int HTTP_get_request_1_0(int socket, const char *url, const char *extra_headers);
/* Header of a SOAP POST announcing the length of body; the caller sends the
 * body itself. */
int HTTP_post_request(int socket, const char *url, const char *soap_action, const char *body);
/* Header of a general POST; the caller sends the body. */
int HTTP_post_header(int socket, const char *url, const char *content_type, int64_t content_length,
                     int expect_continue, const char *extra_headers);

/* Reads one header into buffer (zero-terminated); the number of header bytes,
 * or 0 when no valid header arrived. */
int HTTP_get_header(int socket, char *buffer, int size);
/* Reads the body announced by header; a request or response without a
 * length is read until close only when it says "Connection: close" or is
 * HTTP/1.0. The zero-terminated body, or none. */
char *HTTP_receive_body(int socket, const char *header);
/* As HTTP_receive_body; length_out (when given) receives the body's length
 * in bytes, which counts any zero bytes inside it. */
char *HTTP_receive_body_with_length(int socket, const char *header, uint64_t *length_out);
/* As HTTP_receive_body_with_length with a bound of its own (at most
 * HTTP_MAX_BODY_SIZE): a body of more than max_size bytes, whatever its
 * framing, ends the read as soon as that shows, so no more than max_size + 1
 * bytes are ever held. Then none comes back and *over_out (when given) is 1,
 * else 0. */
char *HTTP_receive_body_bounded(int socket, const char *header, uint64_t max_size, uint64_t *length_out,
                                int *over_out);
/* Writes the body announced by header to the file at path (appending to it).
 * max_upload_mb above 0 limits the file's total size in MiB; expected_offset
 * above 0 must equal the file's size. 1 on success, 0 otherwise;
 * received_out (when given) receives the byte count reached on a failure. */
int HTTP_receive_file(int socket, const char *header, const char *path, int max_upload_mb,
                      int64_t expected_offset, int64_t *received_out);

/* Complete exchanges; each returns the body, or none. header_out (when given)
 * receives a copy of the response header. timeout_ms above 0 bounds the whole
 * exchange by the socket watchdog. */
char *_HTTP_talk(int mode, const char *url, const char *soap_action, const char *body, int timeout_ms,
                 char **header_out);
char *HTTP_talk(int mode, const char *url, const char *soap_action, const char *body);
char *HTTP_get(const char *url);
char *HTTP_get_with_timeout(const char *url, int timeout_ms);
char *HTTP_get_advanced(const char *url, int timeout_ms, char **header_out);
/* Joins base and control URL and posts the SOAP action with the SOAP
 * time-out. */
char *HTTP_soap_action(const char *base_url, const char *control_url, const char *soap_action,
                       const char *body);

#ifdef __cplusplus
}
#endif

#endif
