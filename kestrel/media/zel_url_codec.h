#ifndef KESTREL_MEDIA_ZEL_URL_CODEC_H
#define KESTREL_MEDIA_ZEL_URL_CODEC_H

#include <stddef.h>

/* Query-string escapes. Both write a zero-terminated text into out (size
 * bytes, size of at least 1) and return false when the input was null or the
 * result did not fit; the output then holds what fitted, never half an
 * escape. */

/* Letters, digits and "-_.~" stay, a blank becomes "+", every other byte
 * (those above 0x7F included) "%" and two lowercase hexadecimal digits. */
bool url_encode(const char *in, char *out, size_t size);
/* "+" becomes a blank, "%" and two hexadecimal digits that byte; a "%"
 * without two hexadecimal digits after it is dropped (nothing past the end
 * of the text is read). A decoded zero byte ends the output. */
bool url_decode(const char *in, char *out, size_t size);

#endif
