// The reduced-filter renderers and the reduction of the metadata they get to
// a few fields and the one `res` being played.
#include <cstring>

#include "base/upnp_mem.h"
#include "cp/upnp_cp.h"
#include "cp/upnp_cp_avt_uri.h"

extern "C" const char upnp_cp_reduced_filter[] =
    "dc:title,upnp:author,upnp:album,upnp:artist,upnp:genre,res,res@protocolInfo,res@duration,res@resolution,"
    "res@size,container@childCount,upnp:albumArtURI,upnp:class";

namespace {

bool in_filter(const char *name) {
  size_t n = std::strlen(name);
  if (n == 0) return false;
  for (const char *p = upnp_cp_reduced_filter; *p != '\0';) {
    const char *end = std::strchr(p, ',');
    size_t length = end != nullptr ? static_cast<size_t>(end - p) : std::strlen(p);
    if (length == n && std::strncmp(p, name, n) == 0) return true;
    if (end == nullptr) break;
    p = end + 1;
  }
  return false;
}

// Path and query of a URL (from the first '/' after the authority to the
// fragment); "/" when it has none.
void path_and_query(const char *url, const char **start, size_t *length) {
  const char *scheme = std::strstr(url, "://");
  const char *p = scheme != nullptr ? std::strchr(scheme + 3, '/') : url;
  if (p == nullptr) {
    *start = "/";
    *length = 1;
    return;
  }
  *start = p;
  *length = std::strcspn(p, "#");
}

bool same_path(const char *a, const char *b) {
  const char *pa, *pb;
  size_t na, nb;
  path_and_query(a, &pa, &na);
  path_and_query(b, &pb, &nb);
  return na == nb && std::strncmp(pa, pb, na) == 0;
}

}  // namespace

extern "C" int upnp_cp_manufacturer_is_reduced_filter(const char *manufacturer) {
  if (manufacturer == nullptr) return 0;
  return std::strcmp(manufacturer, "Roku") == 0 || std::strncmp(manufacturer, "Sonos", 5) == 0 ||
         std::strncmp(manufacturer, "Samsung", 7) == 0;
}

extern "C" int upnp_cp_is_reduced_filter_renderer(int index) {
  char manufacturer[256];
  if (upnp_control_get_device_attribute(index, "manufacturer", manufacturer, sizeof manufacturer,
                                        UPNP_CP_KIND_RENDERER) != UPNP_CP_OK) {
    return 0;
  }
  return upnp_cp_manufacturer_is_reduced_filter(manufacturer);
}

extern "C" int upnp_cp_reduce_metadata(upnp_xml_node *didl, const char *url) {
  if (didl == nullptr || url == nullptr) return -1;
  upnp_xml_node *object = upnp_xml_find_tag(didl, "item");
  if (object == nullptr) object = upnp_xml_find_tag(didl, "container");
  if (object == nullptr) return -1;
  int dropped = 0;
  upnp_xml_node **link = &object->children;
  while (*link != nullptr) {
    upnp_xml_node *child = *link;
    const char *name = child->name != nullptr ? child->name : "";
    bool keep = std::strcmp(name, "res") == 0 ? child->value != nullptr && same_path(child->value, url)
                                               : in_filter(name);
    if (keep) {
      link = &child->next;
      continue;
    }
    *link = child->next;
    child->next = nullptr;
    upnp_xml_release(child);
    ++dropped;
  }
  return dropped;
}
