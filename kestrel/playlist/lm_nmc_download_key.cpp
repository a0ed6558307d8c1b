// Downloads by metadata key: the resource URL (and its protocolInfo) of the
// object under a server, renderer or queue context's cursor, then the
// download of that URL (lm_nmc_download.cpp).
#include <strings.h>

#include <cstring>

#include "base/upnp_log.h"
#include "base/upnp_mem.h"
#include "nmc/lm_dmrcp.h"
#include "nmc/lm_dmscp.h"
#include "nmc/lm_queue.h"
#include "playlist/lm_nmc_download.h"

namespace {

bool begins_with_http(const char *text) { return strncasecmp(text, "http://", 7) == 0; }

}  // namespace

extern "C" KESTREL_API lm_nmc_result_t lm_nmc_download(uint32_t context, void *user_data, lm_nmc_metadata_query query,
                                                       const char *key, uint32_t occurrence, uint32_t buffer_size,
                                                       lm_nmc_download_callback callback) {
  if (key == nullptr || key[0] == '\0' || callback == nullptr || query == nullptr) return LM_NMC_INVALID_PARAMETER;
  // A URL in any case of its scheme is downloaded as it is (the scheme is
  // lower-cased on the way).
  if (begins_with_http(key)) return lm_nmc_download_uri(context, user_data, key, nullptr, buffer_size, callback);

  char *url = static_cast<char *>(upnp_malloc_impl(LM_NMC_DOWNLOAD_MAX_VALUE));
  char *protocol_info = static_cast<char *>(upnp_malloc_impl(LM_NMC_DOWNLOAD_MAX_VALUE));
  lm_nmc_result_t result = LM_NMC_OUT_OF_MEMORY;
  if (url != nullptr && protocol_info != nullptr) {
    result = query(context, key, occurrence, LM_NMC_DOWNLOAD_MAX_VALUE, url);
    if (result == LM_NMC_OK && !begins_with_http(url)) {
      upnp_log_impl(LOG_LEVEL_WARNING, LOG_SYSTEM, "lm_nmc_download", "NMC: %s is not an HTTP resource: %s", key,
                    url);
      result = LM_NMC_INVALID_PARAMETER;
    }
    if (result == LM_NMC_OK) {
      // Server contexts name the resource's properties; renderer and queue
      // contexts read the DIDL-Lite element itself.
      result = query(context, "Resource@ProtocolInfo", occurrence, LM_NMC_DOWNLOAD_MAX_VALUE, protocol_info);
      if (result != LM_NMC_OK)
        result = query(context, "res@protocolInfo", occurrence, LM_NMC_DOWNLOAD_MAX_VALUE, protocol_info);
    }
    if (result == LM_NMC_OK) {
      upnp_log_impl(LOG_LEVEL_INFO, LOG_SYSTEM, "lm_nmc_download", "NMC: Downloading %s (%s)", url, protocol_info);
      result = lm_nmc_download_uri(context, user_data, url, protocol_info, buffer_size, callback);
    }
  }
  upnp_free_impl(url);
  upnp_free_impl(protocol_info);
  return result;
}

extern "C" KESTREL_API lm_nmc_result_t lm_dmscp_download(uint32_t context, void *user_data, const char *key,
                                                         uint32_t occurrence, uint32_t buffer_size,
                                                         lm_nmc_download_callback callback) {
  return lm_nmc_download(context, user_data, lm_dmscp_extract_metadata, key, occurrence, buffer_size, callback);
}

extern "C" KESTREL_API lm_nmc_result_t lm_dmrcp_download(uint32_t context, void *user_data, const char *key,
                                                         uint32_t occurrence, uint32_t buffer_size,
                                                         lm_nmc_download_callback callback) {
  return lm_nmc_download(context, user_data, lm_dmrcp_extract_metadata, key, occurrence, buffer_size, callback);
}

extern "C" KESTREL_API lm_nmc_result_t lm_queue_download(uint32_t context, void *user_data, const char *key,
                                                         uint32_t occurrence, uint32_t buffer_size,
                                                         lm_nmc_download_callback callback) {
  return lm_nmc_download(context, user_data, lm_queue_extract_metadata, key, occurrence, buffer_size, callback);
}
