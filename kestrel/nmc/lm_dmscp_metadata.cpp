// The metadata of the object under a server context's cursor: as DIDL-Lite
// text, one property as text or number, every property to a callback,
// changing a property on the server and destroying the object.
#include <cerrno>
#include <cstdlib>
#include <cstring>

#include "base/upnp_mem.h"
#include "base/upnp_xml_write.h"
#include "cp/upnp_cp.h"
#include "nmc/lm_dmscp.h"
#include "nmc/lm_dmscp_internal.h"
#include "nmc/lm_nmc_api.h"
#include "nmc/lm_nmc_command.h"
#include "nmc/lm_nmc_text.h"

namespace {

const char k_didl_open[] =
    "<DIDL-Lite xmlns=\"urn:schemas-upnp-org:metadata-1-0/DIDL-Lite/\" "
    "xmlns:dc=\"http://purl.org/dc/elements/1.1/\" xmlns:upnp=\"urn:schemas-upnp-org:metadata-1-0/upnp/\" "
    "xmlns:dlna=\"urn:schemas-dlna-org:metadata-1-0/\">";

}  // namespace

lm_nmc_result_t nmc_dms_extract(nmc_dms_state &state, const char *key, uint32_t occurrence, std::string *value) {
  nmc_dms_key parsed;
  lm_nmc_result_t result = nmc_dms_parse_key(key, &parsed);
  if (result != LM_NMC_OK) return result;
  upnp_xml_node *object = nullptr;
  result = nmc_dms_current(state, &object);
  if (nmc_dms_is_device_field(parsed.name)) {
    nmc_dms_server server;
    if (state.server < 0 || !nmc_dms_server_get(state.server, &server)) return 3;
    nmc_xml_tree info(upnp_xml_parse(server.info.c_str()));
    if (!info) return LM_NMC_NOT_FOUND;
    return nmc_dms_extract_key(info.get(), parsed, occurrence, value);
  }
  if (result != LM_NMC_OK) return result;
  result = nmc_dms_extract_key(object, parsed, occurrence, value);
  if (result == LM_NMC_NOT_FOUND && parsed.attribute.empty() && !parsed.count && state.server >= 0 &&
      nmc_is_element_name(parsed.name.c_str())) {
    char buffer[1024];
    if (upnp_control_get_device_attribute(state.server, parsed.name.c_str(), buffer, sizeof buffer,
                                          UPNP_CP_KIND_SERVER) == 0 &&
        buffer[0] != '\0') {
      *value = buffer;
      return LM_NMC_OK;
    }
  }
  return result;
}

upnp_string *nmc_dms_metadata_text(nmc_dms_state &state, upnp_xml_node *object, upnp_string *text) {
  const bool wrapped = state.top().type != NMC_LEVEL_SERVERS;
  if (text != nullptr) text = upnp_string_add(text, k_didl_open, wrapped ? sizeof k_didl_open - 1 : 0);
  if (text != nullptr) text = dumpXml(text, object, 0, 0, 1, 0, 1);
  if (text != nullptr && wrapped) text = upnp_string_add(text, "</DIDL-Lite>", 12);
  return text;
}

