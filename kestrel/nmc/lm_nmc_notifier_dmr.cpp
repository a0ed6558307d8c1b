// The renderer notifier's work per notification: renderer list changes to
// every renderer context, renderer updates and queue events to the contexts
// of that renderer, with no controller lock held while a callback runs.
#include <cstring>

#include "base/upnp_mem.h"
#include "base/upnp_thread.h"
#include "cp/upnp_cp.h"
#include "cp/upnp_soap.h"
#include "nmc/lm_ldmr_ops.h"
#include "nmc/lm_nmc_actions.h"
#include "nmc/lm_nmc_devices.h"
#include "nmc/lm_nmc_internal.h"
#include "nmc/lm_nmc_keywords.h"
#include "nmc/lm_nmc_notify.h"

namespace {

// Reads the added renderer's information; this machine's own renderer may
// take a moment to be announced and is asked again every 50 ms, 40 times.
bool read_renderer(int index) {
  // The host's own renderers are listed while enabled; the library's
  // renderer devices that would announce them are not in the table.
  if (nmc_ldmr_is_local(index)) return true;
  int result = upnp_control_get_device_info(index, nullptr, 0, nullptr, 0, UPNP_CP_KIND_RENDERER);
  for (int tries = 0; result == UPNP_CP_INVALID_INDEX && index == UPNP_CP_LOCAL_RENDERER_INDEX && tries < 40; ++tries) {
    Sleep(50);
    result = upnp_control_get_device_info(index, nullptr, 0, nullptr, 0, UPNP_CP_KIND_RENDERER);
  }
  return result == UPNP_CP_OK;
}

// The renderer's transport state asked directly (an update that carried
// none); -1 when it cannot be had.
int ask_state(int index) {
  char *state = nullptr;
  char *status = nullptr;
  char *speed = nullptr;
  int code = -1;
  if (upnp_get_TransportInfo(index, &state, &status, &speed) == 0) code = nmc_transport_state_code(state);
  upnp_free_impl(state);
  upnp_free_impl(status);
  upnp_free_impl(speed);
  return code;
}

bool drops_metadata(const nmc_notification &n) {
  if (n.category != NMC_CATEGORY_UPDATE || !n.has_text) return false;
  if (n.mode == NMC_MODE_KEYWORD && n.text == "DmrChangedMetadata") return true;
  if (n.mode == NMC_MODE_XML && n.text.find("<AVTransportURI") != std::string::npos) return true;
  return !n.no_state && n.code == 1 && nmc_action_renderer_is_player(n.index);
}

}  // namespace

void nmc_deliver_renderer(const nmc_notification &n, uint64_t generation) {
  nmc_device_view renderer;
  if (!nmc_devices_find(NMC_SIDE_RENDERER, n.index, &renderer) || lm_nmc_is_terminating()) return;
  const bool list_change = n.category == NMC_CATEGORY_LIST;
  const bool removal = list_change && n.code == NMC_RENDERER_REMOVED;
  const bool addition = list_change && n.code == NMC_RENDERER_ADDED;
  const bool metadata_dropped = drops_metadata(n);
  int position = -1;
  if (metadata_dropped) nmc_action_renderer_drop_metadata(n.index);
  if (removal) {
    nmc_devices_begin_removal(NMC_SIDE_RENDERER, n.index);
  } else if (addition) {
    if (!read_renderer(n.index)) return;
    position = nmc_devices_position(NMC_SIDE_RENDERER, n.index);
  }

  bool has_state = !n.no_state;
  uint32_t code = n.code;
  for (const nmc_context_view &context : nmc_contexts_snapshot(true)) {
    const bool points_here = context.renderer_index == n.index;
    if ((metadata_dropped && points_here) || addition || (removal && points_here)) {
      nmc_action_renderer_context_changed(context.id, n.index, position, addition, removal);
    }
    if (n.category == NMC_CATEGORY_QUEUE && points_here) nmc_action_renderer_queue_changed(context.id, n.index);

    if (list_change) {
      if (context.renderer_callback != nullptr) context.renderer_callback(context.id, n.code, n.text.c_str());
    } else if (n.category == NMC_CATEGORY_UPDATE) {
      if (!points_here || context.renderer_callback == nullptr) continue;
      if (!has_state) {
        int state = ask_state(n.index);
        if (state < 0) continue;
        code = static_cast<uint32_t>(state);
        has_state = true;
      }
      context.renderer_callback(context.id, code, n.text.c_str());
    } else if (points_here && context.queue_callback != nullptr) {
      context.queue_callback(context.id, n.code, n.values[0], n.values[1]);
    }
  }

  if (removal && nmc_notify_generation() == generation) {
    for (const nmc_context_view &context : nmc_contexts_snapshot(true)) {
      if (context.renderer_index == n.index || context.renderer_index == NMC_REMOVED_DEVICE_INDEX) {
        nmc_action_renderer_context_changed(context.id, NMC_REMOVED_DEVICE_INDEX, -1, false, true);
      }
    }
    nmc_devices_end_removal(NMC_SIDE_RENDERER);
  }
}
