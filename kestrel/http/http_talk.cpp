// Complete exchanges: open, send, skip interim responses, read one response,
// close. Plus the thin wrappers and the SOAP URL join.
#include <cstdio>
#include <cstring>

#include "base/upnp_log.h"
#include "base/upnp_mem.h"
#include "base/upnp_socket.h"
#include "http/http_client.h"
#include "http/http_io.h"
#include "http/upnp_socket_watchdog.h"

namespace {

constexpr size_t kSoapUrlBuffer = 1024;

// "HTTP/1.1 1" followed by two digits: 100 Continue and the other 1xx.
bool is_interim(const char *header) {
  const char *p = std::strstr(header, "HTTP/1.1 1");
  return p && p[10] >= '0' && p[10] <= '9' && p[11] >= '0' && p[11] <= '9';
}

}  // namespace

extern "C" char *_HTTP_talk(int mode, const char *url, const char *soap_action, const char *body, int timeout_ms,
                            char **header_out) {
  if (header_out) *header_out = nullptr;
  if (!url || (mode != HTTP_TALK_SOAP && mode != HTTP_TALK_GET)) return nullptr;
  int s = HTTP_open(url);
  if (s < 0) return nullptr;

  upnp_socket_timeout *watch = nullptr;
  if (timeout_ms > 0) {
    setSockOptReceiveTimeout(s, static_cast<unsigned int>(timeout_ms));
    watch = upnp_enforce_socket_timeout(static_cast<unsigned int>(timeout_ms), s);
  }

  char *result = nullptr;
  bool sent;
  if (mode == HTTP_TALK_GET) {
    sent = HTTP_get_request(s, url, nullptr) == 0;
  } else {
    sent = HTTP_post_request(s, url, soap_action, body) == 0;
    if (sent && body) {
      upnp_log_impl(LOG_LEVEL_TRACE, LOG_HTTP, __func__, "Sending body:\n%s", body);
      size_t n = std::strlen(body);
      size_t done = 0;
      while (done < n) {
        ssize_t r = upnp_send(s, body + done, n - done, 0);
        if (r <= 0) {
          upnp_log_impl(LOG_LEVEL_WARNING, LOG_HTTP, __func__, "socket error %s", getLastSocketError());
          sent = false;
          break;
        }
        done += static_cast<size_t>(r);
      }
    }
  }

  if (sent) {
    char header[HTTP_HEADER_BUFFER_SIZE];
    int got;
    do {
      got = HTTP_get_header(s, header, sizeof header);
    } while (got > 0 && is_interim(header));
    if (got <= 0) {
      upnp_log_impl(LOG_LEVEL_WARNING, LOG_HTTP, __func__, "received no header in HTTP_talk!");
    } else if (!HTTP_find_nocase(header, "404 not found")) {
      if (header_out) *header_out = upnp_strdup_impl(header);
      result = http_read_body(s, header, false, nullptr);
    }
  }

  // The watchdog's verdict comes first: a body read from a socket it shut
  // down is cut short and must not pass for a whole one.
  if (watch && upnp_release_socket_timeout(watch, 0)) {
    upnp_log_impl(LOG_LEVEL_WARNING, LOG_HTTP, __func__, "exchange with %s timed out after %d ms", url, timeout_ms);
    upnp_free_impl(result);
    result = nullptr;
    if (header_out) {
      upnp_free_impl(*header_out);
      *header_out = nullptr;
    }
  }
  upnp_socket_close(s);
  return result;
}

extern "C" char *HTTP_talk(int mode, const char *url, const char *soap_action, const char *body) {
  return _HTTP_talk(mode, url, soap_action, body, 0, nullptr);
}

extern "C" char *HTTP_get(const char *url) { return HTTP_talk(HTTP_TALK_GET, url, nullptr, nullptr); }

extern "C" char *HTTP_get_with_timeout(const char *url, int timeout_ms) {
  return _HTTP_talk(HTTP_TALK_GET, url, nullptr, nullptr, timeout_ms, nullptr);
}

extern "C" char *HTTP_get_advanced(const char *url, int timeout_ms, char **header_out) {
  return _HTTP_talk(HTTP_TALK_GET, url, nullptr, nullptr, timeout_ms, header_out);
}

extern "C" char *HTTP_soap_action(const char *base_url, const char *control_url, const char *soap_action,
                                  const char *body) {
  if (!base_url || !control_url) return nullptr;
  char url[kSoapUrlBuffer];
  size_t base_len = std::strlen(base_url);
  if (base_len >= sizeof url) {
    upnp_log_impl(LOG_LEVEL_ERROR, LOG_HTTP, __func__, "Out of memory copying URLBase");
    return nullptr;
  }
  std::memcpy(url, base_url, base_len + 1);
  int n;
  if (control_url[0] != '/') {
    // One separator between the two parts, also when the base ends in '/'.
    bool has_slash = base_len > 0 && url[base_len - 1] == '/';
    n = std::snprintf(url + base_len, sizeof url - base_len, "%s%s", has_slash ? "" : "/", control_url);
  } else {
    char *host_end = base_len > 7 ? std::strchr(url + 7, '/') : nullptr;
    if (host_end) {
      *host_end = '\0';
      base_len = static_cast<size_t>(host_end - url);
    }
    n = std::snprintf(url + base_len, sizeof url - base_len, "%s", control_url);
  }
  if (n < 0 || static_cast<size_t>(n) >= sizeof url - base_len) {
    upnp_log_impl(LOG_LEVEL_ERROR, LOG_HTTP, __func__, "SOAP URL too long: %s %s", base_url, control_url);
    return nullptr;
  }
  unsigned int seconds = HTTP_get_soap_timeout();
  int ms = seconds > 2000000u ? 2000000000 : static_cast<int>(seconds * 1000u);
  return _HTTP_talk(HTTP_TALK_SOAP, url, soap_action, body, ms, nullptr);
}
