// The server notifier's work per notification: server list changes and
// content updates delivered to every server context's callback, with no
// controller lock held while a callback runs.
#include "base/upnp_log.h"
#include "cp/upnp_cp.h"
#include "nmc/lm_nmc_actions.h"
#include "nmc/lm_nmc_devices.h"
#include "nmc/lm_nmc_internal.h"
#include "nmc/lm_nmc_notify.h"

namespace {

// Content updates reach a context only when the identifier grew beyond what
// the context last saw of that server; the new one is remembered.
bool update_is_new(uint32_t id, const std::string &udn, uint64_t update_id) {
  nmc_context *context = nmc_context_find(id);
  if (context == nullptr) return false;
  bool grew = false;
  auto seen = context->seen_update_ids.find(udn);
  if (seen == context->seen_update_ids.end() || update_id > seen->second) {
    grew = true;
    try {
      context->seen_update_ids[udn] = update_id;
    } catch (...) {
      grew = false;
    }
  }
  nmc_context_release(context);
  return grew;
}

}  // namespace

void nmc_deliver_server(const nmc_notification &n, uint64_t generation) {
  nmc_device_view server;
  if (!nmc_devices_find(NMC_SIDE_SERVER, n.index, &server) || lm_nmc_is_terminating()) return;
  const bool removal = n.code == NMC_SERVER_REMOVED;
  if (removal) {
    nmc_devices_begin_removal(NMC_SIDE_SERVER, n.index);
    nmc_action_choose_proxy_server();
  } else if (n.code == NMC_SERVER_ADDED) {
    if (upnp_control_get_device_info(n.index, nullptr, 0, nullptr, 0, UPNP_CP_KIND_SERVER) != 0) {
      upnp_log_impl(LOG_LEVEL_INFO, LOG_SYSTEM, "nmc_deliver_server", "NMC: Server %d gone before its addition was told",
                    n.index);
      return;
    }
    nmc_action_server_details(n.index);
    nmc_action_choose_proxy_server();
  }
  const std::string plain = server.udn + ",0";
  for (const nmc_context_view &context : nmc_contexts_snapshot(false)) {
    // A stop while an earlier callback held this notifier: the run it
    // delivered for is over.
    if (!nmc_notify_current(generation)) return;
    if (context.server_callback == nullptr) continue;
    std::string bookmark;
    if (!nmc_action_server_bookmark(context.id, n.index, &bookmark)) bookmark = plain;
    if (n.code == NMC_SERVER_CONTENT_UPDATED) {
      if (!update_is_new(context.id, server.udn, n.update_id)) continue;
      nmc_action_server_level_updated(context.id, n.index, n.update_id);
    } else if (removal) {
      nmc_action_server_context_to_top(context.id, n.index);
    }
    if (bookmark.size() >= 8192) bookmark.resize(8191);
    context.server_callback(context.id, n.code, bookmark.c_str());
  }
  if (removal && nmc_notify_generation() == generation) {
    for (const nmc_context_view &context : nmc_contexts_snapshot(false)) {
      nmc_action_server_context_to_top(context.id, NMC_REMOVED_DEVICE_INDEX);
    }
    nmc_devices_end_removal(NMC_SIDE_SERVER);
  }
}
