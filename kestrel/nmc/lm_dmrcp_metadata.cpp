// Renderer metadata: the renderer's information (read once per renderer),
// its current track (kept until the renderer reports a metadata change),
// the metadata text of a context, one property out of it, and the live
// renderer properties read and set through their XML commands.
#include <cctype>
#include <cstdlib>
#include <cstring>
#include <map>
#include <mutex>

#include "base/upnp_string.h"
#include "base/upnp_xml_write.h"
#include "cp/upnp_cp.h"
#include "nmc/lm_dmrcp.h"
#include "nmc/lm_dmrcp_state.h"
#include "nmc/lm_ldmr_ops.h"
#include "nmc/lm_nmc_actions.h"
#include "nmc/lm_nmc_command.h"
#include "nmc/lm_nmc_devices.h"
#include "nmc/lm_nmc_internal.h"
#include "base/upnp_log.h"
#include "nmc/lm_nmc_text.h"

namespace {

// Device fields: description name and output name.
struct Field {
  const char *element;
  const char *output;
};
const Field k_fields[] = {
    {"friendlyName", "friendlyName"},          {"manufacturer", "manufacturer"},
    {"modelName", "modelName"},                {"modelNumber", "modelNumber"},
    {"modelDescription", "modelDescription"},  {"dlna:X_DLNADOC", "dlnaVersion"},
    {"specVersion", "upnpVersion"},            {"zel:X_PLAYLISTCAP", "playlistSupport"},
    {"zel:X_LOCALDEVICE", "isLocalDevice"},    {"zel:X_INTERNALDEVICE", "isInternalDevice"},
    {"dlna:X_DLNAVIRT", "aggregating"},        {"baseURL", "baseURL"},
    {"isProxyServer", "isProxyServer"},        {"move:X_move_support", "dtcpMoveSupport"},
    {"knownServer", "knownServer"},            {"wellKnownBookmark", "wellKnownBookmark"},
    {"dtcpPushSupport", "dtcpPushSupport"},    {"dtcpCopySupport", "dtcpCopySupport"},
    {"dtcpMoveSupport", "dtcpMoveSupport"},
};

// Live renderer properties: command, answer element, setter.
struct Property {
  const char *name;
  const char *command;
  const char *answer;
  const char *setter;
};
const Property k_properties[] = {
    {"DmrPropStatus", "GetTransportInfo", "CurrentTransportStatus", nullptr},
    {"DmrPropCurrentTransportActions", "GetCurrentTransportActions", "Actions", nullptr},
    {"DmrPropLoudness", "GetLoudness", "Value", "SetLoudness"},
    {"DmrPropBrightness", "GetBrightness", "Value", "SetBrightness"},
    {"DmrPropContrast", "GetContrast", "Value", "SetContrast"},
    {"DmrPropBytePosition", "GetDlnaPositionInfo", "RelByte", nullptr},
};

const Property *find_property(const char *name) {
  for (const Property &property : k_properties) {
    if (std::strcmp(property.name, name) == 0) return &property;
  }
  return nullptr;
}

bool is_device_field(const char *name) {
  for (const Field &field : k_fields) {
    if (std::strcmp(field.output, name) == 0) return true;
  }
  return false;
}

// Per renderer (by UDN): its information and its current track.
struct RendererCache {
  bool has_info = false;
  std::string info;
  bool has_track = false;
  std::string track;
};
// Guards g_cache; held only to copy in or out, never during a request.
std::mutex g_lock;
std::map<std::string, RendererCache> g_cache;

std::string renderer_info(const nmc_dmr_target &target) {
  {
    std::lock_guard<std::mutex> hold(g_lock);
    auto found = g_cache.find(target.udn);
    if (found != g_cache.end() && found->second.has_info) return found->second.info;
  }
  std::string info;
  if (nmc_ldmr_is_local(target.index)) {
    nmc_ldmr_get_device_info(target.index, &info);
  } else {
    nmc_command_pairs params{{"Index", std::to_string(target.index)}};
    for (const Field &field : k_fields) params.emplace_back("Element", field.element);
    nmc_dmr_reply reply;
    nmc_dmr_run(nmc_command_text("GetRendererInfo", {}, params), &reply);
    if (reply.code != LM_NMC_OK) return std::string();
    for (const Field &field : k_fields) {
      const char *value = reply.value(field.element);
      if (value == nullptr || value[0] == '\0') continue;
      info += std::string("<") + field.output + ">" + nmc_xml_escape(value) + "</" + field.output + ">";
    }
  }
  std::lock_guard<std::mutex> hold(g_lock);
  RendererCache &cache = g_cache[target.udn];
  cache.info = info;
  cache.has_info = true;
  return info;
}

// "<TrackURI>..</TrackURI><TrackMetaData>..</TrackMetaData>": the metadata
// as XML when it parses (so that its elements can be looked up), else as text.
std::string current_track(const nmc_dmr_target &target) {
  {
    std::lock_guard<std::mutex> hold(g_lock);
    auto found = g_cache.find(target.udn);
    if (found != g_cache.end() && found->second.has_track) return found->second.track;
  }
  nmc_dmr_reply reply;
  if (nmc_dmr_command("GetPositionInfo", target.index, {}, &reply) != LM_NMC_OK) return std::string();
  const char *uri = reply.value("TrackURI");
  const char *metadata = reply.value("TrackMetaData");
  std::string track = "<TrackURI>" + nmc_xml_escape(uri) + "</TrackURI><TrackMetaData>";
  upnp_xml_node *parsed = metadata != nullptr && metadata[0] == '<' ? upnp_xml_parse(metadata) : nullptr;
  if (parsed != nullptr) {
    upnp_string *text = upnp_xml_tree_to_string_valid(parsed, 0, 0);
    if (text != nullptr && text->buffer != nullptr) track.append(text->buffer, text->length);
    upnp_string_free(text);
    upnp_xml_release(parsed);
  } else {
    track += nmc_xml_escape(metadata);
  }
  track += "</TrackMetaData>";
  std::lock_guard<std::mutex> hold(g_lock);
  RendererCache &cache = g_cache[target.udn];
  cache.track = track;
  cache.has_track = true;
  return track;
}

// The context's metadata text: cached in the context for its renderer.
lm_nmc_result_t context_metadata(uint32_t id, nmc_dmr_target *target, std::string *text) {
  lm_nmc_result_t result = nmc_dmr_find(id, target);
  if (result != LM_NMC_OK) return result;
  nmc_context *context = nmc_context_find(id);
  if (context == nullptr) return LM_NMC_INVALID_INDEX;
  nmc_dmr_context *dmr = nmc_dmr_state_of_context(context);
  if (dmr != nullptr) *text = dmr->metadata;
  nmc_context_release(context);
  if (!text->empty()) return LM_NMC_OK;
  *text = "<renderer><name>" + nmc_xml_escape(target->name.c_str()) + "</name>" + renderer_info(*target) +
          current_track(*target) + "</renderer>";
  context = nmc_context_find(id);
  if (context == nullptr) return LM_NMC_INVALID_INDEX;
  dmr = nmc_dmr_state_of_context(context);
  if (dmr != nullptr && dmr->udn == target->udn) dmr->metadata = *text;
  nmc_context_release(context);
  return LM_NMC_OK;
}

struct Key {
  std::string name;
  std::string attribute;
  bool count = false;
};

bool parse_key(const char *text, Key *key) {
  std::string rest = text;
  size_t dot = rest.find('.');
  if (dot != std::string::npos) {
    if (rest.compare(dot, std::string::npos, ".Count") != 0) {
      upnp_log_impl(LOG_LEVEL_WARNING, LOG_SYSTEM, "lm_dmrcp_extract_metadata",
                    "NMC: Extract metadata: Unknown command: %s", text);
      return false;
    }
    key->count = true;
    rest.erase(dot);
  }
  size_t at = rest.find('@');
  if (at != std::string::npos) {
    key->attribute = rest.substr(at + 1);
    rest.erase(at);
  }
  key->name = rest;
  return !key->name.empty();
}

// The occurrence's value in the tree; the number of occurrences in *count.
bool tree_value(upnp_xml_node *tree, const Key &key, uint32_t occurrence, std::string *value, uint32_t *count) {
  *count = 0;
  bool found = false;
  for (upnp_xml_node *node = upnp_xml_find_tag(tree, key.name.c_str()); node != nullptr;
       node = upnp_xml_find_next_tag(node, key.name.c_str())) {
    const char *attribute = nullptr;
    if (!key.attribute.empty()) {
      attribute = upnp_xml_find_attribute_value(node, key.attribute.c_str());
      if (attribute == nullptr) continue;
    }
    if (*count == occurrence) {
      found = true;
      if (attribute != nullptr) {
        *value = attribute;
      } else if (node->children != nullptr) {
        upnp_string *text = upnp_xml_tree_to_string_valid(node->children, 0, 0);
        if (text != nullptr && text->buffer != nullptr) value->assign(text->buffer, text->length);
        upnp_string_free(text);
      } else {
        *value = node->value != nullptr ? node->value : "";
      }
    }
    ++*count;
  }
  return found;
}

// One property as text: 9 when there is none.
lm_nmc_result_t extract(uint32_t context, const char *key_text, uint32_t occurrence, std::string *value) {
  if (key_text == nullptr || key_text[0] == '\0') return LM_NMC_INVALID_PARAMETER;
  Key key;
  if (!parse_key(key_text, &key)) return LM_NMC_INVALID_PARAMETER;
  nmc_dmr_target target;
  std::string metadata;
  lm_nmc_result_t result = context_metadata(context, &target, &metadata);
  if (result != LM_NMC_OK) return result;
  upnp_xml_node *tree = upnp_xml_parse(metadata.c_str());
  uint32_t count = 0;
  bool found = tree != nullptr && tree_value(tree, key, occurrence, value, &count);
  upnp_xml_release(tree);
  if (key.count && (count > 0 || is_device_field(key.name.c_str()) || !key.attribute.empty())) {
    *value = std::to_string(count);
    return LM_NMC_OK;
  }
  if (found) return LM_NMC_OK;
  if (is_device_field(key.name.c_str()) || !key.attribute.empty()) return LM_NMC_NOT_FOUND;
  const Property *property = find_property(key.name.c_str());
  if (property != nullptr) {
    if (key.count) {
      *value = "1";
      return LM_NMC_OK;
    }
    nmc_dmr_reply reply;
    result = nmc_dmr_command(property->command, target.index, {}, &reply);
    const char *answer = reply.value(property->answer);
    if (result == LM_NMC_OK && answer != nullptr) {
      *value = answer;
      return LM_NMC_OK;
    }
    if (result != LM_NMC_OK && !nmc_ldmr_is_local(target.index)) return result;
  }
  if (nmc_ldmr_is_local(target.index)) {
    result = nmc_ldmr_get_property(target.index, key.name.c_str(), value);
    if (key.count) *value = result == LM_NMC_OK ? "1" : "0";
    return key.count ? LM_NMC_OK : result;
  }
  if (!nmc_is_element_name(key.name.c_str())) return LM_NMC_NOT_FOUND;
  char text[4096];
  if (upnp_control_get_device_attribute(target.index, key.name.c_str(), text, sizeof text,
                                        UPNP_CP_KIND_RENDERER) != 0) {
    return key.count ? (*value = "0", LM_NMC_OK) : LM_NMC_NOT_FOUND;
  }
  *value = key.count ? "1" : text;
  return LM_NMC_OK;
}

}  // namespace

