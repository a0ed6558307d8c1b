#ifndef KESTREL_HTTP_HTTP_URL_H
#define KESTREL_HTTP_HTTP_URL_H

/* Internal: the URL split that every request sender uses. */

#include <stddef.h>

#define HTTP_URL_HOST_MAX 255

struct http_request_target {
  char host[HTTP_URL_HOST_MAX + 1]; /* host[:port] as written in the URL */
  const char *path;                 /* after the path's leading '/'; "" for "/" */
  bool has_path;                    /* the URL had a '/' after the host */
};

/* Splits an "http://" URL of at least 9 characters; false otherwise. */
bool http_split_request_url(const char *url, http_request_target *out);

/* The User-Agent line for a request ("" when extra_headers carry their own),
 * in buffer; returns buffer. */
const char *http_user_agent_line(const char *extra_headers, char *buffer, size_t size);

/* Sends all of text; true when every byte went out. */
bool http_send_all(int socket, const char *text, size_t length);

#endif
