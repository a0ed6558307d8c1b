// URL loading on the library's HTTP client: one GET per load with a deadline
// for the whole exchange, a cap on the body, no cached data, UTF-8 text; in
// header mode a redirect's fields come back as text instead of being
// followed. A host name that does not resolve fails the load (the client
// itself would fall back to 127.0.0.1).
#include <arpa/inet.h>
#include <netinet/in.h>

#include <cctype>
#include <cstdio>
#include <cstring>
#include <string>

#include "base/upnp_log.h"
#include "base/upnp_mem.h"
#include "base/upnp_socket.h"
#include "http/http_client.h"
#include "http/upnp_socket_watchdog.h"
#include "media/zel_platform.h"

namespace {

constexpr const char *kNoCache = "Cache-Control: no-cache\r\nPragma: no-cache\r\n";

bool host_resolves(const char *url) {
  if (std::strncmp(url, "http://", 7) != 0) return false;
  const char *rest = url + 7;
  size_t end = std::strcspn(rest, "/?#");
  const char *at = static_cast<const char *>(std::memchr(rest, '@', end));
  if (at) {
    end -= static_cast<size_t>(at + 1 - rest);
    rest = at + 1;
  }
  size_t n = std::strcspn(rest, ":/?#");
  if (n == 0 || n > 255) return false;
  std::string host(rest, n);
  struct in_addr address;
  return upnp_gethostbyname(host.c_str(), &address) == 0;
}

bool is_utf8(const unsigned char *p, size_t n) {
  size_t i = 0;
  while (i < n) {
    unsigned char c = p[i];
    size_t follow;
    uint32_t cp;
    if (c < 0x80) {
      ++i;
      continue;
    } else if ((c & 0xE0) == 0xC0) {
      follow = 1;
      cp = c & 0x1F;
    } else if ((c & 0xF0) == 0xE0) {
      follow = 2;
      cp = c & 0x0F;
    } else if ((c & 0xF8) == 0xF0) {
      follow = 3;
      cp = c & 0x07;
    } else {
      return false;
    }
    if (i + follow >= n) return false;
    for (size_t k = 1; k <= follow; ++k) {
      if ((p[i + k] & 0xC0) != 0x80) return false;
      cp = (cp << 6) | (p[i + k] & 0x3F);
    }
    // Overlong forms, surrogates and values past U+10FFFF are no UTF-8.
    if ((follow == 1 && cp < 0x80) || (follow == 2 && cp < 0x800) || (follow == 3 && cp < 0x10000) ||
        (cp >= 0xD800 && cp <= 0xDFFF) || cp > 0x10FFFF) {
      return false;
    }
    i += follow + 1;
  }
  return true;
}

int status_of(const char *header) {
  int status = 0;
  if (std::sscanf(header, "HTTP/%*d.%*d %d", &status) != 1) return 0;
  return status;
}

bool is_token_char(unsigned char c) { return std::isalnum(c) || std::strchr("!#$%&'*+-.^_`|~", c) != nullptr; }

bool needs_quotes(const std::string &value) {
  if (value.empty()) return true;
  for (unsigned char c : value) {
    if (!std::isalnum(c) && c != '_' && c != '.') return true;
  }
  return false;
}

char *load(const char *url, bool header_mode, unsigned int deadline_ms) {
  if (!url || std::strncmp(url, "http://", 7) != 0) {
    upnp_log_impl(LOG_LEVEL_WARNING, LOG_HTTP, __func__, "not an http URL: %s", url ? url : "(none)");
    return nullptr;
  }
  if (!host_resolves(url)) {
    upnp_log_impl(LOG_LEVEL_WARNING, LOG_HTTP, __func__, "host of %s does not resolve", url);
    return nullptr;
  }
  if (deadline_ms == 0) deadline_ms = MU_HTTP_DEADLINE_MS;
  int s = HTTP_open(url);
  if (s < 0) return nullptr;
  upnp_socket_timeout *watch = upnp_enforce_socket_timeout(deadline_ms, s);
  setSockOptReceiveTimeout(s, deadline_ms);
  setSockOptSendTimeout(s, deadline_ms);

  char *result = nullptr;
  if (HTTP_get_request(s, url, kNoCache) == 0) {
    char header[HTTP_HEADER_BUFFER_SIZE];
    int got;
    int status;
    do {
      got = HTTP_get_header(s, header, sizeof header);
      status = got > 0 ? status_of(header) : 0;
    } while (got > 0 && status >= 100 && status < 200);
    if (got <= 0) {
      upnp_log_impl(LOG_LEVEL_WARNING, LOG_HTTP, __func__, "no answer from %s", url);
    } else if (header_mode && status >= 300 && status < 400) {
      result = MUFormatHeaderFields(header);
    } else {
      uint64_t length = 0;
      int over = 0;
      result = HTTP_receive_body_bounded(s, header, MU_HTTP_BODY_CAP, &length, &over);
      if (over) {
        upnp_log_impl(LOG_LEVEL_WARNING, LOG_HTTP, __func__, "body of %s passes %d bytes", url, MU_HTTP_BODY_CAP);
      } else if (!result) {
        // A response without a body is an empty text, as the platform gives it.
        result = upnp_strdup_impl("");
      } else if (!is_utf8(reinterpret_cast<unsigned char *>(result), static_cast<size_t>(length))) {
        upnp_log_impl(LOG_LEVEL_WARNING, LOG_HTTP, __func__, "body of %s is no UTF-8 text", url);
        upnp_free_impl(result);
        result = nullptr;
      }
    }
  }
  // The watchdog's verdict first: what was read from a socket it shut down
  // is cut short.
  if (watch && upnp_release_socket_timeout(watch, 0)) {
    upnp_log_impl(LOG_LEVEL_WARNING, LOG_HTTP, __func__, "load of %s passed its deadline of %u ms", url, deadline_ms);
    upnp_free_impl(result);
    result = nullptr;
  }
  upnp_socket_close(s);
  return result;
}

}  // namespace

char *MUFormatHeaderFields(const char *header) {
  if (!header) return nullptr;
  std::string out;
  const char *line = std::strstr(header, "\r\n");
  while (line) {
    line += 2;
    const char *end = std::strstr(line, "\r\n");
    std::string text = end ? std::string(line, static_cast<size_t>(end - line)) : std::string(line);
    line = end;
    size_t colon = text.find(':');
    if (colon == std::string::npos || colon == 0) continue;
    std::string name = text.substr(0, colon);
    bool token = true;
    for (unsigned char c : name) token = token && is_token_char(c);
    if (!token) continue;
    size_t start = text.find_first_not_of(" \t", colon + 1);
    std::string value = start == std::string::npos ? std::string() : text.substr(start);
    while (!value.empty() && (value.back() == ' ' || value.back() == '\t')) value.pop_back();
    out += name;
    out += " = ";
    if (needs_quotes(value)) {
      out += '"';
      for (char c : value) {
        if (c == '"' || c == '\\') out += '\\';
        out += c;
      }
      out += '"';
    } else {
      out += value;
    }
    out += ";\n";
  }
  return upnp_strdup_impl(out.c_str());
}

char *MUHttpGet(const char *url, unsigned int deadline_ms) { return load(url, false, deadline_ms); }

char *MUHttpGetHeader(const char *url, unsigned int deadline_ms) { return load(url, true, deadline_ms); }
