// HTTP_receive_file: a message body written to a file (uploads received by
// the server), with a size limit and a resume offset.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "base/upnp_log.h"
#include "base/upnp_mem.h"
#include "base/upnp_socket.h"
#include "http/http_client.h"
#include "http/http_io.h"

namespace {

constexpr size_t kPiece = 131072;

struct Receiver {
  int socket;
  int fd;
  char *buffer;
  long long received;
  long long limit;  // 0: none
  bool flowing = false;

  bool over_limit() const { return limit > 0 && received > limit; }

  // Writes n bytes of buffer; false (logged) when fewer were stored.
  bool store(size_t n, const char *what) {
    size_t done = 0;
    while (done < n) {
      ssize_t w = write(fd, buffer + done, n - done);
      if (w <= 0) {
        upnp_log_impl(LOG_LEVEL_ERROR, LOG_HTTP, "HTTP_receive_file", "%s", what);
        return false;
      }
      done += static_cast<size_t>(w);
    }
    return true;
  }

  // Receives up to `want` bytes into buffer: >0 count, 0 closed, <0 error.
  ssize_t receive(size_t want) {
    ssize_t r = upnp_recv(socket, buffer, want, 0);
    if (r < 0)
      upnp_log_impl(LOG_LEVEL_WARNING, LOG_HTTP, "HTTP_receive_file", "HTTP_receive_file upnp_recv() returned error: %d",
                    errno);
    return r;
  }

  bool exceeded() {
    if (!over_limit()) return false;
    upnp_log_impl(LOG_LEVEL_ERROR, LOG_HTTP, "HTTP_receive_file", "uploaded data size exceeds maximum allowed size");
    return true;
  }

  bool until_close() {
    upnp_log_impl(LOG_LEVEL_INFO, LOG_HTTP, "HTTP_receive_file",
                  "not chunked, but no content length given - read until socket is closed");
    for (;;) {
      ssize_t r = receive(kPiece);
      if (r == 0) break;
      if (r < 0) return false;
      flowing = true;
      received += r;
      if (exceeded()) return false;
      if (!store(static_cast<size_t>(r), "can't save received data (2)")) return false;
    }
    upnp_log_impl(LOG_LEVEL_INFO, LOG_HTTP, "HTTP_receive_file", "completed receiving %lld bytes", received);
    return true;
  }

  bool with_length(long long total) {
    upnp_log_impl(LOG_LEVEL_INFO, LOG_HTTP, "HTTP_receive_file", "starting to receive %lld bytes", total - received);
    while (received < total) {
      long long left = total - received;
      ssize_t r = receive(left < static_cast<long long>(kPiece) ? static_cast<size_t>(left) : kPiece);
      if (r <= 0) break;
      flowing = true;
      received += r;
      if (exceeded()) return false;
      if (!store(static_cast<size_t>(r), "can't save received data (2)")) return false;
    }
    if (received < total) {
      upnp_log_impl(LOG_LEVEL_ERROR, LOG_HTTP, "HTTP_receive_file", "received %lld bytes but expected %lld", received,
                    total);
      return false;
    }
    return true;
  }

  bool chunked() {
    for (;;) {
      uint64_t size = 0;
      int r = http_read_chunk_size(socket, 0xFFFFFFFFull, &size);
      if (r == HTTP_READ_CLOSED) {
        upnp_log_impl(LOG_LEVEL_ERROR, LOG_HTTP, "HTTP_receive_file", "Upload finished without zero-length chunk");
        return false;
      }
      if (r != HTTP_READ_OK) return false;
      upnp_log_impl(LOG_LEVEL_TRACE, LOG_HTTP, "HTTP_receive_file", "chunk size: %d", static_cast<int>(size));
      if (size == 0) return true;
      if (limit > 0 && received + static_cast<long long>(size) > limit) {
        received += static_cast<long long>(size);
        exceeded();
        received -= static_cast<long long>(size);
        return false;
      }
      while (size > 0) {
        ssize_t n = receive(size < kPiece ? static_cast<size_t>(size) : kPiece);
        if (n <= 0) {
          upnp_log_impl(LOG_LEVEL_ERROR, LOG_HTTP, "HTTP_receive_file", "Upload finished with incomplete chunk");
          return false;
        }
        flowing = true;
        received += n;
        size -= static_cast<uint64_t>(n);
        if (!store(static_cast<size_t>(n), "can't save received data")) return false;
      }
      if (http_read_chunk_end(socket) != HTTP_READ_OK) {
        upnp_log_impl(LOG_LEVEL_ERROR, LOG_HTTP, "HTTP_receive_file", "Upload finished with incomplete chunk");
        return false;
      }
    }
  }
};

}  // namespace

extern "C" int HTTP_receive_file(int socket, const char *header, const char *path, int max_upload_mb,
                                 int64_t expected_offset, int64_t *received_out) {
  if (!header || !path) return 0;
  int fd = open(path, O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0644);
  if (fd < 0) {
    upnp_log_impl(LOG_LEVEL_ERROR, LOG_HTTP, __func__, "cannot open %s", path);
    return 0;
  }
  upnp_log_impl(LOG_LEVEL_INFO, LOG_HTTP, __func__, "Starting to receive file to %s", path);
  struct stat st;
  long long file_size = fstat(fd, &st) == 0 ? static_cast<long long>(st.st_size) : 0;
  if (expected_offset > 0 && file_size != expected_offset) {
    upnp_log_impl(LOG_LEVEL_ERROR, LOG_HTTP, __func__, "file size %lld differs from the resume offset %lld", file_size,
                  static_cast<long long>(expected_offset));
    close(fd);
    return 0;
  }
  Receiver rx{socket, fd, static_cast<char *>(upnp_malloc_impl(kPiece)), expected_offset > 0 ? file_size : 0, 0, false};
  if (!rx.buffer) {
    close(fd);
    return 0;
  }
  if (max_upload_mb > 0) {
    rx.limit = static_cast<long long>(max_upload_mb) << 20;
    upnp_log_impl(LOG_LEVEL_INFO, LOG_HTTP, __func__, "nMaxUploadSize: %lld", rx.limit);
  }

  bool ok;
  if (HTTP_parse_header_chunked(header)) {
    ok = rx.chunked();
  } else {
    long long length = static_cast<long long>(HTTP_parse_header_size(header));
    if (length > (1LL << 62)) length = 1LL << 62;  // refused below; keeps the sum in range
    long long total = rx.received + length;
    upnp_log_impl(LOG_LEVEL_INFO, LOG_HTTP, __func__, "parsed content length from header: %lld", total);
    if (length == 0) {
      // No length: only a message that ends with the connection has a body.
      ok = (upnp_http_has_connection_close(header) || std::strstr(header, "HTTP/1.0")) && rx.until_close();
    } else if (length >= (1LL << 62) || (rx.limit > 0 && total > rx.limit)) {
      upnp_log_impl(LOG_LEVEL_ERROR, LOG_HTTP, __func__, "uploaded data size exceeds maximum allowed size");
      ok = false;
    } else {
      ok = rx.with_length(total);
    }
  }
  if (received_out && (ok || rx.flowing)) *received_out = rx.received;
  upnp_free_impl(rx.buffer);
  close(fd);
  return ok ? 1 : 0;
}
