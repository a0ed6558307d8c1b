// One property of a server object or of a server's information: the key
// syntax ("Name", "Name@attribute", "Name.Count"), the property and
// resource tables, and the values computed from a resource's protocol
// information.
#include <cstdlib>
#include <cstring>

#include "base/upnp_log.h"
#include "base/upnp_xml_write.h"
#include "nmc/lm_dmscp_internal.h"

namespace {

struct Property {
  const char *name;
  const char *tags[3];
};
const Property k_properties[] = {
    {"Title", {"dc:title", "name", nullptr}},
    {"Supported", {"zel:supported", nullptr, nullptr}},
    {"Date", {"dc:date", nullptr, nullptr}},
    {"Album", {"upnp:album", nullptr, nullptr}},
    {"Genre", {"upnp:genre", nullptr, nullptr}},
    {"Artist", {"upnp:artist", nullptr, nullptr}},
    {"Creator", {"dc:creator", nullptr, nullptr}},
    {"ObjectType", {"server", "renderer", "upnp:class"}},
    {"MediaType", {"upnp:class", nullptr, nullptr}},
    {"ObjectClass", {"upnp:class", nullptr, nullptr}},
    {"AlbumArtURI", {"upnp:albumArtURI", nullptr, nullptr}},
    {"Resource", {"res", nullptr, nullptr}},
    {"UserRating", {"zel:rating", "microsoft:userEffectiveRatingInStars", nullptr}},
    {"TrackNumber", {"upnp:originalTrackNumber", nullptr, nullptr}},
    {"Object", {"item", "container", nullptr}},
    {"OriginServerBookmark", {"zel:source", nullptr, nullptr}},
};

const struct {
  const char *name;
  const char *attribute;  // none: computed or the element's text
} k_resource[] = {
    {"URI", nullptr},           {"Resolution", "resolution"},   {"Size", "size"},
    {"Duration", "duration"},   {"ProtocolInfo", "protocolInfo"}, {"CanTimeSeek", nullptr},
    {"CanByteSeek", nullptr},   {"IsTranscoded", nullptr},      {"DtcpCanMove", nullptr},
    {"DtcpCanCopy", nullptr},   {"MediaType", nullptr},         {"DrmCleartextSize", "dlna:cleartextSize"},
    {"TimeSeekTable", "zel:timeseekinfo"},
};

const char *const k_device_fields[] = {
    "friendlyName", "manufacturer",     "modelName",    "modelNumber",     "modelDescription", "dlnaVersion",
    "upnpVersion",  "playlistSupport",  "isLocalDevice", "isInternalDevice", "aggregating",     "baseURL",
    "isProxyServer", "dtcpMoveSupport", "knownServer",  "wellKnownBookmark", "dtcpPushSupport", "dtcpCopySupport",
};

const Property *property_of(const std::string &name) {
  for (const Property &p : k_properties) {
    if (name == p.name) return &p;
  }
  return nullptr;
}

bool named(const upnp_xml_node *node, const char *tag) { return node->name != nullptr && std::strcmp(node->name, tag) == 0; }

// Occurrences of tag: the object itself (for "item"/"container") or its
// children.
std::vector<upnp_xml_node *> occurrences(upnp_xml_node *object, const char *tag) {
  std::vector<upnp_xml_node *> found;
  if (named(object, tag)) {
    found.push_back(object);
    return found;
  }
  for (upnp_xml_node *child = object->children; child != nullptr; child = child->next) {
    if (named(child, tag)) found.push_back(child);
  }
  return found;
}

std::string text_of(const upnp_xml_node *node) {
  if (node->children == nullptr) return node->value != nullptr ? node->value : "";
  upnp_string *text = upnp_xml_tree_to_string_valid(node->children, 0, 0);
  std::string out = text != nullptr && text->buffer != nullptr ? std::string(text->buffer, text->length) : "";
  upnp_string_free(text);
  return out;
}

const char *media_type_of_mime(const std::string &mime) {
  if (mime == "application/vnd.ms-wpl" || mime == "audio/x-mpegurl") return "Playlist";
  if (mime.compare(0, 6, "video/") == 0) return "Video";
  if (mime.compare(0, 6, "audio/") == 0) return "Audio";
  if (mime.compare(0, 6, "image/") == 0) return "Image";
  return nullptr;
}

const char *media_type_of_class(const std::string &upnp_class) {
  static const struct {
    const char *prefix, *type;
  } rows[] = {{"object.item.videoItem", "Video"},
              {"object.item.audioItem", "Audio"},
              {"object.item.imageItem", "Image"},
              {"object.container.playlistContainer", "Playlist"}};
  for (const auto &row : rows) {
    if (upnp_class.compare(0, std::strlen(row.prefix), row.prefix) == 0) return row.type;
  }
  return nullptr;
}

const char *object_type_of_class(const std::string &upnp_class) {
  static const struct {
    const char *prefix, *type;
  } rows[] = {{"object.item.videoItem", "Video"},
              {"object.item.audioItem", "Audio"},
              {"object.item.imageItem", "Image"},
              {"object.item", "Item"},
              {"object.container.playlistContainer", "PlaylistDirectory"},
              {"object.container", "Directory"}};
  for (const auto &row : rows) {
    if (upnp_class.compare(0, std::strlen(row.prefix), row.prefix) == 0) return row.type;
  }
  return nullptr;
}

// The value of one found element for a property and attribute; false for
// no value.
bool element_value(const Property *property, const std::string &tag, upnp_xml_node *node,
                   const std::string &attribute, std::string *value) {
  const bool resource = property != nullptr && std::strcmp(property->name, "Resource") == 0;
  if (!attribute.empty()) {
    std::string name = attribute;
    if (resource) {
      for (const auto &row : k_resource) {
        if (attribute != row.name) continue;
        const char *protocol = upnp_xml_find_attribute_value(node, "protocolInfo");
        if (attribute == "URI") {
          *value = node->value != nullptr ? node->value : "";
          return true;
        }
        if (attribute == "MediaType") {
          if (protocol == nullptr) return false;
          std::string mime = protocol;
          size_t first = mime.find(':'), second = first == std::string::npos ? first : mime.find(':', first + 1);
          if (second == std::string::npos) return false;
          size_t third = mime.find(':', second + 1);
          const char *type = media_type_of_mime(mime.substr(second + 1, third == std::string::npos
                                                                              ? std::string::npos
                                                                              : third - second - 1));
          if (type == nullptr) return false;
          *value = type;
          return true;
        }
        if (row.attribute == nullptr) {
          return protocol != nullptr && nmc_dms_resource_capability(row.name, protocol, value);
        }
        name = row.attribute;
        break;
      }
    }
    const char *text = upnp_xml_find_attribute_value(node, name.c_str());
    if (text == nullptr) return false;
    *value = text;
    return true;
  }
  std::string text = text_of(node);
  if (property != nullptr && std::strcmp(property->name, "ObjectType") == 0) {
    if (tag == "server") text = "Server";
    else if (tag == "renderer") text = "Renderer";
    else {
      const char *type = object_type_of_class(text);
      if (type == nullptr) return false;
      text = type;
    }
  } else if (property != nullptr && std::strcmp(property->name, "MediaType") == 0) {
    const char *type = media_type_of_class(text);
    if (type == nullptr) return false;
    text = type;
  }
  *value = text;
  return true;
}

}  // namespace

