// URL joining, URL splitting and the protocol-information type test.
#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "base/upnp_log.h"
#include "cp/upnp_cp_internal.h"

namespace {

bool starts_with_nocase(const char *text, const char *prefix) {
  for (; *prefix != '\0'; ++prefix, ++text) {
    if (std::tolower(static_cast<unsigned char>(*text)) != std::tolower(static_cast<unsigned char>(*prefix)))
      return false;
  }
  return true;
}

}  // namespace

// 1 http, 2 https, 3 rtp, 4 file, 0 none.
static int url_protocol(const char *url) {
  if (starts_with_nocase(url, "http://")) return 1;
  if (starts_with_nocase(url, "https://")) return 2;
  if (starts_with_nocase(url, "rtp://")) return 3;
  if (starts_with_nocase(url, "file:")) return 4;
  return 0;
}

extern "C" int makeAbsoluteURLFromBase(const char *url, char *buffer, unsigned int size) {
  if (buffer == nullptr || size == 0 || buffer[0] == '\0') return UPNP_CP_INVALID_PARAMETER;
  if (url == nullptr || url[0] == '\0') return UPNP_CP_OK;
  size_t base_length = std::strlen(buffer);
  size_t url_length = std::strlen(url);
  size_t keep = base_length;
  bool slash = false;
  if (url[0] == '/' || url[0] == '\\') {
    if (base_length > 7) {
      const char *cut = std::strchr(buffer + 7, '/');
      if (cut != nullptr) keep = static_cast<size_t>(cut - buffer);
    }
  } else if (buffer[base_length - 1] != '/') {
    slash = true;
  }
  if (keep + (slash ? 1 : 0) + url_length > size - 1u) {
    upnp_log_impl(LOG_LEVEL_WARNING, LOG_SYSTEM, __func__,
                  "upnp_cp_make_absolute_url: Buffer of size %u too small for base %s plus %s", size, buffer, url);
    return UPNP_CP_BUFFER_TOO_SMALL;
  }
  size_t at = keep;
  if (slash) buffer[at++] = '/';
  std::memcpy(buffer + at, url, url_length + 1);
  return UPNP_CP_OK;
}

int cp_join_url(const char *base, const char *url, char *buffer, unsigned int size) {
  if (buffer == nullptr || size == 0) return UPNP_CP_INVALID_PARAMETER;
  buffer[0] = '\0';
  if (url != nullptr && url_protocol(url) != 0) {
    size_t length = std::strlen(url);
    if (length >= size) return UPNP_CP_BUFFER_TOO_SMALL;
    std::memcpy(buffer, url, length + 1);
    return UPNP_CP_OK;
  }
  if (base == nullptr || base[0] == '\0') return UPNP_CP_INVALID_PARAMETER;
  size_t base_length = std::strlen(base);
  if (base_length >= size) return UPNP_CP_BUFFER_TOO_SMALL;
  std::memcpy(buffer, base, base_length + 1);
  int result = makeAbsoluteURLFromBase(url, buffer, size);
  if (result != UPNP_CP_OK) buffer[0] = '\0';
  return result;
}

extern "C" int upnp_cp_get_absolute_url(const char *base, const char *url, char *buffer, unsigned int size) {
  return cp_join_url(base, url, buffer, size);
}

int cp_split_http_url(const char *url, char *host, unsigned int host_size, unsigned int *port) {
  if (host != nullptr && host_size > 0) host[0] = '\0';
  if (port != nullptr) *port = 0;
  if (url == nullptr || !starts_with_nocase(url, "http://")) return 0;
  const char *start = url + 7;
  size_t length = 0;
  while (start[length] != '\0' && start[length] != ':' && start[length] != '/' && start[length] != '?') {
    char c = start[length];
    if (!std::isalnum(static_cast<unsigned char>(c)) && c != '.' && c != '-' && c != '_') return 0;
    ++length;
  }
  if (length == 0 || length > 253) return 0;
  unsigned long value = 80;
  const char *rest = start + length;
  if (*rest == ':') {
    ++rest;
    if (!std::isdigit(static_cast<unsigned char>(*rest))) return 0;
    value = 0;
    int digits = 0;
    while (std::isdigit(static_cast<unsigned char>(*rest))) {
      value = value * 10 + static_cast<unsigned long>(*rest - '0');
      if (++digits > 5) return 0;
      ++rest;
    }
    if (value == 0 || value > 65535) return 0;
  }
  if (*rest != '\0' && *rest != '/' && *rest != '?') return 0;
  if (host != nullptr) {
    if (length >= host_size) return 0;
    std::memcpy(host, start, length);
    host[length] = '\0';
  }
  if (port != nullptr) *port = static_cast<unsigned int>(value);
  return 1;
}

extern "C" int upnp_cp_supports_types(const char *protocol_info, const char *types, int all) {
  if (types == nullptr) return 1;
  const char *p = types;
  while (*p != '\0' && std::isspace(static_cast<unsigned char>(*p))) ++p;
  if (*p == '\0') return 1;
  if (protocol_info == nullptr) return 0;
  char word[256];
  while (*p != '\0') {
    size_t length = 0;
    while (p[length] != '\0' && !std::isspace(static_cast<unsigned char>(p[length]))) ++length;
    bool found;
    if (length < sizeof word) {
      std::memcpy(word, p, length);
      word[length] = '\0';
      found = std::strstr(protocol_info, word) != nullptr;
    } else {
      found = false;
    }
    if (all && !found) return 0;
    if (!all && found) return 1;
    p += length;
    while (*p != '\0' && std::isspace(static_cast<unsigned char>(*p))) ++p;
  }
  return all ? 1 : 0;
}
