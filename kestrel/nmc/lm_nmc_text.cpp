// Text helpers: XML escaping, the name order of the device lists, the IP of
// a URL base.
#include "nmc/lm_nmc_text.h"

#include <cstring>

#include "base/upnp_mem.h"
#include "base/upnp_xml_escape.h"

std::string nmc_xml_escape(const char *text) {
  if (text == nullptr) return std::string();
  char *escaped = upnp_xml_escape_cond(text, 0);
  if (escaped == nullptr) return std::string();
  std::string result(escaped);
  upnp_free_impl(escaped);
  return result;
}

namespace {

// The next code point of a UTF-8 text; a malformed byte is taken as itself.
uint32_t next_code_point(const unsigned char *&p) {
  uint32_t c = *p;
  int more = c >= 0xF0 && c < 0xF8 ? 3 : c >= 0xE0 ? 2 : c >= 0xC0 ? 1 : 0;
  if (c >= 0xF8) more = 0;
  uint32_t value = more == 3 ? c & 0x07 : more == 2 ? c & 0x0F : more == 1 ? c & 0x1F : c;
  for (int i = 1; i <= more; ++i) {
    if ((p[i] & 0xC0) != 0x80) {
      ++p;
      return c;
    }
    value = (value << 6) | (p[i] & 0x3F);
  }
  p += 1 + more;
  return value;
}

uint32_t fold(uint32_t c) {
  if (c >= 'A' && c <= 'Z') return c + 32;
  if (c >= 0xC0 && c <= 0xDE && c != 0xD7) return c + 32;                // Latin-1
  if (c == 0x178) return 0xFF;  // Y with diaeresis pairs with U+00FF
  if (c >= 0x100 && c <= 0x17F && c != 0x130 && c != 0x131 && c != 0x138 && c != 0x149 && c != 0x17F) {
    // Latin Extended-A: pairs, upper case on the even code point up to
    // U+0137 and from U+014A, on the odd one from U+0139 to U+0148 and
    // from U+0179.
    bool odd_upper = (c >= 0x139 && c <= 0x148) || c >= 0x179;
    if (odd_upper) return (c & 1) != 0 ? c + 1 : c;
    return (c & 1) == 0 ? c + 1 : c;
  }
  if (c >= 0x391 && c <= 0x3AB && c != 0x3A2) return c + 32;  // Greek
  if (c >= 0x410 && c <= 0x42F) return c + 32;                // Cyrillic
  if (c >= 0x400 && c <= 0x40F) return c + 80;
  return c;
}

}  // namespace

int nmc_name_compare(const char *a, const char *b) {
  const unsigned char *p = reinterpret_cast<const unsigned char *>(a != nullptr ? a : "");
  const unsigned char *q = reinterpret_cast<const unsigned char *>(b != nullptr ? b : "");
  while (*p != 0 && *q != 0) {
    uint32_t x = fold(next_code_point(p));
    uint32_t y = fold(next_code_point(q));
    if (x != y) return x < y ? -1 : 1;
  }
  if (*p == 0 && *q == 0) return 0;
  return *p == 0 ? -1 : 1;
}

std::string nmc_ip_of_urlbase(const char *urlbase) {
  const char *prefix = "http://";
  if (urlbase == nullptr || std::strncmp(urlbase, prefix, 7) != 0) return std::string();
  std::string ip;
  for (const char *p = urlbase + 7; (*p >= '0' && *p <= '9') || *p == '.'; ++p) {
    if (ip.size() == 15) break;
    ip += *p;
  }
  return ip;
}
