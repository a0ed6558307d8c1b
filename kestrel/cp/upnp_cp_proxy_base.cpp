// The proxy base URLs: the application's (set through the server side's
// proxy switch) and the automatic one (the chosen proxy server's), kept under
// the control point's lock.
#include <cstring>
#include <string>
#include <strings.h>

#include "base/upnp_log.h"
#include "base/upnp_mem.h"
#include "cp/upnp_cp.h"
#include "cp/upnp_cp_avt_uri.h"

namespace {

// Guarded by the control point's lock. They outlive a stop and start of the
// control point: whoever set them clears them.
std::string g_application_base;
std::string g_automatic_base;

}  // namespace

extern "C" int upnp_cp_set_proxy_base(const char *url, int kind) {
  if (kind != UPNP_CP_PROXY_APPLICATION && kind != UPNP_CP_PROXY_AUTOMATIC) return UPNP_CP_INVALID_PARAMETER;
  bool clear = url == nullptr || url[0] == '\0';
  if (!clear && (strncasecmp(url, "http://", 7) != 0 || url[7] == '\0')) return UPNP_CP_INVALID_PARAMETER;
  if (!upnp_cp_lock_section()) return UPNP_CP_GOING_DOWN;
  std::string &slot = kind == UPNP_CP_PROXY_APPLICATION ? g_application_base : g_automatic_base;
  slot = clear ? std::string() : std::string(url);
  upnp_cp_unlock_section();
  upnp_log_impl(LOG_LEVEL_INFO, LOG_SYSTEM, __func__, "%s proxy base URL %s",
                kind == UPNP_CP_PROXY_APPLICATION ? "Application" : "Automatic", clear ? "cleared" : url);
  return UPNP_CP_OK;
}

extern "C" int upnp_cp_get_proxy_base(int kind, char **base_out) {
  if (base_out == nullptr) return UPNP_CP_INVALID_PARAMETER;
  *base_out = nullptr;
  if (kind < UPNP_CP_PROXY_APPLICATION || kind > UPNP_CP_PROXY_ANY) return UPNP_CP_INVALID_PARAMETER;
  if (!upnp_cp_lock_section()) return UPNP_CP_NOT_FOUND;
  const std::string *base = nullptr;
  if (kind != UPNP_CP_PROXY_AUTOMATIC && !g_application_base.empty()) base = &g_application_base;
  if (base == nullptr && kind != UPNP_CP_PROXY_APPLICATION && !g_automatic_base.empty()) base = &g_automatic_base;
  int result = UPNP_CP_NOT_FOUND;
  if (base != nullptr) {
    *base_out = upnp_strdup_impl(base->c_str());
    result = *base_out != nullptr ? UPNP_CP_OK : UPNP_CP_OUT_OF_MEMORY;
  }
  upnp_cp_unlock_section();
  return result;
}
