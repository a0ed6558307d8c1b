#ifndef KESTREL_HTTP_HTTP_SERVER_H
#define KESTREL_HTTP_HTTP_SERVER_H

/* The library's HTTP/1.1 server: one listening socket and "HTTP_accept"
 * thread per interface entry, one "HTTP_receive" thread per connection
 * handling its requests one after another, handlers registered by method and
 * path prefix, and the reply functions the handlers use.
 *
 * Bounds of a network-facing server (beyond the plain protocol):
 * - at most HTTP_SERVER_MAX_CONNECTIONS connection threads in the process;
 *   when all are taken, a new connection makes room by closing the one that
 *   has waited longest for a request (first among those without a whole
 *   request line), and is itself closed at once only when every thread is
 *   busy with a request;
 * - a keep-alive connection that sends nothing for the idle time-out is
 *   closed, and a request header must arrive whole within the header
 *   time-out once its first byte came (slow senders cannot hold threads);
 * - a request header that does not end within 32 KiB closes the connection;
 * - a request body above the body limit is refused with 413 and the
 *   connection closed, before any of it is read or allocated;
 * - sends time out, so a peer that stops reading cannot hold a thread. */

#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

#define HTTP_SERVER_DEFAULT_PORT 9000
/* Ports tried above the first one when binding fails. */
#define HTTP_SERVER_PORT_SEARCH 1000

#define HTTP_SERVER_PATH_SIZE 1024
#define HTTP_SERVER_BASE_URL_SIZE 128
#define HTTP_SERVER_HEADER_SIZE 8192
#define HTTP_SERVER_EXTRA_HEADERS_SIZE 8192
#define HTTP_SERVER_PEER_SIZE 16
#define HTTP_SERVER_MAX_PREFIX 1023

#define HTTP_SERVER_MAX_CONNECTIONS 512
#define HTTP_SERVER_DEFAULT_IDLE_TIMEOUT_MS 15000
#define HTTP_SERVER_DEFAULT_HEADER_TIMEOUT_MS 10000
#define HTTP_SERVER_DEFAULT_SEND_TIMEOUT_MS 30000
#define HTTP_SERVER_DEFAULT_MAX_BODY (4u * 1024u * 1024u)
/* A request header must end within this many bytes (the record keeps the
 * first 8191 of them); a longer one closes the connection. */
#define HTTP_SERVER_MAX_HEADER_WAIT (32u * 1024u)

/* Parsed byte range values. */
#define HTTP_RANGE_NONE (-1)
#define HTTP_RANGE_MALFORMED (-2)
#define HTTP_RANGE_NOT_ACCEPTABLE (-3)

#define HTTP_SERVER_TEXT "UPnP/1.0, zelConnect UPnP SDK/1.0,  LumetMedia UPnP SDK/1.1"
#define HTTP_HTML_CONTENT_TYPE "text/html; charset=utf-8"

struct http_file_cache;

/* One request on a connection. */
typedef struct HTTP_connection {
  int32_t socket;         /* -1 once the record is retired */
  uint32_t request_type;  /* HTTP_method_type value; 0 unknown */
  char path[HTTP_SERVER_PATH_SIZE];
  uint32_t version; /* 10 or 11 */
  char *body;       /* request body when read (accounted) */
  int64_t length;   /* body length; as reply length -1 is unknown */
  int close;
  const char *content_type;
  char peer_address[HTTP_SERVER_PEER_SIZE];
  uint32_t client;
  char base_url[HTTP_SERVER_BASE_URL_SIZE];
  char header[HTTP_SERVER_HEADER_SIZE];
  char extra_headers[HTTP_SERVER_EXTRA_HEADERS_SIZE];
  int64_t range_start;
  int64_t range_end;
  int64_t total_length;
  int time_range;
  uint32_t dlna_version; /* 10, 15 or 0 */
  int no_cache;
  int chunked;
  struct http_file_cache *file_cache;
} HTTP_connection;

/* handler(connection): 0 keeps the connection for the next request. */
typedef int (*upnp_http_handler)(HTTP_connection *connection);

/* ---- Listening -------------------------------------------------------- */

/* Creates a TCP socket bound to address on *port (9000 when 0), trying the
 * next ports up to HTTP_SERVER_PORT_SEARCH above the first, and listens.
 * *socket_out is the socket or -1; *port receives the bound port. 0 on
 * success, 1 on failure. */
int HTTP_create_server_socket(int *socket_out, unsigned int *port, const char *address);

/* A server on (address, port): the listening socket with its "HTTP_accept"
 * thread running, or -1. The port actually bound is told by
 * HTTP_server_port. These two match the stack's HTTP hooks. */
int HTTP_server_open(const char *address, unsigned int port);
/* Stops the server of that listening socket: ends its accept thread, shuts
 * down its connections, waits for their threads and closes the socket. */
void HTTP_server_close(int socket);
/* Port of the server of that listening socket, 0 when none. */
unsigned int HTTP_server_port(int socket);
/* Connection threads running now (all servers). */
int HTTP_server_connection_count(void);

/* Limits (process-wide); each returns the previous value. */
unsigned int HTTP_server_set_idle_timeout(unsigned int milliseconds);
unsigned int HTTP_server_set_header_timeout(unsigned int milliseconds);
uint64_t HTTP_server_set_max_body(uint64_t bytes);
int HTTP_server_set_max_connections(int count);

/* ---- Handlers --------------------------------------------------------- */

/* 0 when registered; 1 when refused (no function or prefix, a prefix longer
 * than 1023 characters, or a handler for an overlapping type and the same
 * prefix already there). */
int upnp_http_register_handler(upnp_http_handler function, uint32_t types, const char *prefix, int needs_body,
                               int remote_ok);
int upnp_http_handler_is_registered(upnp_http_handler function);
void http_unregister_all_handlers(void);

/* ---- Replies: 0 when the reply went out, 1 otherwise ------------------- */

int HTTP_send_header(HTTP_connection *connection, int status);
int HTTP_send(HTTP_connection *connection, const char *buffer);
int HTTP_send_error_code(HTTP_connection *connection, int status);
int HTTP_send_error_message(HTTP_connection *connection, int status, const char *text);
int HTTP_send_file_not_found(HTTP_connection *connection);
int HTTP_send_unauthorized(HTTP_connection *connection);
int HTTP_send_service_unavailable(HTTP_connection *connection, const char *explanation);
int HTTP_add_header(HTTP_connection *connection, const char *lines);
void HTTP_set_no_cache(HTTP_connection *connection);

/* Texts of the 404 and 401 pages (title at most 63, text at most 127
 * characters; none keeps the current one). */
void HTTP_set_file_not_found_message(const char *title, const char *text);
void HTTP_set_access_restriced_message(const char *title, const char *text);

/* Status line text after the version ("404 Not Found"); "200 OK" for codes
 * it does not know. */
const char *HTTP_status_text(int status);
/* Two-letter code for the Content-Language header from a configured
 * language name, or "*". */
const char *HTTP_content_language(const char *language);

#ifdef __cplusplus
}
#endif

#endif
