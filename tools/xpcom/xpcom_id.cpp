// nsID: the text form.
#include "xpcom_id.h"

#include <cstdio>

namespace {

int hex_value(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

// Reads `digits` hex digits at *p, advancing it.
bool read_hex(const char *&p, int digits, uint64_t &out) {
  out = 0;
  for (int i = 0; i < digits; ++i) {
    int v = hex_value(p[i]);
    if (v < 0) return false;
    out = (out << 4) | static_cast<uint64_t>(v);
  }
  p += digits;
  return true;
}

bool expect(const char *&p, char c) {
  if (*p != c) return false;
  ++p;
  return true;
}

}  // namespace

bool nsID::Parse(const char *text) {
  if (text == nullptr) return false;
  const char *p = text;
  bool braces = *p == '{';
  if (braces) ++p;
  uint64_t v0, v1, v2, v3, v4;
  if (!read_hex(p, 8, v0) || !expect(p, '-') || !read_hex(p, 4, v1) || !expect(p, '-') ||
      !read_hex(p, 4, v2) || !expect(p, '-') || !read_hex(p, 4, v3) || !expect(p, '-') ||
      !read_hex(p, 12, v4))
    return false;
  if (braces && !expect(p, '}')) return false;
  if (*p != '\0') return false;
  m0 = static_cast<uint32_t>(v0);
  m1 = static_cast<uint16_t>(v1);
  m2 = static_cast<uint16_t>(v2);
  m3[0] = static_cast<uint8_t>(v3 >> 8);
  m3[1] = static_cast<uint8_t>(v3);
  for (int i = 0; i < 6; ++i) m3[2 + i] = static_cast<uint8_t>(v4 >> (8 * (5 - i)));
  return true;
}

void nsID::ToProvidedString(char (&out)[37]) const {
  std::snprintf(out, sizeof out, "%08x-%04x-%04x-%02x%02x-%02x%02x%02x%02x%02x%02x", m0, m1, m2, m3[0], m3[1],
                m3[2], m3[3], m3[4], m3[5], m3[6], m3[7]);
}
