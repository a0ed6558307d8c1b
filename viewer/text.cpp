#include "text.h"

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>

namespace zel {

size_t CopyBoundedN(char* dst, size_t size, const char* src, size_t count) {
  if (size == 0) return 0;
  size_t n = 0;
  while (n + 1 < size && n < count && src[n] != '\0') {
    dst[n] = src[n];
    ++n;
  }
  dst[n] = '\0';
  return n;
}

size_t CopyBounded(char* dst, size_t size, const char* src) {
  return CopyBoundedN(dst, size, src, SIZE_MAX);
}

char FoldLower(char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c; }

int CompareNoCase(const char* a, const char* b) {
  for (;; ++a, ++b) {
    const unsigned char ca = static_cast<unsigned char>(FoldLower(*a));
    const unsigned char cb = static_cast<unsigned char>(FoldLower(*b));
    if (ca != cb) return ca < cb ? -1 : 1;
    if (ca == '\0') return 0;
  }
}

bool EqualNoCase(const char* a, const char* b) { return CompareNoCase(a, b) == 0; }

bool ParseUnsigned32(const char* text, uint32_t* value) {
  if (text[0] < '0' || text[0] > '9') return false;
  errno = 0;
  char* end = nullptr;
  const unsigned long long v = std::strtoull(text, &end, 0);
  if (errno == ERANGE || *end != '\0' || v > UINT32_MAX) return false;
  // "0x" alone is read by strtoull as 0 followed by junk "x": refused above.
  *value = static_cast<uint32_t>(v);
  return true;
}

int32_t ParseSigned32(const char* text) {
  errno = 0;
  const long long v = std::strtoll(text, nullptr, 10);
  if (v > INT32_MAX) return INT32_MAX;
  if (v < INT32_MIN) return INT32_MIN;
  return static_cast<int32_t>(v);
}

}  // namespace zel
