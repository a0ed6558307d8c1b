// The body of a message in its three framings: chunked, Content-Length and
// read-until-close. Every body is bounded by HTTP_MAX_BODY_SIZE, or by a
// smaller bound that the caller gives.
#include <cstring>

#include "base/upnp_log.h"
#include "base/upnp_mem.h"
#include "base/upnp_socket.h"
#include "http/http_client.h"
#include "http/http_io.h"

namespace {

constexpr size_t kClosePiece = 8191;
constexpr uint64_t kReservePiece = 1024 * 1024;
// Chunk sizes above this are no sizes at all (the bound is checked apart).
constexpr uint64_t kChunkSizeCeiling = 1ull << 56;

// A zero-terminated body that grows by doubling.
class BodyBuffer {
 public:
  explicit BodyBuffer(uint64_t limit) : limit_(limit) {}
  ~BodyBuffer() { upnp_free_impl(data_); }
  // Makes room for `more` bytes after the current length; false when the
  // body would pass the bound or memory runs out.
  bool reserve(uint64_t more) {
    uint64_t need = length_ + more + 1;
    if (length_ + more > limit_) return false;
    if (need <= capacity_) return true;
    uint64_t cap = capacity_ ? capacity_ * 2 : 1024;
    if (cap < need) cap = need;
    if (cap > limit_ + 1) cap = limit_ + 1;
    void *p = upnp_realloc_impl(data_, cap);
    if (!p) return false;
    data_ = static_cast<char *>(p);
    capacity_ = cap;
    return true;
  }
  char *tail() { return data_ + length_; }
  void grow(uint64_t n) { length_ += n; }
  uint64_t length() const { return length_; }
  uint64_t room() const { return limit_ - length_; }
  // Hands the terminated body to the caller.
  char *release(uint64_t *length_out) {
    if (!reserve(0)) return nullptr;
    data_[length_] = '\0';
    if (length_out) *length_out = length_;
    char *out = data_;
    data_ = nullptr;
    length_ = capacity_ = 0;
    return out;
  }

