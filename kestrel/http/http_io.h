#ifndef KESTREL_HTTP_HTTP_IO_H
#define KESTREL_HTTP_HTTP_IO_H

/* Internal: socket reads shared by the header and body readers. */

#include <stddef.h>
#include <stdint.h>

enum http_read_result {
  HTTP_READ_OK = 1,
  HTTP_READ_CLOSED = 0,   /* the peer closed the connection */
  HTTP_READ_ERROR = -1,   /* socket error (logged as "socket error %s") */
  HTTP_READ_INVALID = -2  /* the peer sent something that cannot be framed */
};

/* Hands out the bytes of a socket one at a time while asking the socket for
 * them in windows: it peeks at what has arrived and takes off the socket only
 * the bytes handed out so far (commit, also done on destruction). So a header
 * or a size line is read without consuming anything of what follows it, at a
 * few calls per header instead of one per byte. */
class http_byte_reader {
 public:
  explicit http_byte_reader(int socket) : socket_(socket) {}
  /* Starting from bytes the caller has already peeked at the socket's head
   * (they are still in the socket): the first window needs no peek. */
  http_byte_reader(int socket, const char *peeked, size_t length);
  ~http_byte_reader() { commit(); }
  http_byte_reader(const http_byte_reader &) = delete;
  http_byte_reader &operator=(const http_byte_reader &) = delete;

  /* The next byte: HTTP_READ_OK, HTTP_READ_CLOSED or HTTP_READ_ERROR. */
  int next(char *c);
  /* Takes the bytes handed out so far off the socket. */
  int commit();

 private:
  int socket_;
  char window_[1024];
  size_t used_ = 0;
  size_t have_ = 0;
};

/* HTTP_get_header starting from bytes already peeked at the socket's head
 * (none: as HTTP_get_header). */
int http_get_header_peeked(int socket, char *buffer, int size, const char *peeked, size_t peeked_length);

/* Reads a chunk-size line ("hex[;extensions]" up to LF) one byte at a time,
 * so that nothing of the chunk data is consumed. A size line of more than
 * 4096 bytes, one without hex digits, or a size above max_size is
 * HTTP_READ_INVALID. */
int http_read_chunk_size(int socket, uint64_t max_size, uint64_t *size);

/* Reads the two bytes that end a chunk's data (reading one more when only
 * one arrives). */
int http_read_chunk_end(int socket);

enum http_chunked_result {
  HTTP_CHUNKED_OK,
  HTTP_CHUNKED_TOO_LARGE, /* the chunks hold more than the limit */
  HTTP_CHUNKED_FAILED     /* malformed, or the peer stopped or went away */
};

/* Reads the chunks of a chunked body, at most `limit` bytes of data in all,
 * up to and including the last (empty) chunk; the trailer is left unread.
 * On HTTP_CHUNKED_OK *body is the data as a terminated text of the library's
 * memory and *length its size; otherwise *body is none. */
http_chunked_result http_read_chunked_body(int socket, uint64_t limit, char **body, uint64_t *length);

/* Reads the body framed by header (see HTTP_receive_body). close_required
 * refuses to read until close a message that neither says "Connection:
 * close" nor is HTTP/1.0. */
char *http_read_body(int socket, const char *header, bool close_required, uint64_t *length_out);

#endif
