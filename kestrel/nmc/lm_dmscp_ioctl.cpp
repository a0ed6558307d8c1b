// The server ioctl rows: page sizes, the protocol information of an upload,
// the application's proxy switch and the media type of the current level.
#include <cstdlib>
#include <cstring>

#include "base/upnp_log.h"
#include "base/upnp_mem.h"
#include "cp/upnp_cp_avt_uri.h"
#include "http/http_mime.h"
#include "nmc/lm_dmscp_internal.h"
#include "nmc/lm_nmc_ioctl.h"

namespace {

lm_nmc_result_t set_item_cache(uint32_t context, const char *argument, uint32_t, char *) {
  if (argument[0] < '0' || argument[0] > '9') return LM_NMC_INVALID_PARAMETER;
  unsigned long long requested = std::strtoull(argument, nullptr, 10);
  if (requested < 1 || requested > NMC_DMS_MAX_PAGE) {
    upnp_log_impl(LOG_LEVEL_WARNING, LOG_SYSTEM, "set_item_cache", "Number of requested items must be in range [1-%u] but is %u",
                  NMC_DMS_MAX_PAGE, static_cast<unsigned>(requested > 0xFFFFFFFFull ? 0xFFFFFFFFull : requested));
    return LM_NMC_INVALID_PARAMETER;
  }
  const uint32_t size = static_cast<uint32_t>(requested);
  if (std::strstr(argument, "global") != nullptr) {
    nmc_dms_set_global_page_size(size);
    return LM_NMC_OK;
  }
  return nmc_dms_with_context(context, [size](nmc_dms_state &state) {
    state.page_size = size;
    return LM_NMC_OK;
  });
}

lm_nmc_result_t get_item_cache(uint32_t context, const char *argument, uint32_t size, char *out) {
  if (std::strstr(argument, "global") != nullptr) return nmc_out_number(nmc_dms_global_page_size(), size, out);
  return nmc_dms_with_context(context,
                              [size, out](nmc_dms_state &state) { return nmc_out_number(state.page_size, size, out); });
}

lm_nmc_result_t upload_protocol_info(uint32_t, const char *argument, uint32_t size, char *out) {
  const char *extension = HTTP_get_extension(argument);
  const char *mime = extension != nullptr ? HTTP_get_mime_type(nullptr, extension) : nullptr;
  if (mime == nullptr || std::strcmp(mime, HTTP_MIME_FALLBACK) == 0) return LM_NMC_NOT_FOUND;
  std::string text = std::string("*:*:") + mime + ":*";
  return nmc_out_text(text.c_str(), size, out);
}

lm_nmc_result_t enable_proxy(uint32_t context, const char *, uint32_t, char *) {
  return nmc_dms_with_context(context, [](nmc_dms_state &state) {
    if (state.top().type == NMC_LEVEL_SERVERS) {
      upnp_xml_node *object = nullptr;
      nmc_dms_current(state, &object);
    }
    nmc_dms_server server;
    if (state.server < 0 || !nmc_dms_server_get(state.server, &server)) return 3u;
    std::string url = nmc_dms_info_value(server.info, "baseURL");
    if (url.empty()) return LM_NMC_NOT_FOUND;
    if (url.size() >= 1024) return LM_NMC_BUFFER_TOO_SMALL;
    return static_cast<lm_nmc_result_t>(upnp_cp_set_proxy_base(url.c_str(), UPNP_CP_PROXY_APPLICATION));
  });
}

lm_nmc_result_t disable_proxy(uint32_t, const char *, uint32_t, char *) {
  return static_cast<lm_nmc_result_t>(upnp_cp_set_proxy_base(nullptr, UPNP_CP_PROXY_APPLICATION));
}

lm_nmc_result_t level_media_type(uint32_t context, const char *, uint32_t size, char *out) {
  return nmc_dms_with_context(context, [size, out](nmc_dms_state &state) {
    const char *type = "Unknown";
    nmc_dms_server server;
    if (state.server >= 0 && nmc_dms_server_get(state.server, &server) && (server.kind == 1 || server.kind == 2)) {
      std::string id = state.top().object_id;
      if (id.compare(0, 2, "0$") == 0) id.erase(0, 2);
      if (!id.empty() && (id.size() == 1 || id[1] == '$')) {
        type = id[0] == '1' ? "Audio" : id[0] == '2' ? "Image" : id[0] == '3' ? "Video" : "Unknown";
      }
    }
    return nmc_out_text(type, size, out);
  });
}

}  // namespace

const nmc_ioctl_row nmc_server_ioctls[] = {
    {"SetDMSItemCache", 8193, true, set_item_cache},
    {"GetDMSItemCache", 8194, false, get_item_cache},
    {"GetDMSUploadProtocolInfo", 8195, true, upload_protocol_info},
    {"EnableDMSProxy", 8196, false, enable_proxy},
    {"DisableDMSProxy", 8197, false, disable_proxy},
    {"GetLevelMediaType", 8198, false, level_media_type},
    {nullptr, 0, false, nullptr},
};
