// Socket reads shared by the header and body readers.
#include "http/http_io.h"

#include "base/upnp_log.h"
#include "base/upnp_mem.h"
#include "base/upnp_socket.h"

#include <sys/socket.h>

#include <cerrno>
#include <cstring>
#include <string>

namespace {

constexpr size_t kKeptSizeLine = 20;      // bytes of a size line that are parsed
constexpr size_t kMaxSizeLine = 4096;     // chunk extensions included

int hex_digit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

}  // namespace

http_byte_reader::http_byte_reader(int socket, const char *peeked, size_t length) : socket_(socket) {
  if (peeked == nullptr) return;
  have_ = length < sizeof window_ ? length : sizeof window_;
  std::memcpy(window_, peeked, have_);
}

int http_byte_reader::next(char *c) {
  if (used_ == have_) {
    if (commit() != HTTP_READ_OK) return HTTP_READ_ERROR;
    ssize_t r = upnp_recv(socket_, window_, sizeof window_, MSG_PEEK);
    if (r == 0) return HTTP_READ_CLOSED;
    if (r < 0) {
      upnp_log_impl(LOG_LEVEL_WARNING, LOG_HTTP, "http_read", "socket error %s", getLastSocketError());
      return HTTP_READ_ERROR;
    }
    have_ = static_cast<size_t>(r);
  }
  *c = window_[used_++];
  return HTTP_READ_OK;
}

int http_byte_reader::commit() {
  // The bytes were seen by the peek, so they are there to be taken.
  size_t left = used_;
  char sink[sizeof window_];
  while (left > 0) {
    ssize_t r = upnp_recv(socket_, sink, left, 0);
    if (r <= 0) {
      used_ = have_ = 0;
      return HTTP_READ_ERROR;
    }
    left -= static_cast<size_t>(r);
  }
  used_ = have_ = 0;
  return HTTP_READ_OK;
}

int http_read_chunk_size(int socket, uint64_t max_size, uint64_t *size) {
  *size = 0;
  char line[kKeptSizeLine + 1];
  size_t kept = 0, total = 0;
  {
    http_byte_reader in(socket);
    for (;;) {
      char c;
      int r = in.next(&c);
      if (r != HTTP_READ_OK) return r;
      if (c == '\n') break;
      if (++total > kMaxSizeLine) return HTTP_READ_INVALID;
      if (kept < kKeptSizeLine) line[kept++] = c;
    }
    if (in.commit() != HTTP_READ_OK) return HTTP_READ_ERROR;
  }
  line[kept] = '\0';
  size_t i = 0;
  while (line[i] == ' ' || line[i] == '\t') ++i;
  uint64_t value = 0;
  size_t digits = 0;
  for (int d; (d = hex_digit(line[i])) >= 0; ++i, ++digits) {
    value = value * 16 + static_cast<uint64_t>(d);
    if (value > max_size) return HTTP_READ_INVALID;  // also keeps value from overflowing
  }
  if (digits == 0) return HTTP_READ_INVALID;
  *size = value;
  return HTTP_READ_OK;
}

int http_read_chunk_end(int socket) {
  char tail[2];
  ssize_t r = upnp_recv(socket, tail, 2, 0);
  if (r == 1) {
    r = upnp_recv(socket, tail + 1, 1, 0);
    if (r == 1) r = 2;
  }
  if (r == 2) return HTTP_READ_OK;
  if (r == 0) return HTTP_READ_CLOSED;
  upnp_log_impl(LOG_LEVEL_WARNING, LOG_HTTP, __func__, "socket error %s", getLastSocketError());
  return HTTP_READ_ERROR;
}

http_chunked_result http_read_chunked_body(int socket, uint64_t limit, char **body, uint64_t *length) {
  *body = nullptr;
  std::string data;
  for (;;) {
    // Sizes are bounded only to keep the value from overflowing: one above
    // the limit is told apart from a malformed line.
    uint64_t size = 0;
    if (http_read_chunk_size(socket, UINT64_MAX >> 4, &size) != HTTP_READ_OK) return HTTP_CHUNKED_FAILED;
    if (size == 0) break;
    if (size > limit - data.size()) return HTTP_CHUNKED_TOO_LARGE;
    size_t old = data.size();
    data.resize(old + size);
    size_t got = 0;
    while (got < size) {
      ssize_t n = upnp_recv(socket, &data[old + got], size - got, 0);
      if (n < 0 && errno == EINTR) continue;
      if (n <= 0) return HTTP_CHUNKED_FAILED;
      got += static_cast<size_t>(n);
    }
    if (http_read_chunk_end(socket) != HTTP_READ_OK) return HTTP_CHUNKED_FAILED;
  }
  auto *out = static_cast<char *>(upnp_malloc_impl(data.size() + 1));
  if (out == nullptr) return HTTP_CHUNKED_FAILED;
  std::memcpy(out, data.data(), data.size());
  out[data.size()] = '\0';
  *body = out;
  *length = data.size();
  return HTTP_CHUNKED_OK;
}
