// Adaptations of `res` elements for renderers that insist on DLNA
// parameters: the flags (and, for JPEG pictures, the profile by resolution)
// in the protocolInfo, and a duration for playable resources.
#include <cstdlib>
#include <cstring>
#include <strings.h>

#include "base/upnp_log.h"
#include "base/upnp_string.h"
#include "cp/upnp_cp_avt_uri.h"

namespace {

// "WxH" with both sides above 0; false otherwise.
bool read_resolution(const char *text, unsigned *width, unsigned *height) {
  *width = *height = 0;
  if (text == nullptr) return false;
  char *end = nullptr;
  unsigned long w = std::strtoul(text, &end, 10);
  if (end == text || (*end != 'x' && *end != 'X')) return false;
  const char *h_text = end + 1;
  unsigned long h = std::strtoul(h_text, &end, 10);
  if (end == h_text || w == 0 || h == 0 || w > 1000000 || h > 1000000) return false;
  *width = static_cast<unsigned>(w);
  *height = static_cast<unsigned>(h);
  return true;
}

// Start of the fourth field (after the third ':'), or none.
const char *fourth_field(const char *protocol_info) {
  const char *p = protocol_info;
  for (int i = 0; i < 3; ++i) {
    p = std::strchr(p, ':');
    if (p == nullptr) return nullptr;
    ++p;
  }
  return p;
}

upnp_xml_attribute *attribute(upnp_xml_node *node, const char *name) {
  return upnp_xml_find_attribute(node->attributes, name);
}

}  // namespace

extern "C" const char *upnp_cp_jpeg_profile(unsigned int width, unsigned int height) {
  if (width == 0 || height == 0) return nullptr;
  if (width <= 160 && height <= 160) return "JPEG_TN";
  if (width <= 640 && height <= 480) return "JPEG_SM";
  if (width <= 1024 && height <= 768) return "JPEG_MED";
  return "JPEG_LRG";  // up to 4096x4096 and, lacking a larger profile, above
}

extern "C" int upnp_cp_model_needs_dlna_fixes(const char *model_name) {
  return model_name != nullptr && std::strncmp(model_name, "Samsung DTV", 11) == 0;
}

extern "C" int fixUpResElem(upnp_xml_node *res) {
  if (res == nullptr) return 0;
  upnp_xml_attribute *pi = attribute(res, "protocolInfo");
  if (pi == nullptr || pi->value == nullptr) return 0;
  const char *text = pi->value;
  bool has_flags = std::strstr(text, "_FLAGS=") != nullptr;
  bool jpeg_without_profile = std::strstr(text, ":image/jpeg:") != nullptr && std::strstr(text, "DLNA.ORG_PN=") == nullptr;
  if (has_flags && !jpeg_without_profile) return 0;
  const char *fourth = fourth_field(text);
  if (fourth == nullptr) return 0;  // not a protocolInfo: left alone
  const char *profile = nullptr;
  if (jpeg_without_profile) {
    unsigned width = 0, height = 0;
    if (read_resolution(upnp_xml_find_attribute_value(res, "resolution"), &width, &height)) {
      profile = upnp_cp_jpeg_profile(width, height);
    }
  }
  // Flags present and no profile to add: nothing would change but a stray
  // ';', so the text stays as it is.
  if (has_flags && profile == nullptr) return 0;

  upnp_string *out = upnp_string_add(nullptr, text, static_cast<uint32_t>(fourth - text));
  size_t fourth_length = std::strlen(fourth);
  bool empty_fourth = fourth_length == 0 || std::strcmp(fourth, "*") == 0;
  if (out != nullptr && !empty_fourth) {
    out = upnp_string_concat(out, fourth);
    if (out != nullptr && fourth[fourth_length - 1] != ';') out = upnp_string_append(out, ';');
  }
  if (out != nullptr && profile != nullptr) {
    out = upnp_string_sprintf(out, "DLNA.ORG_PN=%s%s", profile, has_flags ? "" : ";");
  }
  if (out != nullptr && !has_flags) {
    out = upnp_string_concat(out, std::strstr(text, "_OP=") != nullptr
                                      ? "DLNA.ORG_FLAGS=" UPNP_CP_DEFAULT_DLNA_FLAGS
                                      : "DLNA.ORG_OP=01;DLNA.ORG_FLAGS=" UPNP_CP_DEFAULT_DLNA_FLAGS);
  }
  int result = out != nullptr && upnp_xml_set_attribute_value(pi, upnp_string_get_cstring(out)) == 0 ? 1 : -1;
  upnp_string_free(out);
  return result;
}

extern "C" int fixDuration(upnp_xml_node *res) {
  if (res == nullptr) return 0;
  const char *pi = upnp_xml_find_attribute_value(res, "protocolInfo");
  if (pi != nullptr && std::strstr(pi, "image/") != nullptr) return 0;
  // An empty duration counts as none: the compliant writer would leave it
  // out and the renderer would see no duration at all.
  upnp_xml_attribute *duration = attribute(res, "duration");
  if (duration != nullptr && duration->value != nullptr && duration->value[0] != '\0') return 0;
  upnp_log_impl(LOG_LEVEL_INFO, LOG_SYSTEM, __func__, "Adding duration for protocol info %s", pi ? pi : "");
  if (duration != nullptr) return upnp_xml_set_attribute_value(duration, UPNP_CP_DEFAULT_DURATION) == 0 ? 1 : -1;
  return upnp_xml_add_attribute(res, "duration", UPNP_CP_DEFAULT_DURATION) != nullptr ? 1 : -1;
}
