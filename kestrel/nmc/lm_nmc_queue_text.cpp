// Texts the queue reads: track times, the facts of an entry's metadata
// (duration, expected size, picture or not) and server bookmarks.
#include <cctype>
#include <cstdlib>
#include <cstring>

#include "base/upnp_xml.h"
#include "nmc/lm_nmc_queue.h"

uint64_t nmc_queue_parse_time(const char *text) {
  if (text == nullptr || !std::isdigit(static_cast<unsigned char>(text[0]))) return 0;
  uint64_t parts[3] = {0, 0, 0};
  int count = 0;
  const char *p = text;
  while (count < 3) {
    char *end = nullptr;
    parts[count++] = std::strtoull(p, &end, 10);
    if (*end != ':') {
      p = end;
      break;
    }
    p = end + 1;
  }
  uint64_t ms = 0;
  for (int i = 0; i < count; ++i) ms = ms * 60 + parts[i];
  ms *= 1000;
  if (*p == '.') {
    // Fractions: the first three digits are milliseconds.
    uint64_t scale = 100;
    for (++p; std::isdigit(static_cast<unsigned char>(*p)) && scale > 0; ++p, scale /= 10) ms += (*p - '0') * scale;
  }
  return ms;
}

void nmc_queue_metadata_facts(const std::string &metadata, uint64_t *duration_ms, uint64_t *size, bool *image) {
  *duration_ms = 0;
  *size = 0;
  *image = false;
  if (metadata.empty()) return;
  upnp_xml_node *tree = upnp_xml_parse(metadata.c_str());
  if (tree == nullptr) return;
  upnp_xml_node *res = upnp_xml_find_tag(tree, "res");
  if (res != nullptr) {
    *duration_ms = nmc_queue_parse_time(upnp_xml_find_attribute_value(res, "duration"));
    const char *bytes = upnp_xml_find_attribute_value(res, "size");
    if (bytes != nullptr && std::isdigit(static_cast<unsigned char>(bytes[0]))) {
      *size = std::strtoull(bytes, nullptr, 10) / 100 * 95;
    }
    const char *info = upnp_xml_find_attribute_value(res, "protocolInfo");
    if (info != nullptr && std::strstr(info, ":image/") != nullptr) *image = true;
  }
  const char *kind = upnp_xml_find_tag_value(tree, "upnp:class");
  if (kind != nullptr && std::strstr(kind, "imageItem") != nullptr) *image = true;
  upnp_xml_release(tree);
}

bool nmc_queue_split_bookmark(const char *bookmark, std::string *udn, std::string *object_id) {
  if (bookmark == nullptr) return false;
  std::string parts[2];
  int part = 0;
  for (const char *p = bookmark; *p != '\0'; ++p) {
    if (*p == '\\' && p[1] == ',') {
      parts[part] += ',';
      ++p;
    } else if (*p == ',') {
      if (++part == 2) break;
    } else {
      parts[part] += *p;
    }
  }
  if (part < 1 || parts[0].empty()) return false;
  *udn = parts[0];
  *object_id = parts[1];
  return true;
}
