// Reading client-type descriptions: keyword values, option tests and the
// small text helpers the rest of the database shares.
#include <string.h>

#include "base/upnp_mem.h"
#include "base/upnp_server_state.h"
#include "clientdb/upnp_client_db_internal.h"

const char *cdb_description(uint32_t type) {
  if (type >= UPNP_CLIENT_DB_MAX_TYPES) return nullptr;
  const char *desc = g_clientDescription[type];
  return desc != nullptr ? desc : "";
}

static inline char lower_ascii(char c) { return (c >= 'A' && c <= 'Z') ? (char)(c + ('a' - 'A')) : c; }

const char *cdb_find_nocase(const char *haystack, const char *needle) {
  if (haystack == nullptr || needle == nullptr) return nullptr;
  if (*needle == '\0') return haystack;
  const char first = lower_ascii(*needle);
  for (const char *h = haystack; *h != '\0'; ++h) {
    if (lower_ascii(*h) != first) continue;
    const char *a = h + 1;
    const char *b = needle + 1;
    while (*b != '\0' && *a != '\0' && lower_ascii(*a) == lower_ascii(*b)) {
      ++a;
      ++b;
    }
    if (*b == '\0') return h;
    if (*a == '\0') return nullptr;
  }
  return nullptr;
}

std::string cdb_lower(const char *text) {
  std::string out;
  if (text == nullptr) return out;
  out.assign(text);
  for (char &c : out) c = lower_ascii(c);
  return out;
}

// A value runs up to the first byte below 0x20 or of 0x80 and above.
static inline bool value_byte(char c) {
  const unsigned char u = (unsigned char)c;
  return u >= 0x20 && u < 0x80;
}

int cdb_keyword(const char *desc, const char *key, char *buffer, size_t size) {
  if (buffer != nullptr && size > 0) buffer[0] = '\0';
  if (desc == nullptr || key == nullptr || buffer == nullptr || size == 0) return 0;
  const char *at = strstr(desc, key);
  if (at == nullptr) return 0;
  // The key is three characters long; the value follows directly.
  size_t key_length = strnlen(key, 3);
  const char *value = at + key_length;
  size_t n = 0;
  while (n + 1 < size && value_byte(value[n])) {
    buffer[n] = value[n];
    ++n;
    // During shutdown the copy ends after the current character.
    if (upnp_server_get_state() != UPNP_SERVER_RUNNING) break;
  }
  buffer[n] = '\0';
  return n > 0 ? 1 : 0;
}

std::string cdb_keyword_string(const char *desc, const char *key) {
  std::string out;
  if (desc == nullptr || key == nullptr) return out;
  const char *at = strstr(desc, key);
  if (at == nullptr) return out;
  const char *value = at + strnlen(key, 3);
  size_t n = 0;
  while (value_byte(value[n])) ++n;
  out.assign(value, n);
  return out;
}

char *cdb_dup(const char *text) { return text != nullptr ? upnp_strdup_impl(text) : nullptr; }

void cdb_set_text(char **field, const char *text) {
  char *copy = (text != nullptr && *text != '\0') ? upnp_strdup_impl(text) : nullptr;
  upnp_free_impl(*field);
  *field = copy;
}

extern "C" int upnp_client_db_getKeyword(uint32_t type, const char *key, char *buffer, size_t size) {
  if (buffer != nullptr && size > 0) buffer[0] = '\0';
  const char *desc = cdb_description(type);
  if (desc == nullptr) return 0;
  return cdb_keyword(desc, key, buffer, size);
}

extern "C" int upnp_client_db_supports_option(uint32_t type, const char *token) {
  const char *desc = cdb_description(type);
  if (desc == nullptr || token == nullptr) return 0;
  return strstr(desc, token) != nullptr ? 1 : 0;
}
