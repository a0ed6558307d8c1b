// Bounded text helpers for zel's fixed-size name and path buffers.
#pragma once

#include <cstddef>
#include <cstdint>

namespace zel {

// Copies at most size-1 bytes of src into dst and terminates it (size > 0).
// Returns the number of bytes copied.
size_t CopyBounded(char* dst, size_t size, const char* src);

// Same, but copies at most count bytes of src.
size_t CopyBoundedN(char* dst, size_t size, const char* src, size_t count);

template <size_t N>
size_t CopyBounded(char (&dst)[N], const char* src) {
  return CopyBounded(dst, N, src);
}

// Case-insensitive (ASCII folding) comparisons.
char FoldLower(char c);
bool EqualNoCase(const char* a, const char* b);
int CompareNoCase(const char* a, const char* b);

// Reads an unsigned process ID the way the by-ID patterns are written:
// decimal, hexadecimal after "0x" or octal after a leading zero. Returns
// false for anything else (signs, blanks, trailing characters, values that
// do not fit 32 bits); an accepted text yields its value, zero included.
bool ParseUnsigned32(const char* text, uint32_t* value);

// The standard decimal conversion: optional blanks and sign, digits,
// trailing junk ignored; saturates instead of overflowing.
int32_t ParseSigned32(const char* text);

}  // namespace zel
