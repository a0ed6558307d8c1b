// Choosing the `res` of an object that a renderer plays best
// (upnp_cp_get_best_res and its device-free core), and the original `res`
// without a renderer.
#include <cstring>

#include "base/upnp_log.h"
#include "base/upnp_mem.h"
#include "cp/upnp_cp.h"
#include "cp/upnp_cp_res.h"
#include "cp/upnp_cp_res_internal.h"

namespace {

bool is_named(const upnp_xml_node *node, const char *name) {
  return node->name != nullptr && std::strcmp(node->name, name) == 0;
}

bool has_url(const upnp_xml_node *res) { return res->value != nullptr && res->value[0] != '\0'; }

}  // namespace

upnp_xml_node *res_find_object(upnp_xml_node *didl) {
  if (didl == nullptr) return nullptr;
  upnp_xml_node *object = upnp_xml_find_tag(didl, "item");
  return object != nullptr ? object : upnp_xml_find_tag(didl, "container");
}

extern "C" int upnp_cp_choose_res(const char *renderer_list, unsigned int screen_width, unsigned int screen_height,
                                  upnp_xml_node *didl, upnp_xml_node **res_out) {
  if (res_out != nullptr) *res_out = nullptr;
  upnp_xml_node *object = res_find_object(didl);
  if (object == nullptr) return UPNP_CP_NOT_FOUND;

  // Home-network URLs win when both kinds occur.
  bool home = false, outside = false;
  for (upnp_xml_node *c = object->children; c != nullptr; c = c->next) {
    if (!is_named(c, "res") || !has_url(c)) continue;
    if (upnp_cp_is_home_network_http_url(c->value)) home = true;
    else outside = true;
  }
  if (!home && !outside) return UPNP_CP_NOT_FOUND;
  bool home_only = home && outside;

  const char *type = strClassToTypeTable(upnp_xml_find_tag_value(object->children, "upnp:class"));
  upnp_cp_res_slots slots;
  std::memset(&slots, 0, sizeof slots);
  for (upnp_xml_node *c = object->children; c != nullptr; c = c->next) {
    if (!is_named(c, "res") || !has_url(c)) continue;
    if (home_only && !upnp_cp_is_home_network_http_url(c->value)) continue;
    const char *protocol_info = upnp_xml_find_attribute_value(c, "protocolInfo");
    if (protocol_info == nullptr) continue;
    int is_best = 0;
    int matched = getMatch(renderer_list, protocol_info, type, screen_width, screen_height, c, &slots, &is_best);
    if (matched && res_out == nullptr) return UPNP_CP_OK;
    if (slots.best != nullptr) break;
  }
  if (res_out == nullptr) return UPNP_CP_NOT_FOUND;

  upnp_xml_node *chosen = slots.best;
  if (chosen == nullptr) chosen = slots.ok;
  if (chosen == nullptr) chosen = slots.transcoded;
  if (chosen == nullptr && slots.thumbnail != nullptr) {
    upnp_xml_node *larger = createScaledUpImageRes(slots.thumbnail);
    chosen = larger != nullptr ? larger : slots.thumbnail;
  }
  if (chosen == nullptr) chosen = slots.wrong_type;
  if (chosen == nullptr) return UPNP_CP_NOT_FOUND;
  *res_out = chosen;
  return UPNP_CP_OK;
}

extern "C" int upnp_cp_get_best_res(int renderer, const char *renderer_list, upnp_xml_node *didl,
                                    upnp_xml_node **res_out) {
  if (res_out != nullptr) *res_out = nullptr;
  if (didl == nullptr) return UPNP_CP_INVALID_PARAMETER;
  unsigned int width = 0, height = 0;
  if (renderer >= 0 && upnp_cp_get_renderer_resolution(renderer, &width, &height) != UPNP_CP_OK) width = height = 0;
  return upnp_cp_choose_res(renderer_list, width, height, didl, res_out);
}

extern "C" int upnp_cp_get_orig_res(const char *didl_text, upnp_xml_node **res_out) {
  if (res_out != nullptr) *res_out = nullptr;
  if (didl_text == nullptr || res_out == nullptr) return UPNP_CP_INVALID_PARAMETER;
  upnp_xml_node *didl = upnp_xml_parse(didl_text);
  if (didl == nullptr) return UPNP_CP_NOT_FOUND;
  upnp_xml_node *chosen = nullptr;
  int result = upnp_cp_choose_res(nullptr, 0, 0, didl, &chosen);
  if (result == UPNP_CP_OK) {
    *res_out = upnp_xml_copy_node(chosen);
    if (*res_out == nullptr) result = UPNP_CP_OUT_OF_MEMORY;
  }
  upnp_xml_release(didl);
  return result;
}
