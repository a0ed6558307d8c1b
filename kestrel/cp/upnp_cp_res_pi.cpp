// Reading protocolInfo texts: fields, the profile name and resolutions.
#include <cstring>

#include "cp/upnp_cp.h"
#include "cp/upnp_cp_res.h"
#include "cp/upnp_cp_res_internal.h"

namespace {

int copy_span(const char *begin, size_t length, char *buffer, unsigned int size) {
  if (length >= size) {
    buffer[0] = '\0';
    return UPNP_CP_BUFFER_TOO_SMALL;
  }
  std::memcpy(buffer, begin, length);
  buffer[length] = '\0';
  return UPNP_CP_OK;
}

}  // namespace

// Reads at most kMaxDigits decimal digits; longer numbers, and values above
// `limit`, are refused rather than wrapped.
bool res_parse_decimal(const char *text, unsigned long limit, unsigned long *value_out, const char **end_out) {
  constexpr int kMaxDigits = 9;
  unsigned long value = 0;
  int digits = 0;
  const char *p = text;
  while (*p >= '0' && *p <= '9') {
    if (++digits > kMaxDigits) return false;
    value = value * 10 + static_cast<unsigned long>(*p - '0');
    ++p;
  }
  if (digits == 0 || value > limit) return false;
  *value_out = value;
  if (end_out != nullptr) *end_out = p;
  return true;
}

const char *res_find_param(const char *text, const char *name) {
  size_t length = std::strlen(name);
  for (const char *p = std::strstr(text, name); p != nullptr; p = std::strstr(p + 1, name)) {
    // A parameter starts the text or follows a field or parameter separator
    // ("bitrate=" is not "rate=").
    if (p == text || p[-1] == ';' || p[-1] == ':') return p + length;
    if (length == 0) break;
  }
  return nullptr;
}

size_t res_profile_span(const char *protocol_info, const char **value_out) {
  *value_out = nullptr;
  if (protocol_info == nullptr) return 0;
  const char *value = std::strstr(protocol_info, "DLNA.ORG_PN=");
  if (value == nullptr) return 0;
  value += std::strlen("DLNA.ORG_PN=");
  size_t length = std::strcspn(value, ";,");
  *value_out = value;
  return length;
}

extern "C" int upnp_cp_pi_get_field(const char *protocol_info, int field, char *buffer, unsigned int size) {
  if (protocol_info == nullptr || buffer == nullptr || size == 0 || field < 0 || field > 3)
    return UPNP_CP_INVALID_PARAMETER;
  buffer[0] = '\0';
  const char *begin = protocol_info;
  for (int i = 0; i < field; ++i) {
    begin = std::strchr(begin, ':');
    if (begin == nullptr) return UPNP_CP_NOT_FOUND;
    ++begin;
  }
  size_t length = field == 3 ? std::strlen(begin) : std::strcspn(begin, ":");
  return copy_span(begin, length, buffer, size);
}

extern "C" int upnp_cp_pi_get_mime_type(const char *protocol_info, char *buffer, unsigned int size) {
  return upnp_cp_pi_get_field(protocol_info, 2, buffer, size);
}

extern "C" int upnp_cp_pi_get_profile(const char *protocol_info, char *buffer, unsigned int size) {
  if (protocol_info == nullptr || buffer == nullptr || size == 0) return UPNP_CP_INVALID_PARAMETER;
  buffer[0] = '\0';
  const char *value = nullptr;
  size_t length = res_profile_span(protocol_info, &value);
  if (value == nullptr) return UPNP_CP_NOT_FOUND;
  return copy_span(value, length, buffer, size);
}

extern "C" int upnp_cp_parse_resolution(const char *text, unsigned int *width_out, unsigned int *height_out) {
  if (width_out != nullptr) *width_out = 0;
  if (height_out != nullptr) *height_out = 0;
  if (text == nullptr) return 0;
  unsigned long width = 0;
  unsigned long height = 0;
  const char *p = nullptr;
  if (!res_parse_decimal(text, 65535, &width, &p) || width == 0) return 0;
  if (*p != 'x' && *p != 'X') return 0;
  if (!res_parse_decimal(p + 1, 65535, &height, &p) || height == 0) return 0;
  if (width_out != nullptr) *width_out = static_cast<unsigned int>(width);
  if (height_out != nullptr) *height_out = static_cast<unsigned int>(height);
  return 1;
}
