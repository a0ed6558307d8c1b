#ifndef KESTREL_BASE_UPNP_XML_ESCAPE_H
#define KESTREL_BASE_UPNP_XML_ESCAPE_H

/* Escaping and unescaping of the five XML entities and of control bytes.
 *
 * Escaping writes double quote as "&quot;", "&" as "&amp;", "'" as "&apos;",
 * "<" as "&lt;", ">" as "&gt;" and every byte below 32 as "&#N;"; other bytes
 * are copied. With `dbl` set the "&" of each of these is escaped once more
 * ("&amp;lt;" ...), which places an XML fragment inside another XML value.
 * A `limit` (0: none) stops the output before it would exceed that many
 * bytes; a character is only written whole, and a byte of 32 or more counts
 * as the whole UTF-8 sequence it begins, so a sequence is never cut. */

#include <stddef.h>
#include <stdint.h>

#include "base/upnp_string.h"

#ifdef __cplusplus
extern "C" {
#endif

/* A new accounted text (free with upnp_free_impl); none for none or when
 * memory runs out. */
char *upnp_xml_escape_cond(const char *text, int dbl);
/* upnp_xml_escape_cond(text, 1). */
char *upnp_xml_escape(const char *text);
/* A new growable string holding at most `limit` bytes (0: no limit); an
 * empty (not none) string for none or empty text; none when memory runs out. */
upnp_string *upnp_xml_escape_cond_upnp_string(const char *text, int dbl, uint32_t limit);
/* Appends the escaped form of `length` bytes of `text` to `out` (none
 * creates), adding at most `limit` bytes (0: no limit). `apos_numeric`
 * writes "'" as "&#39;" (or "&amp;#39;"). Returns the string, or none when
 * memory ran out (the string is then freed). */
upnp_string *upnp_xml_escape_append(upnp_string *out, const char *text, size_t length, int dbl,
                                    uint32_t limit, int apos_numeric);
/* Bytes the escaped form of `length` bytes of `text` takes. */
size_t upnp_xml_escaped_length(const char *text, size_t length, int dbl, int apos_numeric);

/* Replaces, in place, "&amp;" "&lt;" "&gt;" "&apos;" "&quot;" and "&nbsp;"
 * (as a space) by their characters, and a numeric reference "&#N;" or
 * "&#xH;" whose ";" follows within five characters after the "#" by that
 * character (one byte below 128, its UTF-8 sequence above; "&#0;" is kept).
 * Any other "&" sequence is left as it is. Returns `text`. */
char *upnp_xml_unescape(char *text);

#ifdef __cplusplus
}
#endif

#endif