extern "C" KESTREL_API lm_nmc_result_t lm_dmrcp_get_device_info(uint32_t context, uint32_t size, char *buffer) {
  if (buffer != nullptr && size > 0) buffer[0] = '\0';
  nmc_dmr_target target;
  lm_nmc_result_t result = nmc_dmr_find(context, &target);
  if (result != LM_NMC_OK) return result;
  return nmc_out_text(("<rendererInfo>" + renderer_info(target) + "</rendererInfo>").c_str(), size, buffer);
}

extern "C" KESTREL_API lm_nmc_result_t lm_dmrcp_get_metadata(uint32_t context, uint32_t size, char *buffer) {
  if (buffer != nullptr && size > 0) buffer[0] = '\0';
  nmc_dmr_target target;
  std::string metadata;
  lm_nmc_result_t result = context_metadata(context, &target, &metadata);
  if (result != LM_NMC_OK) return result;
  return nmc_out_text(metadata.c_str(), size, buffer);
}

extern "C" KESTREL_API lm_nmc_result_t lm_dmrcp_extract_metadata(uint32_t context, const char *key,
                                                                 uint32_t occurrence, uint32_t size, char *buffer) {
  if (buffer != nullptr && size > 0) buffer[0] = '\0';
  if (buffer == nullptr || size == 0) return LM_NMC_INVALID_PARAMETER;
  std::string value;
  lm_nmc_result_t result = extract(context, key, occurrence, &value);
  return result != LM_NMC_OK ? result : nmc_out_text(value.c_str(), size, buffer);
}

