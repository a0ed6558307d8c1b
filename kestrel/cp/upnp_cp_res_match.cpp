// Matching one `res` against a renderer's sink list (getMatch) and placing it
// into the candidate slots of the object being examined.
#include <cstring>
#include <string>
#include <string_view>

#include "base/upnp_log.h"
#include "cp/upnp_cp.h"
#include "cp/upnp_cp_res.h"
#include "cp/upnp_cp_res_internal.h"

namespace {

constexpr const char *kDtcpPrefix = "application/x-dtcp1";
// Highest sampling rate and channel count read from a protocolInfo; larger
// numbers are treated as unreadable.
constexpr unsigned long kMaxRate = 10000000ul;
constexpr unsigned long kMaxChannels = 1024ul;

struct Match {
  bool best = false;
  bool ok = false;
};

bool occurs(const char *list, const char *begin, size_t length) {
  if (length == 0) return false;  // an empty value would match anything
  return std::string_view(list).find(std::string_view(begin, length)) != std::string_view::npos;
}

// Reads "rate=" and "channels=" of one LPCM text.
// rate 0 / channels 0: absent or unreadable.
void lpcm_values(const std::string &text, unsigned long *rate, unsigned long *channels) {
  *rate = 0;
  *channels = 0;
  unsigned long value = 0;
  const char *r = res_find_param(text.c_str(), "rate=");
  if (r != nullptr && res_parse_decimal(r, kMaxRate, &value, nullptr)) *rate = value;
  const char *c = res_find_param(text.c_str(), "channels=");
  if (c != nullptr && res_parse_decimal(c, kMaxChannels, &value, nullptr)) *channels = value;
}

bool is_lpcm(const char *text) {
  return std::strstr(text, "DLNA.ORG_PN=LPCM") != nullptr || std::strstr(text, "audio/L16") != nullptr;
}

// The LPCM rule; false when `text` carries no LPCM entry (the rule does not
// apply), true when it decided (match filled in).
bool lpcm_rule(const char *list, const char *text, Match *match) {
  if (!is_lpcm(text)) return false;
  unsigned long rate = 0;
  unsigned long channels = 0;
  lpcm_values(text, &rate, &channels);
  if (channels == 0) channels = 1;
  if (rate == 0) {
    match->ok = std::strstr(list, ":foo:") != nullptr;
    return true;
  }
  const char *entry = list;
  while (*entry != '\0') {
    size_t length = std::strcspn(entry, ",");
    std::string one(entry, length);
    if (is_lpcm(one.c_str())) {
      unsigned long entry_rate = 0;
      unsigned long entry_channels = 0;
      lpcm_values(one, &entry_rate, &entry_channels);
      if ((entry_rate == 0 || entry_rate == rate) && (entry_channels == 0 || entry_channels == channels)) {
        match->ok = true;
        if (channels > 1 && rate >= 44100) match->best = true;
        if (match->best) break;
      }
    }
    entry += length;
    if (*entry == ',') ++entry;
  }
  return true;
}

// The profile rule, then the three-field rule.
void profile_rule(const char *list, const char *protocol_info, Match *match) {
  const char *profile = nullptr;
  size_t length = res_profile_span(protocol_info, &profile);
  if (profile != nullptr && occurs(list, profile, length)) {
    match->best = true;
    return;
  }
  const char *colon = std::strchr(protocol_info, ':');
  colon = colon ? std::strchr(colon + 1, ':') : nullptr;
  if (colon == nullptr) return;  // fewer than three fields
  const char *third_end = std::strchr(colon + 1, ':');
  size_t three = third_end ? static_cast<size_t>(third_end - protocol_info) : std::strlen(protocol_info);
  match->ok = occurs(list, protocol_info, three);
}

void dtcp_rule(const char *list, const char *protocol_info, Match *match) {
  const char *prefix = std::strstr(protocol_info, kDtcpPrefix);
  size_t prefix_length = static_cast<size_t>(prefix - protocol_info) + std::strlen(kDtcpPrefix);
  if (!occurs(list, protocol_info, prefix_length)) return;
  const char *rest = protocol_info + prefix_length;
  if (*rest != '\0') ++rest;  // the separator after the prefix
  const char *profile = nullptr;
  size_t length = res_profile_span(rest, &profile);
  if (profile != nullptr && occurs(list, profile, length)) {
    match->best = true;
    return;
  }
  const char *format = std::strstr(rest, "CONTENTFORMAT=\"");
  if (format != nullptr) {
    format += std::strlen("CONTENTFORMAT=\"");
    const char *quote = std::strchr(format, '"');
    size_t format_length = quote ? static_cast<size_t>(quote - format) : std::strlen(format);
    if (occurs(list, format, format_length)) {
      match->ok = true;
      return;
    }
  }
  lpcm_rule(list, rest, match);
}

uint64_t pixels_of(const upnp_xml_node *res) {
  unsigned int w = 0, h = 0;
  if (!upnp_cp_parse_resolution(upnp_xml_find_attribute_value(const_cast<upnp_xml_node *>(res), "resolution"), &w,
                                &h))
    return 0;
  return static_cast<uint64_t>(w) * h;
}

// Keeps the res with the most pixels in a sized slot.
void place_sized(upnp_xml_node **slot, uint64_t *slot_pixels, upnp_xml_node *res, const char *what) {
  uint64_t pixels = pixels_of(res);
  if (pixels > 0 && pixels > *slot_pixels) {
    *slot = res;
    *slot_pixels = pixels;
    const char *resolution = upnp_xml_find_attribute_value(res, "resolution");
    upnp_log_impl(LOG_LEVEL_DEBUG, LOG_SYSTEM, "getMatch", "Set as larger/first %s: %s", what, resolution);
  } else if (*slot == nullptr) {
    *slot = res;
    *slot_pixels = pixels;
    upnp_log_impl(LOG_LEVEL_DEBUG, LOG_SYSTEM, "getMatch", "Set as %s", what);
  }
}

}  // namespace

