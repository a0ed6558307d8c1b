#ifndef KESTREL_WEBAPI_WEBAPI_RSS_H
#define KESTREL_WEBAPI_WEBAPI_RSS_H

/* The feed side of the web API ("/nmc/rss"): the request as the feeds read
 * it, the item entries, the server and renderer feeds, the output forms, and
 * the page handler ("/nmc/web"). */

#include <stdint.h>

#include <string>

#include "base/upnp_string.h"
#include "http/http_server.h"
#include "webapi/webapi_feed_source.h"
#include "webapi/webapi_internal.h"

/* Most entries one feed request returns. */
#define WEBAPI_FEED_MAX_PAGE 500
/* Buffers of one entry: metadata, title and bookmark. */
#define WEBAPI_FEED_METADATA_SIZE 16384
#define WEBAPI_FEED_TITLE_SIZE 1024
#define WEBAPI_FEED_BOOKMARK_SIZE 2048

enum webapi_feed_kind { WEBAPI_FEED_ROOT, WEBAPI_FEED_SERVER, WEBAPI_FEED_RENDERER };

/* A feed request: what it names and its query, each decoded exactly once. */
struct webapi_feed_request {
  webapi_feed_kind kind = WEBAPI_FEED_ROOT;
  bool has_device = false;  // "/RB" given: a server or renderer bookmark
  bool has_item = false;    // "/IB" given: an object or queue entry in it
  std::string device;
  std::string item;
  webapi_call call;  // the query's parameters and callback
};

/* Reads a raw request target under `prefix` ("/nmc/rss"), origin or
 * absolute form. The kind comes from the path segment after the prefix,
 * the bookmarks from the raw text after "/RB" and "/IB", split before they
 * are decoded (so an escaped "/IB" inside a bookmark stays in it). false
 * when the target is malformed (bad escape, decoded zero byte, another
 * prefix). */
bool webapi_feed_parse(const std::string &target, const char *prefix, webapi_feed_request *request);

/* The rows a page holds: `start` (negative: 0) and `count` (absent or 0:
 * all), at most WEBAPI_FEED_MAX_PAGE, never past `total`. */
struct webapi_feed_page {
  uint32_t start;
  uint32_t returned;
};
webapi_feed_page webapi_feed_paging(const webapi_call &call, uint32_t total);

/* Percent-escapes every byte but A-Z a-z 0-9 - . _ ~: the text is then safe
 * in a path and in an XML attribute, and decodes back to the same bytes. */
std::string webapi_feed_escape(const std::string &text);

/* Item entries. Titles and bookmarks are escaped here; metadata (may be
 * none) goes in as the controller gave it, after its XML declaration, with
 * its first item element renamed meta where the entry asks for it. Each
 * returns the feed (none when memory ran out). */
upnp_string *webapi_feed_server_entry(upnp_string *feed, const char *base_url, const char *title,
                                      const std::string &server, const std::string *object, char *metadata);
upnp_string *webapi_feed_renderer_entry(upnp_string *feed, const char *base_url, const char *name,
                                        const std::string &renderer, char *metadata);
upnp_string *webapi_feed_queue_entry(upnp_string *feed, const char *base_url, const char *title,
                                     const std::string &renderer, const std::string &entry, char *metadata);
upnp_string *webapi_feed_queue_single(upnp_string *feed, const char *base_url, const char *title,
                                      const std::string &renderer, const std::string &entry, char *metadata);
/* The closing text of every feed. */
upnp_string *webapi_feed_close(upnp_string *feed);
/* The root feed: two items, server and renderer. */
upnp_string *webapi_feed_root(const char *base_url);

/* The server and renderer feeds; none when the feed cannot be built (bad
 * bookmark, no directory, a count that fails, no memory). */
upnp_string *webapi_feed_servers(const webapi_feed_request &request, const char *base_url);
/* Deletes the contexts kept between requests for the next pages of the
 * containers last listed. */
void webapi_feed_servers_forget(void);
upnp_string *webapi_feed_renderers(const webapi_feed_request &request, const char *base_url);

/* Sends a feed text in the form the query asks (fmt=json, callback). */
int webapi_feed_send(webapi_call &call, const char *text, bool is_feed);

/* The handlers and their registration. */
int rssRequestHandler(HTTP_connection *connection);
int webRequestHandler(HTTP_connection *connection);
void lm_nmc_http_rss_init(void);
void lm_nmc_http_rss_release(void);
/* The folder the page is read from instead of the executable's (none
 * restores it); for tests. */
void webapi_web_set_folder(const char *folder);

#endif