bool nmc_dms_resource_capability(const char *name, const char *protocol_info, std::string *value) {
  const std::string info = protocol_info;
  const std::string which = name;
  if (which == "DtcpCanMove" || which == "DtcpCanCopy") {
    uint32_t flags = 0;
    size_t at = info.find("DLNA.ORG_FLAGS=");
    if (at != std::string::npos) {
      std::string digits = info.substr(at + 15, 8);
      if (digits.size() == 8 && digits[0] >= '0' && digits[0] <= '9') {
        flags = static_cast<uint32_t>(std::strtoul(digits.c_str(), nullptr, 16));
      }
    }
    *value = (flags >> (which == "DtcpCanMove" ? 12 : 13)) & 1u ? "1" : "0";
    return true;
  }
  if (which != "CanTimeSeek" && which != "CanByteSeek" && which != "IsTranscoded") return false;
  bool time_seek = false, byte_seek = false, converted = false;
  if (info.find("DLNA.ORG_") != std::string::npos) {
    size_t op = info.find("DLNA.ORG_OP=");
    if (op != std::string::npos) {
      if (op + 12 < info.size() && info[op + 12] != '0') time_seek = true;
      if (op + 13 < info.size() && info[op + 13] != '0') byte_seek = true;
    }
    converted = info.find("DLNA.ORG_CI=1") != std::string::npos;
    if (info.find("\r\nAccept-Ranges: bytes\r\n") != std::string::npos) byte_seek = true;
  }
  bool on = which == "CanTimeSeek" ? time_seek : which == "CanByteSeek" ? byte_seek : converted;
  *value = on ? "1" : "0";
  return true;
}

