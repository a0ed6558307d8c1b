// Bounded fetch of a description or service description: one GET with a
// time-out; a declared or received body above the bound is refused, and one
// that arrives without a length stops being read at the bound.
#include <unistd.h>

#include <cctype>
#include <cstdlib>
#include <cstring>
#include <strings.h>

#include "base/upnp_log.h"
#include "base/upnp_mem.h"
#include "cp/upnp_cp_internal.h"
#include "http/http_client.h"
#include "http/upnp_socket_watchdog.h"

namespace {

// The Content-Length of a response header, or -1.
long long content_length(const char *header) {
  for (const char *line = header; line != nullptr && *line != '\0';) {
    if (strncasecmp(line, "Content-Length:", 15) == 0) {
      const char *p = line + 15;
      while (*p == ' ' || *p == '\t') ++p;
      if (!std::isdigit(static_cast<unsigned char>(*p))) return -1;
      long long value = 0;
      while (std::isdigit(static_cast<unsigned char>(*p)) && value < (1LL << 40)) value = value * 10 + (*p++ - '0');
      return value;
    }
    line = std::strchr(line, '\n');
    if (line != nullptr) ++line;
  }
  return -1;
}

}  // namespace

char *cp_fetch_text(const char *url, int *too_large) {
  if (too_large != nullptr) *too_large = 0;
  if (url == nullptr) return nullptr;
  int socket = HTTP_open(url);
  if (socket < 0) return nullptr;
  upnp_socket_timeout *watch = upnp_enforce_socket_timeout(UPNP_CP_FETCH_TIMEOUT_MS, socket);
  char *body = nullptr;
  char *header = static_cast<char *>(upnp_malloc_impl(HTTP_HEADER_BUFFER_SIZE));
  if (header != nullptr && HTTP_get_request(socket, url, nullptr) == 0 &&
      HTTP_get_header(socket, header, HTTP_HEADER_BUFFER_SIZE) > 0) {
    bool ok_status = std::strncmp(header, "HTTP/", 5) == 0 && std::strstr(header, " 200") != nullptr &&
                     std::strstr(header, " 200") < std::strchr(header, '\n');
    long long declared = content_length(header);
    if (!ok_status) {
      upnp_log_impl(LOG_LEVEL_WARNING, LOG_SYSTEM, "getDescription", "No description at %s", url);
    } else if (declared > static_cast<long long>(UPNP_CP_MAX_DESCRIPTION_SIZE)) {
      upnp_log_impl(LOG_LEVEL_WARNING, LOG_SYSTEM, "getDescription",
                    "Description at %s too large: %lld bytes (at most %u)", url, declared,
                    UPNP_CP_MAX_DESCRIPTION_SIZE);
      if (too_large != nullptr) *too_large = 1;
    } else {
      // A chunked or length-less body is cut off as soon as it passes the
      // bound, so a device streaming an endless description costs no more.
      int over = 0;
      body = HTTP_receive_body_bounded(socket, header, UPNP_CP_MAX_DESCRIPTION_SIZE, nullptr, &over);
      if (over) {
        upnp_log_impl(LOG_LEVEL_WARNING, LOG_SYSTEM, "getDescription",
                      "Description at %s too large: more than %u bytes", url, UPNP_CP_MAX_DESCRIPTION_SIZE);
        if (too_large != nullptr) *too_large = 1;
      }
    }
  }
  upnp_free_impl(header);
  if (watch != nullptr && upnp_release_socket_timeout(watch, 0) != 0) {
    upnp_free_impl(body);  // cut off by the time-out
    body = nullptr;
  }
  close(socket);
  return body;
}
