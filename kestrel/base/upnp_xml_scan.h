#ifndef KESTREL_BASE_UPNP_XML_SCAN_H
#define KESTREL_BASE_UPNP_XML_SCAN_H

/* The parser's text scanners. Both work on a text of known length and never
 * look beyond it. */

#include <stddef.h>

#ifdef __cplusplus
extern "C" {
#endif

/* Index just after the "<" that starts the first element of the text, or -1
 * when there is none. Text in double or single quotes, comments
 * ("<!--" ... "-->"), CDATA sections ("<![CDATA[" ... "]]>") and "<?" are
 * skipped; any other "<!" is passed over. */
long upnp_xml_find_tagstart(const char *text, size_t length);

/* Index of the first byte of the text that is in `set` (zero-terminated),
 * skipping text inside double or single quotes; `length` when none is. */
size_t upnp_xml_find(const char *text, size_t length, const char *set);

#ifdef __cplusplus
}
#endif

#endif
