// The media sites whose URLs carry no file extension, by host name: a URL's
// host equal to a pattern or ending in "." followed by it belongs to the
// site. This is configuration data: extend the table when a site moves.
#include <cstring>
#include <strings.h>

#include "cp/upnp_cp_avt_uri.h"

namespace {

struct Site {
  const char *host;
  const char *extension;
};

const Site kSites[] = {
    // The video site: its pages, short links and stream hosts.
    {"youtube.com", "mp4"},
    {"youtu.be", "mp4"},
    {"youtube-nocookie.com", "mp4"},
    {"googlevideo.com", "mp4"},
    // The photo albums of the search company and their picture hosts.
    {"picasaweb.google.com", "jpg"},
    {"picasa.google.com", "jpg"},
    {"ggpht.com", "jpg"},
    {"googleusercontent.com", "jpg"},
    // The photo community and its static picture hosts.
    {"flickr.com", "jpg"},
    {"staticflickr.com", "jpg"},
};

}  // namespace

extern "C" const char *upnp_cp_proxy_site_extension(const char *url) {
  if (url == nullptr) return nullptr;
  const char *scheme = std::strstr(url, "://");
  const char *host = scheme != nullptr ? scheme + 3 : url;
  size_t length = std::strcspn(host, "/?#");
  // Credentials before '@' and a port after ':' are not part of the host.
  for (size_t i = length; i > 0; --i) {
    if (host[i - 1] == '@') {
      host += i;
      length -= i;
      break;
    }
  }
  const char *colon = static_cast<const char *>(std::memchr(host, ':', length));
  if (colon != nullptr) length = static_cast<size_t>(colon - host);
  while (length > 0 && host[length - 1] == '.') --length;  // "example.com."
  for (const Site &site : kSites) {
    size_t n = std::strlen(site.host);
    if (length < n || strncasecmp(host + length - n, site.host, n) != 0) continue;
    if (length == n || host[length - n - 1] == '.') return site.extension;
  }
  return nullptr;
}
