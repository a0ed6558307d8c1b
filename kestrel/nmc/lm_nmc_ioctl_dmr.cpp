// The renderer ioctl rows of the notification modes: how renderer updates
// (keywords or XML) and renderer list changes (UDN or XML) reach contexts.
#include <cstring>

#include "base/upnp_log.h"
#include "nmc/lm_nmc_internal.h"
#include "nmc/lm_nmc_ioctl.h"
#include "nmc/lm_nmc_notify.h"

namespace {

lm_nmc_result_t set_update_mode(uint32_t, const char *argument, uint32_t, char *) {
  if (std::strcmp(argument, "DMRXmlNotification") == 0) {
    nmc_set_update_mode(NMC_MODE_XML);
  } else if (std::strcmp(argument, "DMRKeywordNotification") == 0) {
    nmc_set_update_mode(NMC_MODE_KEYWORD);
  } else {
    return LM_NMC_INVALID_PARAMETER;
  }
  return LM_NMC_OK;
}

lm_nmc_result_t get_update_mode(uint32_t, const char *, uint32_t size, char *out) {
  int mode = nmc_update_mode();
  if (mode != NMC_MODE_KEYWORD && mode != NMC_MODE_XML) {
    upnp_log_impl(LOG_LEVEL_ERROR, LOG_SYSTEM, "get_update_mode", "NMC: Invalid internal update mode: %d", mode);
    return LM_NMC_NO_VALUE;
  }
  return nmc_out_text(mode == NMC_MODE_XML ? "DMRXmlNotification" : "DMRKeywordNotification", size, out);
}

lm_nmc_result_t set_network_mode(uint32_t, const char *argument, uint32_t, char *) {
  if (std::strcmp(argument, "DMRXmlNotification") == 0) {
    nmc_set_list_mode(NMC_MODE_XML);
  } else if (std::strcmp(argument, "DMRBookmarkNotification") == 0) {
    nmc_set_list_mode(NMC_MODE_KEYWORD);
  } else {
    return LM_NMC_INVALID_PARAMETER;
  }
  return LM_NMC_OK;
}

lm_nmc_result_t get_network_mode(uint32_t, const char *, uint32_t size, char *out) {
  int mode = nmc_list_mode();
  if (mode != NMC_MODE_KEYWORD && mode != NMC_MODE_XML) {
    upnp_log_impl(LOG_LEVEL_ERROR, LOG_SYSTEM, "get_network_mode", "NMC: Invalid internal network mode: %d", mode);
    return LM_NMC_NO_VALUE;
  }
  return nmc_out_text(mode == NMC_MODE_XML ? "DMRXmlNotification" : "DMRBookmarkNotification", size, out);
}

}  // namespace

const nmc_ioctl_row nmc_renderer_ioctls[] = {
    {"DMRSetUpdateNotification", 4098, true, set_update_mode},
    {"DMRGetUpdateNotification", 4099, false, get_update_mode},
    {"DMRSetNetworkNotification", 4100, true, set_network_mode},
    {"DMRGetNetworkNotification", 4101, false, get_network_mode},
    {nullptr, 0, false, nullptr},
};
