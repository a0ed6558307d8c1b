#ifndef KESTREL_WEBAPI_WEBAPI_FEED_H
#define KESTREL_WEBAPI_WEBAPI_FEED_H

/* Feed helpers of the web API: the RSS header, the item tag change of a
 * DIDL-Lite text, URL and JSON escaping, and the JSON form of a feed. */

#include <stdint.h>

#include "base/upnp_string.h"
#include "base/upnp_xml.h"

/* Longest result of urlEscape, its zero included. */
#define WEBAPI_URL_ESCAPE_SIZE 2048

/* A new feed string: XML declaration, rss element and the channel's
 * title, link, pubDate, description, returneditems, language and
 * copyright. None when memory runs out. */
upnp_string *rssCreateHeader(const char *title, long total, long returned);
/* In place: the first "<item" becomes "<meta", the first "</item>"
 * "</meta>". */
void rssChangeItemTag(char *metadata);
/* A new accounted text (free with upnp_free_impl) of at most 2047 bytes in
 * which the reserved characters are written "%XX"; an escape is never cut. */
char *urlEscape(const char *text);
/* A new accounted text, escaped for a JSON string: quote, backslash,
 * control characters, U+2028 and U+2029. */
char *jsonEscape(const char *text);
/* The JSON form of a feed; none when it cannot be parsed or memory runs
 * out. */
upnp_string *rssToJSON(const char *feed);
/* Appends the sibling chain from `node` to `out` (returns the string, which
 * may have moved). */
upnp_string *rssToJSONSubnode(upnp_string *out, upnp_xml_node *node);

#endif
