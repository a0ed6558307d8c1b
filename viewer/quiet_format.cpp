#include "quiet_format.h"

#include <cstddef>

namespace zel {

const char* QuietFormat(const char* format, bool quiet) {
  static char buffer[256];
  if (!quiet) return format;
  size_t out = 0;
  for (const char* p = format; *p != '\0' && out + 1 < sizeof buffer; ++p) {
    const char c = *p;
    if (c == ' ') {
      buffer[out++] = '\t';
    } else if (c == '(' || c == ')') {
      continue;
    } else if (c == '%') {
      buffer[out++] = c;
      while (p[1] == '-' || (p[1] >= '0' && p[1] <= '9')) ++p;
    } else {
      buffer[out++] = c;
    }
  }
  buffer[out] = '\0';
  return buffer;
}

}  // namespace zel
