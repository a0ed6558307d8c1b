#ifndef KESTREL_HTTP_HTTP_SERVER_INTERNAL_H
#define KESTREL_HTTP_HTTP_SERVER_INTERNAL_H

/* Internal: parts of the server shared between its files. */

#include <stdint.h>
#include <time.h>

#include "http/http_server.h"

/* Per-connection cache of an open file, kept across the requests of one
 * connection. No handler of this library serves files yet; the cache only
 * carries the modification time for the Last-Modified line. */
struct http_file_cache {
  int fd;
  time_t modified; /* 0 when unknown */
};

struct http_handler_match {
  upnp_http_handler function;
  bool needs_body;
};

/* The handler for a request type and path (function none when none). */
http_handler_match http_find_handler(uint32_t type, const char *path);

/* Handles one request on the connection; 0 to go on with the next one. */
int http_handle_request(int socket, const char *peer, const char *base_url, http_file_cache *cache,
                        const char *peeked = nullptr, size_t peeked_length = 0);

/* The pool of connection threads (all servers), at most the configured
 * number. A new connection takes a slot; when none is free, room is made by
 * shutting down the connection that has waited longest for a request (one
 * that has not sent a whole request line first) and waiting for its thread to
 * leave. false when no slot could be had: every thread is busy with a
 * request. */
bool http_pool_enter();
/* Gives the slot back as the connection thread ends. */
void http_pool_leave();

/* A connection thread's wait for its next request header: the connection
 * can be shut down to make room while this lives. Its socket must stay open
 * until this is gone. */
class http_pool_wait {
 public:
  explicit http_pool_wait(int socket);
  ~http_pool_wait();
  http_pool_wait(const http_pool_wait &) = delete;
  http_pool_wait &operator=(const http_pool_wait &) = delete;
  /* A whole request line has arrived: closed for room only after the
   * connections that are still without one. */
  void line_seen();

  /* The wait as the pool lists it (under the pool's lock): the record
   * lives in this object, so registering a wait allocates nothing. */
  struct entry {
    int socket;
    bool line_seen;  // a whole request line has arrived
    bool evicted;    // shut down to make room; its thread is on its way out
    uint64_t key;    // registration order: lower is older
    entry *prev;
    entry *next;
  };

 private:
  entry entry_;
  bool line_seen_ = false;  // the owner's own copy, read without the lock
};

/* Current limits. */
unsigned int http_server_idle_timeout();
unsigned int http_server_header_timeout();
uint64_t http_server_max_body();

/* The client database's answers (see clientdb/upnp_client_db.h). */
uint32_t http_client_register(const char *base_url, const char *peer, const char *header);
bool http_client_keeps_1_0_connections(uint32_t client);
bool http_client_needs_1_0_response(uint32_t client);

/* Sends all of the bytes; false when the peer went away or the send timed
 * out (logged as "socket error %s"). */
bool http_server_send_all(int socket, const char *data, size_t length);

#endif