extern "C" KESTREL_API lm_nmc_result_t lm_dmrcp_extract_metadata_int(uint32_t context, const char *key,
                                                                     uint32_t occurrence, int32_t *value) {
  if (value == nullptr) return LM_NMC_INVALID_PARAMETER;
  *value = 0;
  std::string text;
  lm_nmc_result_t result = extract(context, key, occurrence, &text);
  if (result != LM_NMC_OK) return result;
  *value = static_cast<int32_t>(std::strtol(text.c_str(), nullptr, 10));
  return LM_NMC_OK;
}

extern "C" KESTREL_API lm_nmc_result_t lm_dmrcp_extract_metadata_uint64(uint32_t context, const char *key,
                                                                        uint32_t occurrence, uint64_t *value) {
  if (value == nullptr) return LM_NMC_INVALID_PARAMETER;
  *value = 0;
  std::string text;
  lm_nmc_result_t result = extract(context, key, occurrence, &text);
  if (result != LM_NMC_OK) return result;
  *value = std::strtoull(text.c_str(), nullptr, 10);
  return LM_NMC_OK;
}

extern "C" KESTREL_API lm_nmc_result_t lm_dmrcp_set_metadata(uint32_t context, const char *property,
                                                             uint32_t occurrence, const char *value) {
  if (!lm_nmc_conn_init()) return LM_NMC_GOING_DOWN;
  if (property == nullptr || property[0] == '\0' || value == nullptr || value[0] == '\0') {
    return LM_NMC_INVALID_PARAMETER;
  }
  nmc_dmr_target target;
  lm_nmc_result_t result = nmc_dmr_find(context, &target);
  if (result != LM_NMC_OK) return result;
  if (nmc_ldmr_is_local(target.index)) return nmc_ldmr_set_property(target.index, property, value);
  const Property *found = find_property(property);
  if (found == nullptr || found->setter == nullptr || occurrence != 0) return LM_NMC_NOT_FOUND;
  nmc_dmr_reply reply;
  return nmc_dmr_command(found->setter, target.index, {{"Value", value}}, &reply);
}

// ---- What the renderer notifier asks of the renderer caches. ----

void nmc_action_renderer_drop_metadata(int index) {
  nmc_device_view view;
  if (!nmc_devices_find(NMC_SIDE_RENDERER, index, &view)) return;
  std::lock_guard<std::mutex> hold(g_lock);
  auto found = g_cache.find(view.udn);
  if (found == g_cache.end()) return;
  found->second.has_track = false;
  found->second.track.clear();
}

bool nmc_action_renderer_is_player(int index) {
  if (nmc_ldmr_is_local(index)) return false;
  char model[256];
  if (upnp_control_get_device_attribute(index, "modelName", model, sizeof model, UPNP_CP_KIND_RENDERER) != 0) {
    return false;
  }
  return std::strstr(model, "LMM Player") != nullptr;
}
