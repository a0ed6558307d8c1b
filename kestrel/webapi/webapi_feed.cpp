// Feed helpers: the RSS header, the item tag change, URL and JSON escaping.
#include "webapi/webapi_feed.h"

#include <cstdio>
#include <cstring>
#include <ctime>
#include <string>

#include "base/upnp_mem.h"
#include "base/upnp_xml_escape.h"

namespace {

const char kUrlReserved[] = " <>#%{}|\\^~[];/?:@=&$";

bool url_reserved(unsigned char c) { return c == 0xB4 || (c != 0 && std::strchr(kUrlReserved, c) != nullptr); }

}  // namespace

upnp_string *rssCreateHeader(const char *title, long total, long returned) {
  char *escaped = upnp_xml_escape_cond(title ? title : "", 0);
  char date[64];
  time_t now = std::time(nullptr);
  struct tm tm_utc;
  gmtime_r(&now, &tm_utc);
  std::strftime(date, sizeof date, "%a, %d %b %Y %H:%M:%S GMT", &tm_utc);
  upnp_string *feed = upnp_string_create(nullptr, 2048);
  feed = upnp_string_sprintf(
      feed,
      "<?xml version=\"1.0\" encoding=\"utf-8\"?>\n"
      "<rss version=\"2.0\" xmlns:media=\"http://search.yahoo.com/mrss/\" "
      "xmlns:dc=\"http://purl.org/dc/elements/1.1/\" xmlns:upnp=\"urn:schemas-upnp-org:metadata-1-0/upnp/\" "
      "xmlns:dlna=\"urn:schemas-dlna-org:metadata-1-0/\" xmlns:zel=\"urn:schemas-brevant-com:nmc-1-0/\">\n"
      "<channel>\n<title>%s</title>\n<link>http://localhost/</link>\n<pubDate>%s</pubDate>\n"
      "<description>%ld objects available in container</description>\n"
      "<returneditems>%ld objects returned from container</returneditems>\n"
      "<language>en-us</language>\n<copyright>Brevant</copyright>\n",
      escaped ? escaped : "", date, total, returned);
  upnp_free_impl(escaped);
  return feed;
}

void rssChangeItemTag(char *metadata) {
  if (!metadata) return;
  char *open = std::strstr(metadata, "<item");
  if (open) std::memcpy(open, "<meta", 5);
  char *close = std::strstr(metadata, "</item>");
  if (close) std::memcpy(close, "</meta>", 7);
}

char *urlEscape(const char *text) {
  char *out = static_cast<char *>(upnp_malloc_impl(WEBAPI_URL_ESCAPE_SIZE));
  if (!out) return nullptr;
  size_t at = 0;
  for (const unsigned char *p = reinterpret_cast<const unsigned char *>(text ? text : ""); *p; ++p) {
    size_t need = url_reserved(*p) ? 3 : 1;
    // Room for the whole escape and the zero, or the text ends here.
    if (at + need > WEBAPI_URL_ESCAPE_SIZE - 1) break;
    if (need == 3) {
      std::snprintf(out + at, 4, "%%%02X", *p);
    } else {
      out[at] = static_cast<char>(*p);
    }
    at += need;
  }
  out[at] = '\0';
  return out;
}

char *jsonEscape(const char *text) {
  std::string out;
  for (const unsigned char *p = reinterpret_cast<const unsigned char *>(text ? text : ""); *p; ++p) {
    unsigned char c = *p;
    if (c == '"' || c == '\\') {
      out.push_back('\\');
      out.push_back(static_cast<char>(c));
    } else if (c < 0x20) {
      char buffer[8];
      std::snprintf(buffer, sizeof buffer, "\\u%04x", c);
      out += buffer;
    } else if (c == 0xE2 && p[1] == 0x80 && (p[2] == 0xA8 || p[2] == 0xA9)) {
      out += p[2] == 0xA8 ? "\\u2028" : "\\u2029";
      p += 2;
    } else {
      out.push_back(static_cast<char>(c));
    }
  }
  return upnp_strdup_impl(out.c_str());
}