bool nmc_dms_is_device_field(const std::string &name) {
  for (const char *field : k_device_fields) {
    if (name == field) return true;
  }
  return false;
}

lm_nmc_result_t nmc_dms_parse_key(const char *key, nmc_dms_key *parsed) {
  if (key == nullptr || key[0] == '\0') return LM_NMC_INVALID_PARAMETER;
  std::string text = key;
  size_t dot = text.find('.');
  if (dot != std::string::npos) {
    if (text.compare(dot, std::string::npos, ".Count") != 0) {
      upnp_log_impl(LOG_LEVEL_WARNING, LOG_SYSTEM, "nmc_dms_parse_key", "NMC: Extract metadata: Unknown command: %s",
                    key);
      return LM_NMC_INVALID_PARAMETER;
    }
    parsed->count = true;
    text.resize(dot);
  }
  size_t at = text.find('@');
  parsed->name = text.substr(0, at);
  parsed->attribute = at == std::string::npos ? std::string() : text.substr(at + 1);
  if (parsed->name.empty() || (at != std::string::npos && parsed->attribute.empty())) return LM_NMC_INVALID_PARAMETER;
  return LM_NMC_OK;
}

lm_nmc_result_t nmc_dms_extract_key(upnp_xml_node *object, const nmc_dms_key &key, uint32_t occurrence,
                                    std::string *value) {
  const Property *property = property_of(key.name);
  std::vector<const char *> tags;
  if (property != nullptr) {
    for (const char *tag : property->tags) {
      if (tag != nullptr) tags.push_back(tag);
    }
  } else {
    tags.push_back(key.name.c_str());
  }
  if (key.count) {
    for (const char *tag : tags) {
      std::vector<upnp_xml_node *> found = occurrences(object, tag);
      if (found.empty()) continue;
      uint32_t n = 0;
      std::string ignored;
      for (upnp_xml_node *node : found) {
        if (key.attribute.empty() || element_value(property, tag, node, key.attribute, &ignored)) ++n;
      }
      *value = std::to_string(n);
      return LM_NMC_OK;
    }
    *value = "0";
    return LM_NMC_OK;
  }
  for (const char *tag : tags) {
    std::vector<upnp_xml_node *> found = occurrences(object, tag);
    if (occurrence >= found.size()) continue;
    return element_value(property, tag, found[occurrence], key.attribute, value) ? LM_NMC_OK : LM_NMC_NOT_FOUND;
  }
  return LM_NMC_NOT_FOUND;
}

std::string nmc_dms_property_name(const char *tag) {
  if (tag == nullptr) return "";
  for (const Property &p : k_properties) {
    // The computed rows are never what an element is reported under.
    if (std::strcmp(p.name, "ObjectType") == 0 || std::strcmp(p.name, "MediaType") == 0) continue;
    for (const char *t : p.tags) {
      if (t != nullptr && std::strcmp(t, tag) == 0) return p.name;
    }
  }
  return tag;
}
