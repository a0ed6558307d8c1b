#ifndef KESTREL_BASE_UPNP_STRING_H
#define KESTREL_BASE_UPNP_STRING_H

/* upnp_string: the growable text in which messages, documents and bodies
 * travel. The buffer is accounted memory and always zero-terminated;
 * `capacity` is the buffer size (so length < capacity). The holder owns the
 * string. Every function that may grow a string returns the (possibly new)
 * reference; on allocation failure it frees the string and returns none, so
 * callers always write `s = upnp_string_concat(s, ...)`. Functions that take
 * a none string create one where that makes sense (noted below). */

#include <stdarg.h>
#include <stddef.h>
#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

typedef struct upnp_string {
  uint32_t length;   /* bytes in use, without the terminating zero */
  uint32_t capacity; /* bytes allocated for `buffer` */
  char *buffer;
} upnp_string;

/* A new string holding `text` (none = empty) with the given capacity, raised
 * to the text's length + 1 when that is larger. */
upnp_string *upnp_string_create(const char *text, uint32_t capacity);
/* Append; a none string is created with capacity length + 256. When the text
 * does not fit, the capacity becomes the larger of twice the old capacity and
 * the needed length + 1. */
upnp_string *upnp_string_concat(upnp_string *s, const char *text);
upnp_string *upnp_string_add(upnp_string *s, const char *bytes, uint32_t count);
upnp_string *upnp_string_concat_string(upnp_string *s, const upnp_string *other);
/* Appends one character. */
upnp_string *upnp_string_append(upnp_string *s, char c);
/* Append formatted text (none creates). */
upnp_string *upnp_string_sprintf(upnp_string *s, const char *format, ...)
    __attribute__((format(printf, 2, 3)));
upnp_string *upnp_string_vsprintf(upnp_string *s, const char *format, va_list args)
    __attribute__((format(printf, 2, 0)));
/* Drops the last `count` bytes (all of them when count >= length). */
void upnp_string_cut(upnp_string *s, uint32_t count);
/* Drops the first `count` bytes. */
void upnp_string_shift_left(upnp_string *s, uint32_t count);
/* Length 0 (capacity kept). */
void upnp_string_empty(upnp_string *s);
/* 1 for none or length 0. */
int upnp_string_is_empty(const upnp_string *s);
uint32_t upnp_string_get_length(const upnp_string *s);
/* The string's own zero-terminated buffer ("" for none); valid until the
 * string changes. */
const char *upnp_string_get_cstring(const upnp_string *s);
/* A new accounted copy of the text (free with upnp_free_impl); none for none. */
char *upnp_string_copy_cstring(const upnp_string *s);
/* Replaces every occurrence of `search` (non-empty) by `replacement`. */
upnp_string *upnp_string_replace(upnp_string *s, const char *search, const char *replacement);
/* Replaces the `count` bytes at `offset` by `replacement` (both clamped to
 * the string). */
upnp_string *upnp_string_replace2(upnp_string *s, uint32_t offset, uint32_t count, const char *replacement);
void upnp_string_strip_trailing_whitespaces(upnp_string *s);
void upnp_string_free(upnp_string *s);
void upnp_string_safe_free(upnp_string **s);

/* Encodings. Each returns a new string, or none on allocation failure or
 * (decoders) input that is not valid. */
/* RFC 4648 base64 with padding. */
upnp_string *upnp_string_to_base64(const void *data, size_t length);
/* Accepts the standard alphabet, ignores ASCII white space, padding optional
 * at the end; anything else is invalid. The result may contain zero bytes. */
upnp_string *upnp_string_from_base64(const char *text, size_t length);
/* Percent-escapes every byte but the unreserved ones (A-Z a-z 0-9 - . _ ~),
 * with upper-case hex digits. */
upnp_string *upnp_string_to_encoded_url(const char *text, size_t length);
/* Decodes %XX escapes; a '%' not followed by two hex digits is kept as it
 * is; '+' stays '+'. The result may contain zero bytes. */
upnp_string *upnp_string_from_encoded_url(const char *text, size_t length);
/* UTF-8 to UTF-16 little-endian code units (no byte order mark); the result
 * is followed by a zero code unit outside `length`. Malformed sequences
 * (overlong forms, surrogates, code points above U+10FFFF, truncated or stray
 * continuation bytes) become U+FFFD. */
upnp_string *upnp_string_utf8_to_utf16(const char *text, size_t length);
/* UTF-16 to UTF-8; `length` in bytes. Little-endian unless the text starts
 * with a big-endian byte order mark; a leading byte order mark is dropped.
 * Unpaired surrogates and an odd last byte become U+FFFD. */
upnp_string *upnp_string_utf16_to_utf8(const void *data, size_t length);

#ifdef __cplusplus
}
#endif

#endif
