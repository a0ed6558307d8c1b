// What the server notifier does to servers and server contexts: filling a
// new server's details, choosing the proxy server, the bookmark a context
// is told, dropping caches on content updates and moving contexts home when
// their server goes away.
#include <cstdlib>
#include <mutex>

#include "base/upnp_log.h"
#include "cp/upnp_cp_avt_uri.h"
#include "nmc/lm_dmscp_internal.h"
#include "nmc/lm_nmc_actions.h"
#include "nmc/lm_nmc_devices.h"

namespace {

// The chosen proxy server (its UDN and base URL, empty for none); guarded by
// g_proxy_lock, which is held while the choice is made so that two choices
// do not cross.
std::mutex g_proxy_lock;
std::string g_proxy_udn;
std::string g_proxy_url;

// Runs op on a server context's state when the context exists and has one.
template <typename Op>
bool with_state(uint32_t id, Op op) {
  nmc_context *context = nmc_context_find(id);
  if (context == nullptr) return false;
  bool done = false;
  try {
    std::shared_ptr<nmc_dms_state> state = context->dms;
    if (state) done = op(*state);
  } catch (...) {
    done = false;
  }
  nmc_context_release(context);
  return done;
}

}  // namespace

void nmc_action_server_details(int index) {
  nmc_dms_server server;
  nmc_dms_server_get(index, &server);
}

void nmc_action_choose_proxy_server(void) {
  std::lock_guard<std::mutex> hold(g_proxy_lock);
  bool found = false;
  double best_version = 0;
  std::string best_udn, best_url;
  for (const nmc_device_view &device : nmc_devices_list(NMC_SIDE_SERVER)) {
    nmc_dms_server server;
    if (!nmc_dms_server_get(device.index, &server)) continue;
    if (nmc_dms_info_value(server.info, "modelName").find("Lumet") == std::string::npos) continue;
    if (nmc_dms_info_value(server.info, "isProxyServer") != "true") continue;
    double version = std::atof(nmc_dms_info_value(server.info, "modelNumber").c_str());
    if (version < 6 || (found && version <= best_version)) continue;
    found = true;
    best_version = version;
    best_udn = device.udn;
    best_url = nmc_dms_info_value(server.info, "baseURL");
  }
  if (!found) {
    if (!g_proxy_udn.empty()) upnp_cp_set_proxy_base(nullptr, UPNP_CP_PROXY_AUTOMATIC);
    g_proxy_udn.clear();
    g_proxy_url.clear();
    return;
  }
  if (best_udn == g_proxy_udn && best_url == g_proxy_url) return;
  upnp_log_impl(LOG_LEVEL_INFO, LOG_SYSTEM, "nmc_action_choose_proxy_server", "Setting proxy URL %s",
                best_url.c_str());
  g_proxy_udn = best_udn;
  g_proxy_url = best_url;
  upnp_cp_set_proxy_base(best_url.c_str(), UPNP_CP_PROXY_AUTOMATIC);
}

void nmc_action_clear_server_choice(int index) {
  nmc_device_view device;
  if (!nmc_devices_find(NMC_SIDE_SERVER, index, &device)) return;
  std::lock_guard<std::mutex> hold(g_proxy_lock);
  if (device.udn != g_proxy_udn) return;
  g_proxy_udn.clear();
  g_proxy_url.clear();
  upnp_cp_set_proxy_base(nullptr, UPNP_CP_PROXY_AUTOMATIC);
}

bool nmc_action_server_bookmark(uint32_t context, int index, std::string *bookmark) {
  return with_state(context, [index, bookmark](nmc_dms_state &state) {
    if (state.server != index || state.levels.empty()) return false;
    return nmc_dms_bookmark(state, true, bookmark) == LM_NMC_OK ||
           nmc_dms_bookmark(state, false, bookmark) == LM_NMC_OK;
  });
}

void nmc_action_server_level_updated(uint32_t context, int index, uint64_t update_id) {
  nmc_device_view device;
  if (nmc_devices_find(NMC_SIDE_SERVER, index, &device)) nmc_dms_server_set_update_id(device.udn, update_id);
  with_state(context, [index, update_id](nmc_dms_state &state) {
    if (state.server != index || state.levels.empty()) return false;
    nmc_dms_level &level = state.top();
    if (level.type != NMC_LEVEL_SERVERS && level.update_id < update_id) {
      level.drop_page();
      level.drop_current();
      level.count_known = false;
      level.update_id = update_id;
    }
    state.update_id = update_id;
    return true;
  });
}

void nmc_action_server_context_to_top(uint32_t context, int index) {
  if (index == NMC_REMOVED_DEVICE_INDEX) {
    nmc_device_view removing;
    if (!nmc_devices_find(NMC_SIDE_SERVER, NMC_REMOVED_DEVICE_INDEX, &removing)) return;
    index = removing.index;
  }
  with_state(context, [index](nmc_dms_state &state) {
    if (state.server != index || state.levels.empty()) return false;
    state.removal_position = state.levels.front()->index;
    nmc_dms_go_home(state, true);
    return true;
  });
}