 private:
  uint64_t limit_;
  char *data_ = nullptr;
  uint64_t length_ = 0;
  uint64_t capacity_ = 0;
};

// Why a read stopped (with the http_read_result codes): the body passed the
// bound, or memory ran out.
constexpr int kOverBound = -10;
constexpr int kNoMemory = -11;

// Reads exactly n bytes into the body; HTTP_READ_OK or why it stopped. Room
// is made as data arrives, so a peer that only announces a large body does
// not get the whole of it allocated up front.
int read_exact(int socket, BodyBuffer &body, uint64_t n) {
  if (n > body.room()) return kOverBound;
  while (n > 0) {
    uint64_t piece = n < kReservePiece ? n : kReservePiece;
    if (!body.reserve(piece)) return kNoMemory;
    ssize_t r = upnp_recv(socket, body.tail(), piece, 0);
    if (r == 0) return HTTP_READ_CLOSED;
    if (r < 0) {
      upnp_log_impl(LOG_LEVEL_WARNING, LOG_HTTP, __func__, "socket error %s", getLastSocketError());
      return HTTP_READ_ERROR;
    }
    body.grow(static_cast<uint64_t>(r));
    n -= static_cast<uint64_t>(r);
  }
  return HTTP_READ_OK;
}

// Every reader below returns the body or none; *over is set when the body
// passed the bound.
char *read_chunked(int socket, uint64_t limit, uint64_t *length_out, bool *over) {
  BodyBuffer body(limit);
  for (;;) {
    uint64_t size = 0;
    int r = http_read_chunk_size(socket, kChunkSizeCeiling, &size);
    if (r == HTTP_READ_INVALID) {
      upnp_log_impl(LOG_LEVEL_WARNING, LOG_HTTP, __func__, "invalid chunk size line");
      return nullptr;
    }
    if (r != HTTP_READ_OK) return nullptr;  // a body cut before its last chunk is no body
    if (size == 0) break;
    if (size > body.room()) {
      upnp_log_impl(LOG_LEVEL_WARNING, LOG_HTTP, __func__, "chunked body above the limit of %llu bytes",
                    static_cast<unsigned long long>(limit));
      *over = true;
      return nullptr;
    }
    if (read_exact(socket, body, size) != HTTP_READ_OK) return nullptr;
    if (http_read_chunk_end(socket) != HTTP_READ_OK) return nullptr;
  }
  return body.release(length_out);
}

char *read_with_length(int socket, uint64_t length, uint64_t limit, uint64_t *length_out, bool *over) {
  if (length > limit) {
    upnp_log_impl(LOG_LEVEL_WARNING, LOG_HTTP, __func__, "Content-Length %llu above the limit of %llu bytes",
                  static_cast<unsigned long long>(length), static_cast<unsigned long long>(limit));
    *over = true;
    return nullptr;
  }
  BodyBuffer body(limit);
  // Devices that announce more than they send still give what they sent.
  int r = read_exact(socket, body, length);
  if (r == kNoMemory || r == kOverBound) return nullptr;
  return body.release(length_out);
}

char *read_until_close(int socket, uint64_t limit, uint64_t *length_out, bool *over) {
  BodyBuffer body(limit);
  for (;;) {
    uint64_t piece = body.room() < kClosePiece ? body.room() : kClosePiece;
    char probe;
    char *into = &probe;  // full: one more byte means the body passes the bound
    if (piece == 0) {
      piece = 1;
    } else if (!body.reserve(piece)) {
      return nullptr;
    } else {
      into = body.tail();
    }
    ssize_t r = upnp_recv(socket, into, piece, 0);
    if (r == 0) break;
    if (r < 0) {
      upnp_log_impl(LOG_LEVEL_WARNING, LOG_HTTP, __func__, "socket error %s", getLastSocketError());
      break;
    }
    if (into == &probe) {
      upnp_log_impl(LOG_LEVEL_WARNING, LOG_HTTP, __func__, "body above the limit of %llu bytes",
                    static_cast<unsigned long long>(limit));
      *over = true;
      return nullptr;
    }
    body.grow(static_cast<uint64_t>(r));
  }
  if (body.length() == 0) return nullptr;
  return body.release(length_out);
}

char *read_body(int socket, const char *header, bool close_required, uint64_t limit, uint64_t *length_out,
                bool *over) {
  if (length_out) *length_out = 0;
  if (!header) return nullptr;
  if (limit > HTTP_MAX_BODY_SIZE) limit = HTTP_MAX_BODY_SIZE;
  if (HTTP_parse_header_chunked(header)) return read_chunked(socket, limit, length_out, over);
  int64_t length = HTTP_parse_header_size(header);
  if (length > 0) return read_with_length(socket, static_cast<uint64_t>(length), limit, length_out, over);
  if (HTTP_find_nocase(header, "content-length:")) return nullptr;
  if (close_required && !upnp_http_has_connection_close(header) && !std::strstr(header, "HTTP/1.0")) return nullptr;
  return read_until_close(socket, limit, length_out, over);
}

}  // namespace

char *http_read_body(int socket, const char *header, bool close_required, uint64_t *length_out) {
  bool over = false;
  return read_body(socket, header, close_required, HTTP_MAX_BODY_SIZE, length_out, &over);
}

extern "C" char *HTTP_receive_body(int socket, const char *header) {
  return http_read_body(socket, header, true, nullptr);
}

extern "C" char *HTTP_receive_body_with_length(int socket, const char *header, uint64_t *length_out) {
  return http_read_body(socket, header, true, length_out);
}

extern "C" char *HTTP_receive_body_bounded(int socket, const char *header, uint64_t max_size, uint64_t *length_out,
                                           int *over_out) {
  bool over = false;
  char *body = read_body(socket, header, true, max_size, length_out, &over);
  if (over_out) *over_out = over ? 1 : 0;
  return body;
}
