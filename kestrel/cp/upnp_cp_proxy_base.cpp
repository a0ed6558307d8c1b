// The proxy base URLs: the application's (set through the server side's
// proxy switch) and the automatic one (the chosen proxy server's). They are
// settings of the application rather than state of the device table, so they
// are kept apart from the control point's lifetime.
#include <cstring>
#include <mutex>
#include <new>
#include <string>
#include <strings.h>

#include "base/upnp_log.h"
#include "base/upnp_mem.h"
#include "cp/upnp_cp.h"
#include "cp/upnp_cp_avt_uri.h"

namespace {

// The bases outlive a stop and start of the control point, and may be set
// while it is stopped (before a start, or between a stop and the next
// start): whoever set them clears them. The control point's lock exists only
// while it runs, so they have a lock of their own that always exists; it is
// held only to copy a text in or out (no other lock, no logging).
std::mutex g_bases_lock;
std::string g_application_base;  // under g_bases_lock
std::string g_automatic_base;    // under g_bases_lock

}  // namespace

extern "C" int upnp_cp_set_proxy_base(const char *url, int kind) {
  if (kind != UPNP_CP_PROXY_APPLICATION && kind != UPNP_CP_PROXY_AUTOMATIC) return UPNP_CP_INVALID_PARAMETER;
  bool clear = url == nullptr || url[0] == '\0';
  if (!clear && (strncasecmp(url, "http://", 7) != 0 || url[7] == '\0')) return UPNP_CP_INVALID_PARAMETER;
  try {
    std::string value = clear ? std::string() : std::string(url);
    std::lock_guard<std::mutex> hold(g_bases_lock);
    (kind == UPNP_CP_PROXY_APPLICATION ? g_application_base : g_automatic_base).swap(value);
  } catch (const std::bad_alloc &) {
    return UPNP_CP_OUT_OF_MEMORY;
  }
  upnp_log_impl(LOG_LEVEL_INFO, LOG_SYSTEM, __func__, "%s proxy base URL %s",
                kind == UPNP_CP_PROXY_APPLICATION ? "Application" : "Automatic", clear ? "cleared" : url);
  return UPNP_CP_OK;
}

extern "C" int upnp_cp_get_proxy_base(int kind, char **base_out) {
  if (base_out == nullptr) return UPNP_CP_INVALID_PARAMETER;
  *base_out = nullptr;
  if (kind < UPNP_CP_PROXY_APPLICATION || kind > UPNP_CP_PROXY_ANY) return UPNP_CP_INVALID_PARAMETER;
  std::string base;
  try {
    std::lock_guard<std::mutex> hold(g_bases_lock);
    if (kind != UPNP_CP_PROXY_AUTOMATIC) base = g_application_base;
    if (base.empty() && kind != UPNP_CP_PROXY_APPLICATION) base = g_automatic_base;
  } catch (const std::bad_alloc &) {
    return UPNP_CP_OUT_OF_MEMORY;
  }
  if (base.empty()) return UPNP_CP_NOT_FOUND;
  *base_out = upnp_strdup_impl(base.c_str());
  return *base_out != nullptr ? UPNP_CP_OK : UPNP_CP_OUT_OF_MEMORY;
}