namespace {

template <typename Convert>
lm_nmc_result_t extract_number(uint32_t context, const char *key, uint32_t occurrence, Convert convert) {
  std::string text = key != nullptr ? key : "";
  return nmc_dms_with_context(context, [&](nmc_dms_state &state) {
    std::string value;
    lm_nmc_result_t result = nmc_dms_extract(state, text.c_str(), occurrence, &value);
    if (result != LM_NMC_OK) return result;
    return convert(value) ? LM_NMC_OK : LM_NMC_NOT_FOUND;
  });
}

struct Property {
  std::string name, value;
  uint32_t occurrence;
};

// Every element of the tree in document order under its property name, with
// its occurrence among equal neighbours, then its attributes.
void collect(upnp_xml_node *node, std::vector<Property> *out) {
  std::vector<std::pair<std::string, uint32_t>> seen;
  for (; node != nullptr; node = node->next) {
    if (node->name == nullptr) continue;
    uint32_t occurrence = 0;
    bool found = false;
    for (auto &entry : seen) {
      if (entry.first == node->name) {
        occurrence = ++entry.second;
        found = true;
      }
    }
    if (!found) seen.emplace_back(node->name, 0);
    std::string name = std::strcmp(node->name, "res") == 0 ? "Resource@URI" : nmc_dms_property_name(node->name);
    std::string base = std::strcmp(node->name, "res") == 0 ? "Resource" : name;
    out->push_back(Property{name, node->value != nullptr ? node->value : "", occurrence});
    for (upnp_xml_attribute *a = node->attributes; a != nullptr; a = a->next) {
      if (a->name != nullptr) out->push_back(Property{base + "@" + a->name, a->value != nullptr ? a->value : "", occurrence});
    }
    collect(node->children, out);
  }
}

// The XML tag a plain property is written under, none for properties that
// are not plain element text.
const char *settable_tag(upnp_xml_node *object, const std::string &name) {
  static const struct {
    const char *name, *tag;
  } rows[] = {{"Title", "dc:title"},         {"Supported", "zel:supported"},  {"Date", "dc:date"},
              {"Album", "upnp:album"},       {"Genre", "upnp:genre"},         {"Artist", "upnp:artist"},
              {"Creator", "dc:creator"},     {"ObjectClass", "upnp:class"},   {"AlbumArtURI", "upnp:albumArtURI"},
              {"UserRating", "zel:rating"},  {"TrackNumber", "upnp:originalTrackNumber"}};
  for (const auto &row : rows) {
    if (name == row.name) {
      if (std::strcmp(row.tag, "zel:rating") == 0 &&
          upnp_xml_find_tag(object->children, "zel:rating") == nullptr &&
          upnp_xml_find_tag(object->children, "microsoft:userEffectiveRatingInStars") != nullptr) {
        return "microsoft:userEffectiveRatingInStars";
      }
      return row.tag;
    }
  }
  static const char *const computed[] = {"ObjectType", "MediaType", "Resource", "Object", "OriginServerBookmark"};
  for (const char *c : computed) {
    if (name == c) return nullptr;
  }
  return nmc_dms_is_device_field(name) || !nmc_is_element_name(name.c_str()) ? nullptr : name.c_str();
}

lm_nmc_result_t set_metadata(nmc_dms_state &state, const std::string &key, uint32_t occurrence,
                             const std::string &value) {
  if (key.empty() || key.find('@') != std::string::npos || key.find('.') != std::string::npos) {
    return LM_NMC_INVALID_PARAMETER;
  }
  upnp_xml_node *object = nullptr;
  lm_nmc_result_t result = nmc_dms_current(state, &object);
  if (result != LM_NMC_OK) return result;
  const char *tag = settable_tag(object, key);
  if (tag == nullptr || state.top().type == NMC_LEVEL_SERVERS) return LM_NMC_INVALID_PARAMETER;
  const char *id = upnp_xml_find_attribute_value(object, "id");
  if (id == nullptr) return LM_NMC_NOT_FOUND;
  std::string current;
  uint32_t seen = 0;
  for (upnp_xml_node *child = object->children; child != nullptr; child = child->next) {
    if (child->name == nullptr || std::strcmp(child->name, tag) != 0 || seen++ != occurrence) continue;
    if (child->children != nullptr) return LM_NMC_INVALID_PARAMETER;
    current = child->value != nullptr ? child->value : "";
  }
  if (current == value) return LM_NMC_OK;
  auto tagged = [tag](const std::string &text) {
    return text.empty() ? std::string() : std::string("<") + tag + ">" + nmc_xml_escape(text.c_str()) + "</" + tag + ">";
  };
  std::string command = "<UpdateObject><ServerIndex>" + std::to_string(state.server) + "</ServerIndex><ObjectID>" +
                        nmc_xml_escape(id) + "</ObjectID><CurrentTagValue>" +
                        nmc_xml_escape(tagged(current).c_str()) + "</CurrentTagValue><NewTagValue>" +
                        nmc_xml_escape(tagged(value).c_str()) + "</NewTagValue></UpdateObject>";
  result = nmc_api_run(command);
  if (result == LM_NMC_OK) {
    nmc_dms_level &level = state.top();
    level.drop_page();
    level.drop_current();
  }
  return result;
}

}  // namespace

extern "C" KESTREL_API lm_nmc_result_t lm_dmscp_get_metadata(uint32_t context, uint32_t size, char *buffer) {
  if (buffer != nullptr && size > 0) buffer[0] = '\0';
  if (buffer == nullptr || size == 0) return LM_NMC_INVALID_PARAMETER;
  return nmc_dms_with_context(context, [size, buffer](nmc_dms_state &state) {
    upnp_xml_node *object = nullptr;
    lm_nmc_result_t result = nmc_dms_current(state, &object);
    if (result != LM_NMC_OK) return result;
    upnp_string *text = nmc_dms_metadata_text(state, object, upnp_string_create("", 4096));
    if (text == nullptr) return LM_NMC_OUT_OF_MEMORY;
    lm_nmc_result_t written = LM_NMC_BUFFER_TOO_SMALL;
    if (text->length < size) {
      std::memcpy(buffer, text->buffer, text->length + 1);
      written = LM_NMC_OK;
    }
    upnp_string_free(text);
    return written;
  });
}

