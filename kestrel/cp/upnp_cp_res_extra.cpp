// The renderer's sink list: what it reports plus the entries that known
// devices play without listing them (piDeviceTable and the derived WAV and
// Matroska entries).
#include <cstring>

#include "base/upnp_log.h"
#include "base/upnp_mem.h"
#include "base/upnp_string.h"
#include "cp/upnp_cp.h"
#include "cp/upnp_cp_res.h"
#include "cp/upnp_soap.h"

namespace {

constexpr const char *kWavEntries = "http-get:*:audio/x-wav:*,http-get:*:audio/wav:*,http-get:*:audio/wave:*";
constexpr const char *kFlacWavEntries =
    "http-get:*:audio/x-flac:*,http-get:*:audio/x-wav:*,http-get:*:audio/wav:*,http-get:*:audio/wave:*";
constexpr const char *kWdTvEntries =
    "http-get:*:audio/mp4:*,http-get:*:audio/vnd.dlna.adts:*,http-get:*:audio/x-aac:*,http-get:*:video/3gpp:*,"
    "http-get:*:audio/x-flac:*,http-get:*:video/x-matroska:*,http-get:*:video/quicktime:*,http-get:*:audio/L16:*";

struct DeviceEntry {
  const char *model_name;
  const char *extra;
};

// Renderers (by exact modelName) that play more than they report.
const DeviceEntry piDeviceTable[] = {
    {"NP1100", kWavEntries},
    {"AVR-3808", kFlacWavEntries},
    {"S-32/52", kFlacWavEntries},
    {"KiSS", "http-get:*:image/jpeg:*"},
    {"NOXON iRadio 2", kWavEntries},
    {"WD TV HD Live", kWdTvEntries},
    {"WD TV Live Plus", kWdTvEntries},
    {"WD TV Live Hub", kWdTvEntries},
};

upnp_string *join(upnp_string *s, const char *text) {
  if (s == nullptr) return upnp_string_create(text, 256);
  s = upnp_string_concat(s, ",");
  return upnp_string_concat(s, text);
}

}  // namespace

extern "C" int upnp_cp_get_extra_ProtocolInfo_for_model(const char *model_name, const char *reported,
                                                         char **extra_out) {
  if (extra_out == nullptr) return UPNP_CP_INVALID_PARAMETER;
  *extra_out = nullptr;
  const char *list = reported != nullptr ? reported : "";
  upnp_string *extra = nullptr;
  bool failed = false;
  if (model_name != nullptr) {
    for (const DeviceEntry &entry : piDeviceTable) {
      if (std::strcmp(entry.model_name, model_name) == 0) {
        extra = upnp_string_create(entry.extra, 512);
        failed = extra == nullptr;
        break;
      }
    }
    if (extra == nullptr && !failed && std::strcmp(model_name, "Thomson DLNA DMR") == 0 && *list != '\0') {
      extra = upnp_string_create(list, 512);
      extra = extra ? upnp_string_replace(extra, "*:*:", "http-get:*:") : nullptr;
      failed = extra == nullptr;
    }
  }
  if (!failed && std::strstr(list, "L16") != nullptr && std::strstr(list, "wav") == nullptr) {
    extra = join(extra, kWavEntries);
    failed = extra == nullptr;
  }
  if (!failed && std::strstr(list, "video/x-mkv") != nullptr && std::strstr(list, "video/x-matroska") == nullptr) {
    extra = join(extra, "http-get:*:video/x-matroska:*");
    failed = extra == nullptr;
  }
  if (failed) {
    upnp_string_free(extra);
    return UPNP_CP_OUT_OF_MEMORY;
  }
  if (extra == nullptr) return UPNP_CP_NOT_FOUND;
  *extra_out = upnp_string_copy_cstring(extra);
  upnp_string_free(extra);
  return *extra_out != nullptr ? UPNP_CP_OK : UPNP_CP_OUT_OF_MEMORY;
}

extern "C" int upnp_cp_get_extra_ProtocolInfo(int index, const char *reported, char **extra_out) {
  if (extra_out == nullptr) return UPNP_CP_INVALID_PARAMETER;
  *extra_out = nullptr;
  char model[256];
  bool known = upnp_control_get_device_attribute(index, "modelName", model, sizeof model, UPNP_CP_KIND_RENDERER) ==
               UPNP_CP_OK;
  return upnp_cp_get_extra_ProtocolInfo_for_model(known ? model : nullptr, reported, extra_out);
}

extern "C" int upnp_cp_get_protocolinfo(int index, char **list_out) {
  if (list_out == nullptr) return UPNP_CP_INVALID_PARAMETER;
  *list_out = nullptr;
  if (index == UPNP_CP_LOCAL_RENDERER_INDEX) {
    // The host's own renderer is not part of this build; it has no list.
    upnp_log_impl(LOG_LEVEL_INFO, LOG_SYSTEM, __func__, "no local renderer for index %d", index);
    return UPNP_CP_NOT_FOUND;
  }
  // The table's list: cached, else asked of the renderer (with the extra
  // entries appended by upnp_get_NonCachedProtocolInfo).
  return upnp_get_ProtocolInfo(index, UPNP_CP_KIND_RENDERER, list_out);
}
