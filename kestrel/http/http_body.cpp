// The body of a message in its three framings: chunked, Content-Length and
// read-until-close. Every body is bounded by HTTP_MAX_BODY_SIZE.
#include <cstring>

#include "base/upnp_log.h"
#include "base/upnp_mem.h"
#include "base/upnp_socket.h"
#include "http/http_client.h"
#include "http/http_io.h"

namespace {

constexpr size_t kClosePiece = 8191;
constexpr uint64_t kReservePiece = 1024 * 1024;

// A zero-terminated body that grows by doubling.
class BodyBuffer {
 public:
  ~BodyBuffer() { upnp_free_impl(data_); }
  // Makes room for `more` bytes after the current length; false when the
  // body would pass the bound or memory runs out.
  bool reserve(uint64_t more) {
    uint64_t need = length_ + more + 1;
    if (length_ + more > HTTP_MAX_BODY_SIZE) return false;
    if (need <= capacity_) return true;
    uint64_t cap = capacity_ ? capacity_ * 2 : 1024;
    if (cap < need) cap = need;
    if (cap > HTTP_MAX_BODY_SIZE + 1) cap = HTTP_MAX_BODY_SIZE + 1;
    void *p = upnp_realloc_impl(data_, cap);
    if (!p) return false;
    data_ = static_cast<char *>(p);
    capacity_ = cap;
    return true;
  }
  char *tail() { return data_ + length_; }
  void grow(uint64_t n) { length_ += n; }
  uint64_t length() const { return length_; }
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
  char *data_ = nullptr;
  uint64_t length_ = 0;
  uint64_t capacity_ = 0;
};

// Reads exactly n bytes into the body; HTTP_READ_OK or why it stopped. Room
// is made as data arrives, so a peer that only announces a large body does
// not get the whole of it allocated up front.
int read_exact(int socket, BodyBuffer &body, uint64_t n) {
  while (n > 0) {
    uint64_t piece = n < kReservePiece ? n : kReservePiece;
    if (!body.reserve(piece)) return HTTP_READ_INVALID;
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

char *read_chunked(int socket, uint64_t *length_out) {
  BodyBuffer body;
  for (;;) {
    uint64_t size = 0;
    int r = http_read_chunk_size(socket, HTTP_MAX_BODY_SIZE - body.length(), &size);
    if (r == HTTP_READ_INVALID) {
      upnp_log_impl(LOG_LEVEL_WARNING, LOG_HTTP, __func__, "invalid chunk size line, or body above %u bytes",
                    HTTP_MAX_BODY_SIZE);
      return nullptr;
    }
    if (r != HTTP_READ_OK) return nullptr;  // a body cut before its last chunk is no body
    if (size == 0) break;
    if (read_exact(socket, body, size) != HTTP_READ_OK) return nullptr;
    if (http_read_chunk_end(socket) != HTTP_READ_OK) return nullptr;
  }
  return body.release(length_out);
}

char *read_with_length(int socket, uint64_t length, uint64_t *length_out) {
  if (length > HTTP_MAX_BODY_SIZE) {
    upnp_log_impl(LOG_LEVEL_WARNING, LOG_HTTP, __func__, "Content-Length %llu above the limit of %u bytes",
                  static_cast<unsigned long long>(length), HTTP_MAX_BODY_SIZE);
    return nullptr;
  }
  BodyBuffer body;
  // Devices that announce more than they send still give what they sent.
  if (read_exact(socket, body, length) == HTTP_READ_INVALID) return nullptr;
  return body.release(length_out);
}

char *read_until_close(int socket, uint64_t *length_out) {
  BodyBuffer body;
  for (;;) {
    if (!body.reserve(kClosePiece)) {
      upnp_log_impl(LOG_LEVEL_WARNING, LOG_HTTP, __func__, "body above the limit of %u bytes", HTTP_MAX_BODY_SIZE);
      return nullptr;
    }
    ssize_t r = upnp_recv(socket, body.tail(), kClosePiece, 0);
    if (r == 0) break;
    if (r < 0) {
      upnp_log_impl(LOG_LEVEL_WARNING, LOG_HTTP, __func__, "socket error %s", getLastSocketError());
      break;
    }
    body.grow(static_cast<uint64_t>(r));
  }
  if (body.length() == 0) return nullptr;
  return body.release(length_out);
}

}  // namespace

char *http_read_body(int socket, const char *header, bool close_required, uint64_t *length_out) {
  if (length_out) *length_out = 0;
  if (!header) return nullptr;
  if (HTTP_parse_header_chunked(header)) return read_chunked(socket, length_out);
  int64_t length = HTTP_parse_header_size(header);
  if (length > 0) return read_with_length(socket, static_cast<uint64_t>(length), length_out);
  if (HTTP_find_nocase(header, "content-length:")) return nullptr;
  if (close_required && !upnp_http_has_connection_close(header) && !std::strstr(header, "HTTP/1.0")) return nullptr;
  return read_until_close(socket, length_out);
}

extern "C" char *HTTP_receive_body(int socket, const char *header) {
  return http_read_body(socket, header, true, nullptr);
}

extern "C" char *HTTP_receive_body_with_length(int socket, const char *header, uint64_t *length_out) {
  return http_read_body(socket, header, true, length_out);
}
