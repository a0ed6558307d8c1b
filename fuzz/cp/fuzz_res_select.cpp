// Input: "<sink list>\n<screen WxH>\n<DIDL-Lite text>". A sink list of "-"
// stands for no renderer list. The DIDL-Lite goes through the choice without
// a renderer (upnp_cp_get_orig_res), the choice against the list and screen
// (with and without an output, scaled-up pictures included), the matcher on
// every res, the extra entries of a renderer and the can-play answer for
// every res URL. The scaled-up picture's information request is answered by
// a stand-in: nothing reaches the network.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>

#include "base/upnp_mem.h"
#include "base/upnp_xml.h"
#include "cp/upnp_cp_res.h"
#include "cp/upnp_cp_res_internal.h"

namespace {

bool stand_in_head(const char *url, long long *length_out) {
  // Deterministic from the URL: some answer with a length, some without,
  // some not at all.
  size_t n = std::strlen(url);
  if (length_out != nullptr) *length_out = (n % 3 == 0) ? 0 : static_cast<long long>(n) * 1000;
  return n % 5 != 0;
}

std::string next_line(const std::string &text, size_t *at) {
  size_t end = text.find('\n', *at);
  if (end == std::string::npos) end = text.size();
  std::string line = text.substr(*at, end - *at);
  *at = end < text.size() ? end + 1 : end;
  return line;
}

void each_res(upnp_xml_node *node, const char *list, const char *type, unsigned w, unsigned h,
              upnp_cp_res_slots *slots) {
  for (; node != nullptr; node = node->next) {
    if (node->name != nullptr && std::strcmp(node->name, "res") == 0) {
      const char *pi = upnp_xml_find_attribute_value(node, "protocolInfo");
      if (pi != nullptr) {
        int best = 0;
        (void)getMatch(list, pi, type, w, h, node, slots, &best);
        char buffer[64];
        (void)upnp_cp_pi_get_profile(pi, buffer, sizeof buffer);
        (void)upnp_cp_pi_get_mime_type(pi, buffer, sizeof buffer);
        (void)upnp_cp_pi_get_field(pi, 3, buffer, sizeof buffer);
      }
      if (node->value != nullptr) (void)upnp_cp_list_can_play_url(list, node->value);
    }
    each_res(node->children, list, type, w, h, slots);
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  static bool ready = [] {
    upnp_mem_init();
    res_set_head_function(stand_in_head);
    return true;
  }();
  (void)ready;
  std::string text(reinterpret_cast<const char *>(data), size);
  text = text.substr(0, text.find('\0'));
  size_t at = 0;
  std::string list_line = next_line(text, &at);
  std::string screen = next_line(text, &at);
  std::string didl = text.substr(at);
  const char *list = list_line == "-" ? nullptr : list_line.c_str();
  unsigned w = 0, h = 0;
  (void)upnp_cp_parse_resolution(screen.c_str(), &w, &h);

  upnp_xml_node *orig = nullptr;
  if (upnp_cp_get_orig_res(didl.c_str(), &orig) == 0) upnp_xml_release(orig);

  upnp_xml_node *tree = upnp_xml_parse(didl.c_str());
  if (tree != nullptr) {
    (void)upnp_cp_choose_res(list, w, h, tree, nullptr);
    upnp_xml_node *chosen = nullptr;
    if (upnp_cp_choose_res(list, w, h, tree, &chosen) == 0 && chosen != nullptr) {
      (void)upnp_xml_find_attribute_value(chosen, "protocolInfo");
    }
    upnp_cp_res_slots slots;
    std::memset(&slots, 0, sizeof slots);
    const char *type = strClassToTypeTable(upnp_xml_find_tag_value(tree, "upnp:class"));
    each_res(tree, list, type, w, h, &slots);
    upnp_xml_release(tree);
  }

  char *extra = nullptr;
  if (upnp_cp_get_extra_ProtocolInfo_for_model(screen.c_str(), list, &extra) == 0) upnp_free_impl(extra);
  return 0;
}
