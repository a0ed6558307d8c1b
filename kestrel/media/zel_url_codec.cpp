// url_encode and url_decode: the escapes of query strings.
#include "media/zel_url_codec.h"

#include <cctype>

namespace {

int hex_value(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

}  // namespace

bool url_encode(const char *in, char *out, size_t size) {
  if (!out || size == 0) return false;
  out[0] = '\0';
  if (!in) return false;
  static const char kHex[] = "0123456789abcdef";
  size_t n = 0;
  for (const unsigned char *p = reinterpret_cast<const unsigned char *>(in); *p; ++p) {
    unsigned char c = *p;
    if (std::isalnum(c) || c == '-' || c == '_' || c == '.' || c == '~' || c == ' ') {
      if (n + 1 >= size) {
        out[n] = '\0';
        return false;
      }
      out[n++] = c == ' ' ? '+' : static_cast<char>(c);
    } else {
      if (n + 3 >= size) {
        out[n] = '\0';
        return false;
      }
      out[n++] = '%';
      out[n++] = kHex[c >> 4];
      out[n++] = kHex[c & 0x0F];
    }
  }
  out[n] = '\0';
  return true;
}

bool url_decode(const char *in, char *out, size_t size) {
  if (!out || size == 0) return false;
  out[0] = '\0';
  if (!in) return false;
  size_t n = 0;
  for (const char *p = in; *p; ++p) {
    char c = *p;
    if (c == '+') {
      c = ' ';
    } else if (c == '%') {
      // The two digits are read one at a time, so a "%" at the very end (or
      // one before the end) never reads past the terminating zero.
      int high = hex_value(p[1]);
      int low = high < 0 ? -1 : hex_value(p[2]);
      if (high < 0 || low < 0) continue;
      c = static_cast<char>(high * 16 + low);
      p += 2;
      if (c == '\0') break;
    }
    if (n + 1 >= size) {
      out[n] = '\0';
      return false;
    }
    out[n++] = c;
  }
  out[n] = '\0';
  return true;
}
