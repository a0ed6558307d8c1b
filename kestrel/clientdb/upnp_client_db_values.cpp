// Valued lookups on a client type's description: DLNA version, numbers,
// line values (views, web browse, description file, profiles, extra
// parameters, album-art scaling).
#include <limits.h>
#include <stdio.h>
#include <string.h>

#include <string>

#include "base/upnp_mem.h"
#include "clientdb/upnp_client_db_internal.h"

// Text after `token` up to CR, LF or the end, at most `limit` characters;
// none when the token is absent.
static bool line_value(uint32_t type, const char *token, size_t limit, std::string &out) {
  const char *desc = cdb_description(type);
  if (desc == nullptr || token == nullptr) return false;
  const char *at = strstr(desc, token);
  if (at == nullptr) return false;
  const char *value = at + strlen(token);
  size_t n = 0;
  while (n < limit && value[n] != '\0' && value[n] != '\r' && value[n] != '\n') ++n;
  out.assign(value, n);
  return true;
}

static char *copy_or_none(const std::string &text) {
  return text.empty() ? nullptr : upnp_strdup_impl(text.c_str());
}

static char *line_copy(uint32_t type, const char *token, size_t limit, bool strip) {
  std::string value;
  if (!line_value(type, token, limit, value)) return nullptr;
  if (strip) {
    while (!value.empty() && (unsigned char)value.back() <= 0x20) value.pop_back();
  }
  return copy_or_none(value);
}

extern "C" int upnp_client_db_DLNA_version(uint32_t type) {
  const char *desc = cdb_description(type);
  if (desc == nullptr) return 0;
  const char *at = strstr(desc, "XM:DLNA");
  if (at == nullptr) return 0;
  at += 7;
  if (strncmp(at, "10", 2) == 0) return 10;
  if (strncmp(at, "15", 2) == 0) return 15;
  if (strncmp(at, "NO", 2) == 0) return -1;
  return 0;
}

extern "C" int upnp_client_db_get_value(uint32_t type, const char *key) {
  const char *desc = cdb_description(type);
  if (desc == nullptr || key == nullptr || *key == '\0') return 0;
  const char *at = strstr(desc, key);
  if (at == nullptr) return 0;
  const char *p = at + strlen(key);
  bool negative = false;
  if (*p == '-' || *p == '+') negative = (*p++ == '-');
  long long value = 0;
  while (*p >= '0' && *p <= '9') {
    value = value * 10 + (*p++ - '0');
    if (value > INT_MAX) {
      value = INT_MAX;  // huge numbers stay in range
      break;
    }
  }
  return (int)(negative ? -value : value);
}

extern "C" char *upnp_client_db_get_extra_params(uint32_t type, const char *name) {
  if (name == nullptr) return nullptr;
  std::string token = std::string("TP:") + name + ",";
  return line_copy(type, token.c_str(), (size_t)-1, false);
}

extern "C" char *upnp_client_db_get_description_file(uint32_t type) { return line_copy(type, "DF:", 1023, false); }

extern "C" char *upnp_client_db_get_webbrowse(uint32_t type) { return line_copy(type, "WB:", (size_t)-1, false); }

extern "C" char *upnp_client_db_get_supported_transcoding_profiles(uint32_t type) {
  return line_copy(type, "TR:", (size_t)-1, true);
}

extern "C" char *upnp_client_db_get_fake_res_profiles(uint32_t type) { return line_copy(type, "FR:", (size_t)-1, true); }

extern "C" char *upnp_client_db_albumart_scaling(uint32_t type) {
  const char *desc = cdb_description(type);
  if (desc == nullptr) return nullptr;
  const char *at = strstr(desc, "XM:AASCALE");
  if (at == nullptr) return nullptr;
  const char *value = at + 10;
  if (*value == '\0') return nullptr;
  ++value;  // the separator after the token
  size_t n = 0;
  while (n < 63 && value[n] != '\0' && value[n] != '\n' && value[n] != '\r' && value[n] != '#') ++n;
  return copy_or_none(std::string(value, n));
}

extern "C" int upnp_client_db_supports_moov_at_the_end(uint32_t type) {
  return upnp_client_db_supports_option(type, "XM:moov_not_supported") ? 0 : 1;
}

extern "C" char *upnp_client_db_get_default_view(uint32_t type) { return line_copy(type, "DV:", (size_t)-1, false); }
