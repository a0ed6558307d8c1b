// Switching the web API on and registering it with the HTTP server and the
// controller's device-list callbacks.
#include <atomic>
#include <cstdio>

#include "base/upnp_log.h"
#include "nmc/lm_nmc_internal.h"
#include "ssdp/upnp_ssdp_interfaces.h"
#include "webapi/lm_nmc_webapi.h"
#include "webapi/webapi_internal.h"
#include "webapi/webapi_across_progress.h"
#include "webapi/webapi_rss.h"

namespace {

// Set by the host at any time, read at start-up; registration runs at most
// once between a start-up and the exit.
std::atomic<int> g_bWebApiEnabled{0};
std::atomic<int> g_bWebApiRegistered{0};
// The contexts whose callbacks fill the event log.
uint32_t g_server_context = 0;
uint32_t g_renderer_context = 0;
bool g_contexts = false;

}  // namespace

void lm_nmc_http_rpc_init(void) {
  if (!upnp_http_handler_is_registered(rpcRequestHandler)) {
    // Bodies are read by the handler: uploads go to disk, not to memory.
    upnp_http_register_handler(rpcRequestHandler, 1u | 4u, "/nmc/rpc", 0, 1);
  }
  webapi_event_log_reset();
  if (!g_contexts && lm_dmscp_create_context(&g_server_context) == LM_NMC_OK) {
    if (lm_dmrcp_create_context(&g_renderer_context) == LM_NMC_OK) {
      lm_dmscp_register_callback(g_server_context, serverListEventCallback);
      lm_dmrcp_register_callback(g_renderer_context, rendererListEventCallback);
      g_contexts = true;
    } else {
      lm_dmscp_delete_context(g_server_context);
    }
  }
}

void lm_nmc_http_rpc_release(void) {
  g_contexts = false;  // the controller releases its contexts at exit
  webapi_event_log_release();
  webapi_progress_clear();  // the searches held for the page's later pages
}

void registerWebApi(void) {
  if (!g_bWebApiEnabled.load() || g_bWebApiRegistered.load()) return;
  // Registering creates controller contexts, which would start a controller
  // that is not running: it waits for the start-up.
  if (nmc_run_state() != LM_NMC_STATE_RUNNING) return;
  if (g_bWebApiRegistered.exchange(1)) return;
  lm_nmc_http_rpc_init();
  lm_nmc_http_rss_init();
  upnp_log_impl(LOG_LEVEL_INFO, LOG_SYSTEM, __func__, "web API registered on /nmc/rpc");
}

void lm_nmc_web_api_exit(void) {
  if (!g_bWebApiRegistered.exchange(0)) return;
  lm_nmc_http_rpc_release();
  lm_nmc_http_rss_release();
}

extern "C" KESTREL_API void lm_nmc_enable_web_api(int flag) {
  g_bWebApiEnabled.store(flag ? 1 : 0);
  registerWebApi();
}

extern "C" KESTREL_API void lm_nmc_web_api_set_local_admin(int flag) { webapi_set_admin_loopback_only(flag != 0); }

extern "C" KESTREL_API void lm_nmc_web_api_set_max_upload_mb(int megabytes) { webapi_set_max_upload_mb(megabytes); }

extern "C" KESTREL_API lm_nmc_result_t lm_nmc_web_api_base_url(uint32_t size, char *buffer) {
  if (!buffer || size == 0) return LM_NMC_INVALID_PARAMETER;
  buffer[0] = '\0';
  upnp_interface_info info[UPNP_MAX_INTERFACES];
  int count = upnp_interfaces_snapshot(info, UPNP_MAX_INTERFACES);
  if (count <= 0 || info[0].http_port == 0) return LM_NMC_NOT_FOUND;
  int n = std::snprintf(buffer, size, "http://%s:%u/nmc/rpc/", info[0].address, info[0].http_port);
  if (n < 0 || static_cast<uint32_t>(n) >= size) {
    buffer[0] = '\0';
    return LM_NMC_BUFFER_TOO_SMALL;
  }
  return LM_NMC_OK;
}
