// Header parsers: status code, Content-Length, chunked, Content-Type,
// Connection: close, generic field values, and URL unescaping.
#include "http/http_parse.h"

#include <cctype>
#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>

#include "base/upnp_mem.h"

namespace {

inline unsigned char lower(unsigned char c) {
  return (c >= 'A' && c <= 'Z') ? static_cast<unsigned char>(c + 32) : c;
}

const char *skip_blanks_tabs(const char *p) {
  while (*p == ' ' || *p == '\t') ++p;
  return p;
}

int hex_value(unsigned char c) {
  if (c >= '0' && c <= '9') return c - '0';
  c = lower(c);
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  return -1;
}

}  // namespace

extern "C" const char *HTTP_find_nocase(const char *haystack, const char *needle) {
  if (!haystack || !needle) return nullptr;
  size_t n = std::strlen(needle);
  if (n > HTTP_MAX_SEARCH_NAME) return nullptr;
  if (n == 0) return haystack;
  const unsigned char first = lower(static_cast<unsigned char>(needle[0]));
  for (const char *h = haystack; *h; ++h) {
    if (lower(static_cast<unsigned char>(*h)) != first) continue;
    size_t i = 1;
    while (i < n && h[i] &&
           lower(static_cast<unsigned char>(h[i])) == lower(static_cast<unsigned char>(needle[i])))
      ++i;
    if (i == n) return h;
    if (!h[i]) return nullptr;  // haystack ran out: no later start can match
  }
  return nullptr;
}

extern "C" int HTTP_parse_header_response(const char *header) {
  if (!header || !*header) return 500;
  const char *p;
  if (*header == ' ') {
    p = header + 1;
  } else {
    p = std::strchr(header, ' ');
    if (!p || !p[1]) return 500;
    ++p;
  }
  errno = 0;
  long v = std::strtol(p, nullptr, 10);
  if (v > INT_MAX) v = INT_MAX;
  if (v < INT_MIN) v = INT_MIN;
  return static_cast<int>(v);
}

extern "C" int64_t HTTP_parse_header_size(const char *header) {
  const char *p = HTTP_find_nocase(header, "content-length:");
  if (!p) return 0;
  p = skip_blanks_tabs(p + 15);
  errno = 0;
  long long v = std::strtoll(p, nullptr, 10);
  if (v < 0) return 0;
  return static_cast<int64_t>(v);  // saturates at the 64-bit maximum
}

extern "C" int HTTP_parse_header_chunked(const char *header) {
  return HTTP_find_nocase(header, "chunked\r\n") && HTTP_find_nocase(header, "Transfer-Encoding");
}

extern "C" char *HTTP_parse_header_mime_type(const char *header) {
  const char *p = HTTP_find_nocase(header, "content-type:");
  if (!p) return nullptr;
  p += 13;
  while (*p == ' ') ++p;
  const char *end = std::strstr(p, "\r\n");
  if (!end) return nullptr;
  size_t n = static_cast<size_t>(end - p);
  char *copy = static_cast<char *>(upnp_malloc_impl(n + 1));
  if (!copy) return nullptr;
  std::memcpy(copy, p, n);
  copy[n] = '\0';
  return copy;
}

extern "C" int upnp_http_has_connection_close(const char *header) {
  const char *p = HTTP_find_nocase(header, "connection:");
  if (!p) return 0;
  p = skip_blanks_tabs(p + 11);
  // Look for the token within this field only (e.g. "Connection: TE, close"),
  // never in a later field that happens to contain the word.
  const char *eol = p;
  while (*eol && *eol != '\r' && *eol != '\n') ++eol;
  for (const char *q = p; q + 5 <= eol; ++q) {
    size_t i = 0;
    while (i < 5 && lower(static_cast<unsigned char>(q[i])) == "close"[i]) ++i;
    if (i == 5) return 1;
  }
  return 0;
}

extern "C" const char *HTTP_get_header_param(const char *header, const char *name) {
  const char *p = HTTP_find_nocase(header, name);
  if (!p) return nullptr;
  p = skip_blanks_tabs(p + std::strlen(name));
  if (!*p || std::isspace(static_cast<unsigned char>(*p))) return nullptr;
  return p;
}

extern "C" char *HTTP_unescape_url(char *text) {
  if (!text) return nullptr;
  char *out = text;
  for (const char *in = text; *in; ++in) {
    if (*in == '%') {
      int hi = hex_value(static_cast<unsigned char>(in[1]));
      int lo = hi >= 0 ? hex_value(static_cast<unsigned char>(in[2])) : -1;
      if (hi >= 0 && lo >= 0) {
        *out++ = static_cast<char>(hi * 16 + lo);
        in += 2;
        continue;
      }
    }
    *out++ = (*in == '+') ? ' ' : *in;
  }
  *out = '\0';
  return text;
}