extern "C" KESTREL_API lm_nmc_result_t lm_dmscp_extract_metadata(uint32_t context, const char *key,
                                                                 uint32_t occurrence, uint32_t size, char *buffer) {
  if (buffer != nullptr && size > 0) buffer[0] = '\0';
  if (key == nullptr || key[0] == '\0' || buffer == nullptr || size == 0) return LM_NMC_INVALID_PARAMETER;
  std::string text = key;
  return nmc_dms_with_context(context, [&](nmc_dms_state &state) {
    std::string value;
    lm_nmc_result_t result = nmc_dms_extract(state, text.c_str(), occurrence, &value);
    return result != LM_NMC_OK ? result : nmc_out_text(value.c_str(), size, buffer);
  });
}

extern "C" KESTREL_API lm_nmc_result_t lm_dmscp_extract_metadata_int(uint32_t context, const char *key,
                                                                     uint32_t occurrence, int32_t *value) {
  if (value == nullptr || key == nullptr || key[0] == '\0') return LM_NMC_INVALID_PARAMETER;
  *value = 0;
  return extract_number(context, key, occurrence, [value](const std::string &text) {
    errno = 0;
    char *end = nullptr;
    long long n = std::strtoll(text.c_str(), &end, 10);
    if (end == text.c_str() || errno != 0 || n < INT32_MIN || n > INT32_MAX) return false;
    *value = static_cast<int32_t>(n);
    return true;
  });
}

extern "C" KESTREL_API lm_nmc_result_t lm_dmscp_extract_metadata_uint64(uint32_t context, const char *key,
                                                                        uint32_t occurrence, uint64_t *value) {
  if (value == nullptr || key == nullptr || key[0] == '\0') return LM_NMC_INVALID_PARAMETER;
  *value = 0;
  return extract_number(context, key, occurrence, [value](const std::string &text) {
    if (text.empty() || text[0] < '0' || text[0] > '9') return false;
    errno = 0;
    unsigned long long n = std::strtoull(text.c_str(), nullptr, 10);
    if (errno != 0) return false;
    *value = n;
    return true;
  });
}

extern "C" KESTREL_API lm_nmc_result_t lm_dmscp_load_metadata(uint32_t context, lm_dmscp_metadata_callback callback,
                                                              uint32_t which, void *user) {
  if (callback == nullptr || (which != LM_DMSCP_METADATA_OBJECT && which != LM_DMSCP_METADATA_SERVER)) {
    return LM_NMC_INVALID_PARAMETER;
  }
  std::vector<Property> properties;
  lm_nmc_result_t result = nmc_dms_with_context(context, [&](nmc_dms_state &state) {
    upnp_xml_node *object = nullptr;
    lm_nmc_result_t found = nmc_dms_current(state, &object);
    if (which == LM_DMSCP_METADATA_SERVER) {
      nmc_dms_server server;
      if (state.server < 0 || !nmc_dms_server_get(state.server, &server)) return 3u;
      nmc_xml_tree info(upnp_xml_parse(server.info.c_str()));
      if (info) collect(info.get(), &properties);
      return LM_NMC_OK;
    }
    if (found != LM_NMC_OK) return found;
    collect(object, &properties);
    return LM_NMC_OK;
  });
  if (result != LM_NMC_OK) return result;
  if (properties.empty()) return LM_NMC_NOT_FOUND;
  // The callback runs with the context released: it may call in again.
  if (callback(context, nullptr, nullptr, static_cast<uint32_t>(properties.size()), user) != 0) {
    for (const Property &p : properties) {
      if (callback(context, p.name.c_str(), p.value.c_str(), p.occurrence, user) == 0) break;
    }
  }
  callback(context, nullptr, nullptr, 0, user);
  return LM_NMC_OK;
}

extern "C" KESTREL_API lm_nmc_result_t lm_dmscp_set_metadata(uint32_t context, const char *key, uint32_t occurrence,
                                                             const char *value) {
  if (key == nullptr || key[0] == '\0') return LM_NMC_INVALID_PARAMETER;
  std::string name = key, text = value != nullptr ? value : "";
  return nmc_dms_with_context(context,
                              [&](nmc_dms_state &state) { return set_metadata(state, name, occurrence, text); });
}

extern "C" KESTREL_API lm_nmc_result_t lm_dmscp_delete_object(uint32_t context) {
  return nmc_dms_with_context(context, [](nmc_dms_state &state) {
    upnp_xml_node *object = nullptr;
    lm_nmc_result_t result = nmc_dms_current(state, &object);
    if (result != LM_NMC_OK) return result;
    const char *id = upnp_xml_find_attribute_value(object, "id");
    if (id == nullptr || state.top().type == NMC_LEVEL_SERVERS) return LM_NMC_NOT_FOUND;
    std::string command = "<DeleteObject><ServerIndex>" + std::to_string(state.server) + "</ServerIndex><ObjectID>" +
                          nmc_xml_escape(id) + "</ObjectID></DeleteObject>";
    result = nmc_api_run(command);
    if (result == LM_NMC_OK) {
      nmc_dms_level &level = state.top();
      level.drop_page();
      level.drop_current();
      level.count_known = false;
      level.count = 0;
    }
    return result;
  });
}
