// The item entries of the feeds (server object, renderer, queue entry,
// single queue entry), the root feed and the closing text.
#include <cstring>
#include <string>

#include "base/upnp_mem.h"
#include "base/upnp_xml_escape.h"
#include "webapi/webapi_feed.h"
#include "webapi/webapi_rss.h"

namespace {

std::string xml_text(const char *text) {
  char *escaped = upnp_xml_escape_cond(text ? text : "", 0);
  std::string out = escaped ? escaped : "";
  upnp_free_impl(escaped);
  return out;
}

// Metadata as it goes into an item: without its XML declaration (a second
// one inside the feed would end it), the item element renamed when asked.
const char *embedded(char *metadata, bool rename_item) {
  if (!metadata) return "";
  char *text = metadata;
  while (*text == ' ' || *text == '\t' || *text == '\r' || *text == '\n') ++text;
  if (std::strncmp(text, "<?xml", 5) == 0) {
    char *end = std::strstr(text, "?>");
    text = end ? end + 2 : text + std::strlen(text);
  }
  if (rename_item) rssChangeItemTag(text);
  return text;
}

// The device's bookmark is the same for every entry of a page: escaped once
// per page and thread rather than once per entry.
const std::string &escaped_device_of(const std::string &device) {
  thread_local std::string last_device;
  thread_local std::string last_escaped;
  if (last_escaped.empty() || last_device != device) {
    last_device = device;
    last_escaped = webapi_feed_escape(device);
  }
  return last_escaped;
}

upnp_string *object_entry(upnp_string *feed, const char *kind, const char *base_url, const char *title,
                          const std::string &device, const std::string *item, char *metadata, bool bookmark) {
  if (!feed) return nullptr;  // a feed lost to memory stays lost
  const std::string &escaped_device = escaped_device_of(device);
  std::string escaped_item = item ? webapi_feed_escape(*item) : std::string();
  // The bookmark element holds the escaped bookmark that ends the URL.
  const std::string &last = item ? escaped_item : escaped_device;
  // Written piece by piece straight into the feed: an entry carries the
  // object's whole metadata, and a feed page has up to 500 entries.
  const auto put = [&feed](const char *bytes, size_t count) {
    if (feed) feed = upnp_string_add(feed, bytes, static_cast<uint32_t>(count));
  };
  const auto put_text = [&put](const char *text) { put(text, std::strlen(text)); };
  const auto put_string = [&put](const std::string &text) { put(text.data(), text.size()); };
  put_text("<item>\n<title>");
  if (feed && title) feed = upnp_xml_escape_append(feed, title, std::strlen(title), 0, 0, 0);
  put_text("</title>\n<enclosure url=\"");
  put_text(base_url ? base_url : "");
  put_text("nmc/rss/");
  put_text(kind);
  put_text("/RB");
  put_string(escaped_device);
  if (item) {
    put_text("/IB");
    put_string(escaped_item);
  }
  put_text("\" type=\"application/rss+xml\"></enclosure>\n");
  if (bookmark) {
    put_text("<bookmark>");
    put_string(last);
    put_text("</bookmark>\n");
  }
  put_text(embedded(metadata, true));
  put_text("\n</item>\n");
  return feed;
}

}  // namespace

upnp_string *webapi_feed_server_entry(upnp_string *feed, const char *base_url, const char *title,
                                      const std::string &server, const std::string *object, char *metadata) {
  return object_entry(feed, "server", base_url, title, server, object, metadata, true);
}

upnp_string *webapi_feed_renderer_entry(upnp_string *feed, const char *base_url, const char *name,
                                        const std::string &renderer, char *metadata) {
  if (!feed) return nullptr;
  std::string escaped = webapi_feed_escape(renderer);
  return upnp_string_sprintf(feed,
                             "<item>\n<title>%s</title>\n<enclosure url=\"%snmc/rss/renderer/RB%s\" "
                             "type=\"application/rss+xml\"></enclosure>\n<bookmark>%s</bookmark>\n%s\n</item>\n",
                             xml_text(name).c_str(), base_url ? base_url : "", escaped.c_str(), escaped.c_str(),
                             embedded(metadata, false));
}

upnp_string *webapi_feed_queue_entry(upnp_string *feed, const char *base_url, const char *title,
                                     const std::string &renderer, const std::string &entry, char *metadata) {
  return object_entry(feed, "renderer", base_url, title, renderer, &entry, metadata, true);
}

upnp_string *webapi_feed_queue_single(upnp_string *feed, const char *base_url, const char *title,
                                      const std::string &renderer, const std::string &entry, char *metadata) {
  return object_entry(feed, "renderer", base_url, title, renderer, &entry, metadata, false);
}

upnp_string *webapi_feed_close(upnp_string *feed) {
  return feed ? upnp_string_concat(feed, "</channel>\n</rss>\n") : nullptr;
}

upnp_string *webapi_feed_root(const char *base_url) {
  upnp_string *feed = rssCreateHeader("NMC-Root", 2, 2);
  for (const char *kind : {"server", "renderer"}) {
    if (!feed) return nullptr;
    feed = upnp_string_sprintf(feed,
                               "<item>\n<title>%s</title>\n<enclosure url=\"%snmc/rss/%s\" "
                               "type=\"application/rss+xml\"></enclosure>\n</item>\n",
                               kind, base_url ? base_url : "", kind);
  }
  return webapi_feed_close(feed);
}
