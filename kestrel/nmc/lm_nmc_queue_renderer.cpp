// What the queue asks of its renderer: play an entry (or only set its URI),
// stop, the transport state and the position. A network renderer gets
// SetAVTransportURI and Play through the control point (a server entry's
// best resource chosen afresh from its server); the local renderer gets the
// host's hooks.
#include <cstring>

#include "base/upnp_mem.h"
#include "base/upnp_string.h"
#include "base/upnp_xml.h"
#include "base/upnp_xml_write.h"
#include "cp/upnp_cp.h"
#include "cp/upnp_cp_avt_uri.h"
#include "cp/upnp_soap.h"
#include "nmc/lm_ldmr_ops.h"
#include "nmc/lm_nmc_queue.h"

namespace {

std::string tree_text(const upnp_xml_node *tree) {
  std::string text;
  if (tree == nullptr) return text;
  upnp_string *s = upnp_xml_tree_to_string_valid(tree, 0, 0);
  if (s != nullptr && s->buffer != nullptr) text.assign(s->buffer, s->length);
  upnp_string_free(s);
  return text;
}

std::string take(char *text) {
  std::string copy = text != nullptr ? text : "";
  upnp_free_impl(text);
  return copy;
}

// The DIDL-Lite text of a server object and the URL of its first res.
lm_nmc_result_t browse_object(const nmc_queue_item &item, std::string *metadata, std::string *url) {
  int server = upnp_control_get_device_index(item.server_udn.c_str(), UPNP_CP_KIND_SERVER);
  if (server < 0) return 3;
  upnp_xml_node *tree = nullptr;
  int result = upnp_control_browse_metadata(server, item.object_id.c_str(), "*", "", &tree);
  if (result != 0) {
    upnp_xml_release(tree);
    return static_cast<lm_nmc_result_t>(result);
  }
  const char *didl = upnp_xml_find_tag_value(tree, "Result");
  *metadata = didl != nullptr ? didl : "";
  upnp_xml_release(tree);
  upnp_xml_node *parsed = upnp_xml_parse(metadata->c_str());
  upnp_xml_node *res = parsed != nullptr ? upnp_xml_find_tag(parsed, "res") : nullptr;
  if (res != nullptr && res->value != nullptr) *url = res->value;
  upnp_xml_release(parsed);
  return url->empty() ? LM_NMC_NOT_FOUND : LM_NMC_OK;
}

lm_nmc_result_t send_local(int renderer, const nmc_queue_item &item, bool play, std::string *metadata_out) {
  std::string url = item.url;
  std::string metadata = item.metadata;
  if (url.empty()) {
    lm_nmc_result_t result = browse_object(item, &metadata, &url);
    if (result != LM_NMC_OK) return result;
  }
  *metadata_out = metadata;
  lm_nmc_result_t result = nmc_ldmr_set_play_info(renderer, false, url.c_str(), metadata.c_str());
  if (result != LM_NMC_OK || !play) return result;
  return nmc_ldmr_play(renderer);
}

}  // namespace

lm_nmc_result_t nmc_queue_renderer_send(int renderer, const nmc_queue_item &item, bool play,
                                        std::string *metadata_out) {
  metadata_out->clear();
  if (item.url.empty() && item.server_udn.empty()) return LM_NMC_NO_VALUE;
  if (nmc_ldmr_is_local(renderer)) return send_local(renderer, item, play, metadata_out);
  int result = 0;
  if (!item.url.empty()) {
    *metadata_out = item.metadata;
    const char *metadata = item.metadata.empty() ? nullptr : item.metadata.c_str();
    result = play ? upnp_cp_play_AVTransportURI(renderer, item.url.c_str(), metadata)
                  : upnp_cp_put_AVTransportURI(renderer, item.url.c_str(), metadata);
    return static_cast<lm_nmc_result_t>(result);
  }
  int server = upnp_control_get_device_index(item.server_udn.c_str(), UPNP_CP_KIND_SERVER);
  if (server < 0) return 3;
  upnp_xml_node *tree = nullptr;
  result = upnp_cp_set_best_AVTransportURI(renderer, 0, server, item.object_id.c_str(), &tree, nullptr);
  *metadata_out = tree_text(tree);
  upnp_xml_release(tree);
  if (result == 0 && play) result = upnp_play(renderer);
  return static_cast<lm_nmc_result_t>(result);
}

lm_nmc_result_t nmc_queue_renderer_stop(int renderer) {
  if (nmc_ldmr_is_local(renderer)) return nmc_ldmr_stop(renderer);
  return static_cast<lm_nmc_result_t>(upnp_stop(renderer));
}

int nmc_queue_renderer_state(int renderer) {
  if (nmc_ldmr_is_local(renderer)) {
    nmc_ldmr_state state;
    return nmc_ldmr_get_state(renderer, &state) == LM_NMC_OK ? static_cast<int>(state.state) : -1;
  }
  return upnp_gettransportstate(renderer);
}

lm_nmc_result_t nmc_queue_renderer_position(int renderer, uint64_t *position_ms, uint64_t *duration_ms) {
  *position_ms = 0;
  *duration_ms = 0;
  if (nmc_ldmr_is_local(renderer)) {
    nmc_ldmr_state state;
    lm_nmc_result_t result = nmc_ldmr_get_state(renderer, &state);
    *position_ms = state.position_ms;
    *duration_ms = state.duration_ms;
    return result;
  }
  char *duration = nullptr;
  char *rel_time = nullptr;
  char *abs_time = nullptr;
  int result = upnp_get_PositionInfo(renderer, nullptr, &duration, nullptr, nullptr, &rel_time, &abs_time, nullptr,
                                     nullptr);
  std::string rel = take(rel_time);
  std::string abs = take(abs_time);
  std::string track = take(duration);
  if (result != 0) return static_cast<lm_nmc_result_t>(result);
  *position_ms = nmc_queue_parse_time(!rel.empty() && rel != "NOT_IMPLEMENTED" ? rel.c_str() : abs.c_str());
  *duration_ms = nmc_queue_parse_time(track.c_str());
  return LM_NMC_OK;
}