extern "C" int getMatch(const char *renderer_list, const char *protocol_info, const char *type,
                        unsigned int screen_width, unsigned int screen_height, upnp_xml_node *res,
                        upnp_cp_res_slots *slots, int *is_best_out) {
  if (is_best_out != nullptr) *is_best_out = 0;
  if (protocol_info == nullptr || res == nullptr || slots == nullptr) return 0;
  bool image = std::strstr(protocol_info, "image/") != nullptr;
  Match match;
  if (renderer_list == nullptr) {
    match.ok = true;
  } else {
    if (!slots->renderer_logged) {
      upnp_log_impl(LOG_LEVEL_DEBUG, LOG_SYSTEM, __func__, "renderer protocol info: %s", renderer_list);
      slots->renderer_logged = 1;
    }
    if (std::strstr(protocol_info, kDtcpPrefix) != nullptr) {
      dtcp_rule(renderer_list, protocol_info, &match);
    } else if (image || !lpcm_rule(renderer_list, protocol_info, &match)) {
      profile_rule(renderer_list, protocol_info, &match);
    }
  }
  if (match.best) match.ok = true;

  // Screen rule.
  bool exact = false;
  unsigned int width = 0, height = 0;
  if (screen_width > 0 && screen_height > 0 &&
      upnp_cp_parse_resolution(upnp_xml_find_attribute_value(res, "resolution"), &width, &height)) {
    upnp_log_impl(LOG_LEVEL_DEBUG, LOG_SYSTEM, __func__, "Res resolution %dx%d vs screen resolution %ux%u",
                  static_cast<int>(width), static_cast<int>(height), screen_width, screen_height);
    if (width <= screen_width && height <= screen_height) {
      exact = image && match.ok && (width == screen_width || height == screen_height);
    } else if (!image) {
      match.best = match.ok = false;
    } else {
      match.best = false;
    }
  }
  upnp_log_impl(LOG_LEVEL_DEBUG, LOG_SYSTEM, __func__, "res protocol info: %s\n--> isBest: %d  -  isOK: %d",
                protocol_info, match.best ? 1 : 0, match.ok ? 1 : 0);
  if (!match.ok) return 0;

  bool transcoded = std::strstr(protocol_info, "DLNA.ORG_CI=1") != nullptr;
  bool wrong_type = type != nullptr && *type != '\0' && std::strstr(protocol_info, type) == nullptr;
  bool thumbnail = false;
  if (image && !exact) {
    thumbnail = std::strstr(protocol_info, "JPEG_TN") != nullptr || std::strstr(protocol_info, "JPEG_SM") != nullptr ||
                std::strstr(protocol_info, "PNG_TN") != nullptr || std::strstr(protocol_info, "PNG_SM") != nullptr;
    if (!thumbnail && upnp_cp_parse_resolution(upnp_xml_find_attribute_value(res, "resolution"), &width, &height))
      thumbnail = !(width >= 641 && height >= 481);
  }
  upnp_log_impl(LOG_LEVEL_DEBUG, LOG_SYSTEM, __func__, "transcoded: %d - thumbnail: %d - wrong type: %d",
                transcoded ? 1 : 0, thumbnail ? 1 : 0, wrong_type ? 1 : 0);
  if (wrong_type) {
    if (slots->wrong_type == nullptr) {
      slots->wrong_type = res;
      upnp_log_impl(LOG_LEVEL_DEBUG, LOG_SYSTEM, __func__, "Set as wrong type");
    }
  } else if (exact) {
    slots->best = res;
    if (is_best_out != nullptr) *is_best_out = 1;
    upnp_log_impl(LOG_LEVEL_DEBUG, LOG_SYSTEM, __func__, "Set as best");
  } else if (thumbnail) {
    place_sized(&slots->thumbnail, &slots->thumbnail_pixels, res, "thumbnail");
  } else if (!transcoded) {
    if (match.best) {
      slots->best = res;
      if (is_best_out != nullptr) *is_best_out = 1;
      upnp_log_impl(LOG_LEVEL_DEBUG, LOG_SYSTEM, __func__, "Set as best");
    } else if (slots->ok == nullptr) {
      slots->ok = res;
      upnp_log_impl(LOG_LEVEL_DEBUG, LOG_SYSTEM, __func__, "Set as OK");
    }
  } else {
    place_sized(&slots->transcoded, &slots->transcoded_pixels, res, "transcoded");
  }
  return 1;
}

extern "C" const char *strClassToTypeTable(const char *upnp_class) {
  struct Entry {
    const char *prefix;
    const char *type;
  };
  static const Entry kTable[] = {
      {"object.item.audioItem", ":audio/"},
      {"object.item.imageItem", ":image/"},
      {"object.item.videoItem", ":video/"},
  };
  if (upnp_class == nullptr) return nullptr;
  for (const Entry &e : kTable) {
    if (std::strncmp(upnp_class, e.prefix, std::strlen(e.prefix)) == 0) return e.type;
  }
  return nullptr;
}
