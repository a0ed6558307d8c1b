// upnp_string: growable, zero-terminated text in accounted memory.
#include "base/upnp_string.h"

#include <cstdio>
#include <cstring>

#include "base/upnp_mem.h"

namespace {

constexpr uint64_t kMaxCapacity = UINT32_MAX;

// Makes room for `needed` bytes of content plus `tail` zero bytes. On failure
// frees the string and gives none.
upnp_string *reserve(upnp_string *s, uint64_t needed, uint32_t tail = 1) {
  uint64_t want = needed + tail;
  if (want <= s->capacity) return s;
  if (want > kMaxCapacity) {
    upnp_string_free(s);
    return nullptr;
  }
  uint64_t capacity = 2 * static_cast<uint64_t>(s->capacity);
  if (capacity < want) capacity = want;
  if (capacity > kMaxCapacity) capacity = kMaxCapacity;
  auto *buffer = static_cast<char *>(upnp_realloc_impl(s->buffer, static_cast<size_t>(capacity)));
  if (buffer == nullptr) {
    upnp_string_free(s);
    return nullptr;
  }
  s->buffer = buffer;
  s->capacity = static_cast<uint32_t>(capacity);
  return s;
}

bool inside(const upnp_string *s, const char *p) {
  return s != nullptr && p != nullptr && p >= s->buffer && p < s->buffer + s->capacity;
}

// A new empty string with room for `capacity` bytes (at least 1).
upnp_string *make(uint64_t capacity) {
  if (capacity == 0) capacity = 1;
  if (capacity > kMaxCapacity) return nullptr;
  auto *s = static_cast<upnp_string *>(upnp_malloc_impl(sizeof(upnp_string)));
  if (s == nullptr) return nullptr;
  s->buffer = static_cast<char *>(upnp_malloc_impl(static_cast<size_t>(capacity)));
  if (s->buffer == nullptr) {
    upnp_free_impl(s);
    return nullptr;
  }
  s->length = 0;
  s->capacity = static_cast<uint32_t>(capacity);
  s->buffer[0] = '\0';
  return s;
}

const char kBase64[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";

int base64_value(unsigned char c) {
  if (c >= 'A' && c <= 'Z') return c - 'A';
  if (c >= 'a' && c <= 'z') return c - 'a' + 26;
  if (c >= '0' && c <= '9') return c - '0' + 52;
  if (c == '+') return 62;
  if (c == '/') return 63;
  return -1;
}

bool is_space(unsigned char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n' || c == '\v' || c == '\f'; }

int hex_value(unsigned char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

bool unreserved(unsigned char c) {
  return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '-' || c == '.' ||
         c == '_' || c == '~';
}

constexpr uint32_t kReplacement = 0xFFFD;

upnp_string *put_unit16(upnp_string *s, uint32_t unit) {
  char bytes[2] = {static_cast<char>(unit & 0xFF), static_cast<char>((unit >> 8) & 0xFF)};
  return upnp_string_add(s, bytes, 2);
}

upnp_string *put_utf16(upnp_string *s, uint32_t cp) {
  if (cp < 0x10000) return put_unit16(s, cp);
  cp -= 0x10000;
  s = put_unit16(s, 0xD800 + (cp >> 10));
  return s ? put_unit16(s, 0xDC00 + (cp & 0x3FF)) : nullptr;
}

upnp_string *put_utf8(upnp_string *s, uint32_t cp) {
  char bytes[4];
  uint32_t n;
  if (cp < 0x80) {
    bytes[0] = static_cast<char>(cp);
    n = 1;
  } else if (cp < 0x800) {
    bytes[0] = static_cast<char>(0xC0 | (cp >> 6));
    bytes[1] = static_cast<char>(0x80 | (cp & 0x3F));
    n = 2;
  } else if (cp < 0x10000) {
    bytes[0] = static_cast<char>(0xE0 | (cp >> 12));
    bytes[1] = static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
    bytes[2] = static_cast<char>(0x80 | (cp & 0x3F));
    n = 3;
  } else {
    bytes[0] = static_cast<char>(0xF0 | (cp >> 18));
    bytes[1] = static_cast<char>(0x80 | ((cp >> 12) & 0x3F));
    bytes[2] = static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
    bytes[3] = static_cast<char>(0x80 | (cp & 0x3F));
    n = 4;
  }
  return upnp_string_add(s, bytes, n);
}

// Decodes one UTF-8 sequence at text[*at] (well-formed per the Unicode
// table of valid byte sequences). Malformed input yields U+FFFD and skips the
// longest valid prefix (at least one byte).
uint32_t next_utf8(const unsigned char *text, size_t length, size_t *at) {
  unsigned char lead = text[*at];
  ++*at;
  if (lead < 0x80) return lead;
  uint32_t cp;
  int more;
  unsigned char low = 0x80, high = 0xBF;
  if (lead >= 0xC2 && lead <= 0xDF) {
    cp = lead & 0x1F;
    more = 1;
  } else if (lead >= 0xE0 && lead <= 0xEF) {
    cp = lead & 0x0F;
    more = 2;
    if (lead == 0xE0) low = 0xA0;
    if (lead == 0xED) high = 0x9F;  // no surrogates
  } else if (lead >= 0xF0 && lead <= 0xF4) {
    cp = lead & 0x07;
    more = 3;
    if (lead == 0xF0) low = 0x90;
    if (lead == 0xF4) high = 0x8F;  // nothing above U+10FFFF
  } else {
    return kReplacement;
  }
  for (int i = 0; i < more; ++i) {
    if (*at >= length) return kReplacement;
    unsigned char c = text[*at];
    if (c < low || c > high) return kReplacement;
    low = 0x80;
    high = 0xBF;
    cp = (cp << 6) | (c & 0x3F);
    ++*at;
  }
  return cp;
}

}  // namespace

extern "C" upnp_string *upnp_string_create(const char *text, uint32_t capacity) {
  size_t length = text ? std::strlen(text) : 0;
  if (length >= kMaxCapacity) return nullptr;
  uint64_t size = capacity > length + 1 ? capacity : length + 1;
  upnp_string *s = make(size);
  if (s == nullptr) return nullptr;
  if (length) std::memcpy(s->buffer, text, length);
  s->length = static_cast<uint32_t>(length);
  s->buffer[length] = '\0';
  return s;
}

extern "C" upnp_string *upnp_string_add(upnp_string *s, const char *bytes, uint32_t count) {
  if (s == nullptr) {
    s = make(static_cast<uint64_t>(count) + 256);
    if (s == nullptr) return nullptr;
  }
  if (bytes == nullptr || count == 0) return s;
  // The bytes may come from the string itself, which growing may move.
  bool own = inside(s, bytes);
  size_t offset = own ? static_cast<size_t>(bytes - s->buffer) : 0;
  s = reserve(s, static_cast<uint64_t>(s->length) + count);
  if (s == nullptr) return nullptr;
  if (own) bytes = s->buffer + offset;
  std::memmove(s->buffer + s->length, bytes, count);
  s->length += count;
  s->buffer[s->length] = '\0';
  return s;
}

extern "C" upnp_string *upnp_string_concat(upnp_string *s, const char *text) {
  size_t length = text ? std::strlen(text) : 0;
  if (length >= kMaxCapacity) {
    upnp_string_free(s);
    return nullptr;
  }
  return upnp_string_add(s, text, static_cast<uint32_t>(length));
}

extern "C" upnp_string *upnp_string_concat_string(upnp_string *s, const upnp_string *other) {
  if (other == nullptr) return upnp_string_add(s, nullptr, 0);
  return upnp_string_add(s, other->buffer, other->length);
}

extern "C" upnp_string *upnp_string_append(upnp_string *s, char c) { return upnp_string_add(s, &c, 1); }

extern "C" upnp_string *upnp_string_vsprintf(upnp_string *s, const char *format, va_list args) {
  if (format == nullptr) return upnp_string_add(s, nullptr, 0);
  // Formatted into a separate buffer first: an argument may point into s.
  char small[512];
  va_list copy;
  va_copy(copy, args);
  int n = std::vsnprintf(small, sizeof small, format, copy);
  va_end(copy);
  if (n < 0) return upnp_string_add(s, nullptr, 0);
  if (static_cast<size_t>(n) < sizeof small) return upnp_string_add(s, small, static_cast<uint32_t>(n));
  auto *big = static_cast<char *>(upnp_malloc_impl(static_cast<size_t>(n) + 1));
  if (big == nullptr) {
    upnp_string_free(s);
    return nullptr;
  }
  va_copy(copy, args);
  std::vsnprintf(big, static_cast<size_t>(n) + 1, format, copy);
  va_end(copy);
  s = upnp_string_add(s, big, static_cast<uint32_t>(n));
  upnp_free_impl(big);
  return s;
}

extern "C" upnp_string *upnp_string_sprintf(upnp_string *s, const char *format, ...) {
  va_list args;
  va_start(args, format);
  s = upnp_string_vsprintf(s, format, args);
  va_end(args);
  return s;
}

extern "C" void upnp_string_cut(upnp_string *s, uint32_t count) {
  if (s == nullptr) return;
  s->length = count >= s->length ? 0 : s->length - count;
  s->buffer[s->length] = '\0';
}

extern "C" void upnp_string_shift_left(upnp_string *s, uint32_t count) {
  if (s == nullptr || count == 0) return;
  if (count >= s->length) {
    s->length = 0;
  } else {
    std::memmove(s->buffer, s->buffer + count, s->length - count);
    s->length -= count;
  }
  s->buffer[s->length] = '\0';
}

extern "C" void upnp_string_empty(upnp_string *s) {
  if (s == nullptr) return;
  s->length = 0;
  s->buffer[0] = '\0';
}

extern "C" int upnp_string_is_empty(const upnp_string *s) { return s == nullptr || s->length == 0; }

extern "C" uint32_t upnp_string_get_length(const upnp_string *s) { return s ? s->length : 0; }

extern "C" const char *upnp_string_get_cstring(const upnp_string *s) { return s ? s->buffer : ""; }

extern "C" char *upnp_string_copy_cstring(const upnp_string *s) {
  if (s == nullptr) return nullptr;
  auto *copy = static_cast<char *>(upnp_malloc_impl(static_cast<size_t>(s->length) + 1));
  if (copy == nullptr) return nullptr;
  std::memcpy(copy, s->buffer, s->length);
  copy[s->length] = '\0';
  return copy;
}

extern "C" upnp_string *upnp_string_replace(upnp_string *s, const char *search, const char *replacement) {
  if (s == nullptr || search == nullptr || *search == '\0') return s;
  size_t search_length = std::strlen(search);
  if (replacement == nullptr) replacement = "";
  size_t replacement_length = std::strlen(replacement);
  upnp_string *result = nullptr;
  size_t at = 0, copied = 0;
  while (at + search_length <= s->length) {
    if (std::memcmp(s->buffer + at, search, search_length) != 0) {
      ++at;
      continue;
    }
    if (result == nullptr && (result = make(s->capacity)) == nullptr) {
      upnp_string_free(s);
      return nullptr;
    }
    result = upnp_string_add(result, s->buffer + copied, static_cast<uint32_t>(at - copied));
    if (result) result = upnp_string_add(result, replacement, static_cast<uint32_t>(replacement_length));
    if (result == nullptr) {
      upnp_string_free(s);
      return nullptr;
    }
    at += search_length;
    copied = at;
  }
  if (result == nullptr) return s;
  result = upnp_string_add(result, s->buffer + copied, static_cast<uint32_t>(s->length - copied));
  if (result == nullptr) {
    upnp_string_free(s);
    return nullptr;
  }
  // Keep the caller's reference: move the new text into s.
  upnp_free_impl(s->buffer);
  *s = *result;
  upnp_free_impl(result);
  return s;
}

extern "C" upnp_string *upnp_string_replace2(upnp_string *s, uint32_t offset, uint32_t count,
                                             const char *replacement) {
  if (s == nullptr) return nullptr;
  if (offset > s->length) offset = s->length;
  if (count > s->length - offset) count = s->length - offset;
  size_t replacement_length = replacement ? std::strlen(replacement) : 0;
  char *own_copy = nullptr;
  if (inside(s, replacement)) {  // replacing with a piece of itself
    own_copy = upnp_strdup_impl(replacement);
    if (own_copy == nullptr) {
      upnp_string_free(s);
      return nullptr;
    }
    replacement = own_copy;
  }
  uint64_t new_length = static_cast<uint64_t>(s->length) - count + replacement_length;
  s = reserve(s, new_length);
  if (s != nullptr) {
    std::memmove(s->buffer + offset + replacement_length, s->buffer + offset + count, s->length - offset - count);
    if (replacement_length) std::memcpy(s->buffer + offset, replacement, replacement_length);
    s->length = static_cast<uint32_t>(new_length);
    s->buffer[s->length] = '\0';
  }
  upnp_free_impl(own_copy);
  return s;
}

extern "C" void upnp_string_strip_trailing_whitespaces(upnp_string *s) {
  if (s == nullptr) return;
  while (s->length > 0 && is_space(static_cast<unsigned char>(s->buffer[s->length - 1]))) s->length--;
  s->buffer[s->length] = '\0';
}

extern "C" void upnp_string_free(upnp_string *s) {
  if (s == nullptr) return;
  upnp_free_impl(s->buffer);
  upnp_free_impl(s);
}

extern "C" void upnp_string_safe_free(upnp_string **s) {
  if (s == nullptr) return;
  upnp_string_free(*s);
  *s = nullptr;
}

extern "C" upnp_string *upnp_string_to_base64(const void *data, size_t length) {
  if (data == nullptr && length != 0) return nullptr;
  uint64_t encoded = (static_cast<uint64_t>(length) + 2) / 3 * 4;
  if (encoded >= kMaxCapacity) return nullptr;
  upnp_string *s = make(encoded + 1);
  if (s == nullptr) return nullptr;
  const auto *in = static_cast<const unsigned char *>(data);
  char *out = s->buffer;
  size_t i = 0;
  for (; i + 3 <= length; i += 3) {
    uint32_t v = (in[i] << 16) | (in[i + 1] << 8) | in[i + 2];
    *out++ = kBase64[v >> 18];
    *out++ = kBase64[(v >> 12) & 63];
    *out++ = kBase64[(v >> 6) & 63];
    *out++ = kBase64[v & 63];
  }
  if (i < length) {
    uint32_t v = in[i] << 16;
    if (i + 1 < length) v |= in[i + 1] << 8;
    *out++ = kBase64[v >> 18];
    *out++ = kBase64[(v >> 12) & 63];
    *out++ = i + 1 < length ? kBase64[(v >> 6) & 63] : '=';
    *out++ = '=';
  }
  s->length = static_cast<uint32_t>(out - s->buffer);
  s->buffer[s->length] = '\0';
  return s;
}

extern "C" upnp_string *upnp_string_from_base64(const char *text, size_t length) {
  if (text == nullptr && length != 0) return nullptr;
  if (length / 4 * 3 + 4 >= kMaxCapacity) return nullptr;
  upnp_string *s = make(length / 4 * 3 + 4);
  if (s == nullptr) return nullptr;
  auto *out = reinterpret_cast<unsigned char *>(s->buffer);
  uint32_t bits = 0;
  size_t sextets = 0, padding = 0;
  for (size_t i = 0; i < length; ++i) {
    auto c = static_cast<unsigned char>(text[i]);
    if (is_space(c)) continue;
    if (c == '=') {
      ++padding;
      continue;
    }
    int v = base64_value(c);
    if (v < 0 || padding > 0) {  // foreign byte, or data after padding
      upnp_string_free(s);
      return nullptr;
    }
    bits = (bits << 6) | static_cast<uint32_t>(v);
    if (++sextets % 4 == 0) {
      *out++ = static_cast<unsigned char>(bits >> 16);
      *out++ = static_cast<unsigned char>(bits >> 8);
      *out++ = static_cast<unsigned char>(bits);
      bits = 0;
    }
  }
  size_t rest = sextets % 4;
  bool padding_fits = padding == 0 || (rest != 0 && rest + padding == 4);
  if (rest == 1 || !padding_fits) {
    upnp_string_free(s);
    return nullptr;
  }
  if (rest == 2) {
    *out++ = static_cast<unsigned char>(bits >> 4);
  } else if (rest == 3) {
    *out++ = static_cast<unsigned char>(bits >> 10);
    *out++ = static_cast<unsigned char>(bits >> 2);
  }
  s->length = static_cast<uint32_t>(reinterpret_cast<char *>(out) - s->buffer);
  s->buffer[s->length] = '\0';
  return s;
}

extern "C" upnp_string *upnp_string_to_encoded_url(const char *text, size_t length) {
  if (text == nullptr && length != 0) return nullptr;
  if (static_cast<uint64_t>(length) * 3 + 1 >= kMaxCapacity) return nullptr;
  upnp_string *s = make(static_cast<uint64_t>(length) * 3 + 1);
  if (s == nullptr) return nullptr;
  static const char kHex[] = "0123456789ABCDEF";
  char *out = s->buffer;
  for (size_t i = 0; i < length; ++i) {
    auto c = static_cast<unsigned char>(text[i]);
    if (unreserved(c)) {
      *out++ = static_cast<char>(c);
    } else {
      *out++ = '%';
      *out++ = kHex[c >> 4];
      *out++ = kHex[c & 15];
    }
  }
  s->length = static_cast<uint32_t>(out - s->buffer);
  s->buffer[s->length] = '\0';
  return s;
}

extern "C" upnp_string *upnp_string_from_encoded_url(const char *text, size_t length) {
  if (text == nullptr && length != 0) return nullptr;
  if (length + 1 >= kMaxCapacity) return nullptr;
  upnp_string *s = make(length + 1);
  if (s == nullptr) return nullptr;
  char *out = s->buffer;
  for (size_t i = 0; i < length; ++i) {
    if (text[i] == '%' && i + 2 < length) {
      int high = hex_value(static_cast<unsigned char>(text[i + 1]));
      int low = hex_value(static_cast<unsigned char>(text[i + 2]));
      if (high >= 0 && low >= 0) {
        *out++ = static_cast<char>(high * 16 + low);
        i += 2;
        continue;
      }
    }
    *out++ = text[i];
  }
  s->length = static_cast<uint32_t>(out - s->buffer);
  s->buffer[s->length] = '\0';
  return s;
}

extern "C" upnp_string *upnp_string_utf8_to_utf16(const char *text, size_t length) {
  if (text == nullptr && length != 0) return nullptr;
  if (static_cast<uint64_t>(length) * 2 + 2 >= kMaxCapacity) return nullptr;
  upnp_string *s = make(static_cast<uint64_t>(length) * 2 + 2);
  if (s == nullptr) return nullptr;
  const auto *in = reinterpret_cast<const unsigned char *>(text);
  size_t at = 0;
  while (at < length && s != nullptr) s = put_utf16(s, next_utf8(in, length, &at));
  // A zero code unit after the text, outside the length.
  if (s != nullptr) s = reserve(s, s->length, 2);
  if (s != nullptr) s->buffer[s->length + 1] = '\0';
  return s;
}

extern "C" upnp_string *upnp_string_utf16_to_utf8(const void *data, size_t length) {
  if (data == nullptr && length != 0) return nullptr;
  if (static_cast<uint64_t>(length) * 2 + 4 >= kMaxCapacity) return nullptr;
  upnp_string *s = make(static_cast<uint64_t>(length) * 2 + 4);
  if (s == nullptr) return nullptr;
  const auto *in = static_cast<const unsigned char *>(data);
  bool big_endian = false;
  size_t at = 0;
  if (length >= 2 && in[0] == 0xFE && in[1] == 0xFF) {
    big_endian = true;
    at = 2;
  } else if (length >= 2 && in[0] == 0xFF && in[1] == 0xFE) {
    at = 2;
  }
  auto unit = [&](size_t i) -> uint32_t {
    return big_endian ? (static_cast<uint32_t>(in[i]) << 8) | in[i + 1] : (static_cast<uint32_t>(in[i + 1]) << 8) | in[i];
  };
  while (at + 1 < length && s != nullptr) {
    uint32_t u = unit(at);
    at += 2;
    uint32_t cp = u;
    if (u >= 0xD800 && u <= 0xDBFF) {
      uint32_t next = at + 1 < length ? unit(at) : 0;
      if (next >= 0xDC00 && next <= 0xDFFF) {
        cp = 0x10000 + ((u - 0xD800) << 10) + (next - 0xDC00);
        at += 2;
      } else {
        cp = kReplacement;
      }
    } else if (u >= 0xDC00 && u <= 0xDFFF) {
      cp = kReplacement;
    }
    s = put_utf8(s, cp);
  }
  if (s != nullptr && at < length) s = put_utf8(s, kReplacement);  // odd last byte
  return s;
}
