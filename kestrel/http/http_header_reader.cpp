// HTTP_get_header: reads one request or response header byte by byte (from
// peeked windows, see http_byte_reader), so that nothing of the body is
// consumed with it.
#include <cstring>

#include "base/upnp_log.h"
#include "http/http_client.h"
#include "http/http_io.h"
#include "http/http_methods.h"

namespace {

// An oversized header is discarded up to its empty line; so is the chunked
// body of a GET request. Neither may go on for ever.
constexpr size_t kMaxDiscard = 1024 * 1024;

// Four-state end detector: CR LF CR LF.
inline int advance_end_state(int state, char c) {
  if (c == '\r' && (state == 0 || state == 2)) return state + 1;
  if (c == '\n' && (state == 1 || state == 3)) return state + 1;
  return 0;
}

bool starts_like_header(const char *text) {
  return HTTP_get_method_type(text) != HTTP_METHOD_UNKNOWN || std::strncmp(text, "HTTP", 4) == 0 ||
         std::strncmp(text, "ICY", 3) == 0;
}

// A GET request's chunked body is not wanted: read until at least two LF
// bytes and a '0' have gone by.
bool discard_chunked_request_body(int socket) {
  http_byte_reader in(socket);
  int line_feeds = 0;
  bool zero_seen = false;
  for (size_t n = 0; n < kMaxDiscard; ++n) {
    char c;
    if (in.next(&c) != HTTP_READ_OK) return false;
    if (c == '\n') {
      ++line_feeds;
    } else if (c == '0') {
      zero_seen = true;
    }
    if (line_feeds >= 2 && zero_seen) return in.commit() == HTTP_READ_OK;
  }
  return false;
}

}  // namespace

extern "C" int HTTP_get_header(int socket, char *buffer, int size) {
  return http_get_header_peeked(socket, buffer, size, nullptr, 0);
}

int http_get_header_peeked(int socket, char *buffer, int size, const char *peeked, size_t peeked_length) {
  if (!buffer || size < 16) return 0;
  buffer[0] = '\0';
  const int limit = size - 1;
  int kept = 0;
  int state = 0;
  http_byte_reader in(socket, peeked, peeked_length);
  for (;;) {
    char c;
    int r = in.next(&c);
    if (r != HTTP_READ_OK) {
      buffer[kept] = '\0';
      return 0;
    }
    if (kept == 0 && static_cast<unsigned char>(c) < 32) continue;  // stray CR/LF before the start line
    buffer[kept++] = c;
    if (kept == 10) {
      buffer[kept] = '\0';
      if (!starts_like_header(buffer)) {
        upnp_log_impl(LOG_LEVEL_WARNING, LOG_HTTP, __func__, "Invalid header");
        return 0;
      }
    }
    state = advance_end_state(state, c);
    if (state == 4) break;
    if (kept == limit) {
      buffer[kept] = '\0';
      upnp_log_impl(LOG_LEVEL_WARNING, LOG_HTTP, __func__, "header buffer too small!\n%s", buffer);
      std::memcpy(buffer + limit - 4, "\r\n\r\n", 4);
      size_t discarded = 0;
      while (state != 4) {
        if (in.next(&c) != HTTP_READ_OK) break;
        state = advance_end_state(state, c);
        if (++discarded > kMaxDiscard) return 0;
      }
      in.commit();
      return limit;
    }
  }
  if (in.commit() != HTTP_READ_OK) return 0;
  buffer[kept] = '\0';
  if (kept < 10 && !starts_like_header(buffer)) {
    upnp_log_impl(LOG_LEVEL_WARNING, LOG_HTTP, __func__, "Invalid header");
    return 0;
  }
  if (std::strncmp(buffer, "GET", 3) == 0 && std::strstr(buffer, "chunked\r\n") &&
      std::strstr(buffer, "Transfer-Encoding")) {
    if (!discard_chunked_request_body(socket)) return 0;
  }
  return kept;
}
