// Adding and removing devices: the lists, the notifications for the
// notifiers, automatic subscription and queue identifiers.
#include "nmc/lm_nmc_device_events.h"

#include "cp/upnp_cp.h"
#include "nmc/lm_nmc_actions.h"
#include "nmc/lm_nmc_devices.h"
#include "nmc/lm_nmc_notify.h"
#include "nmc/lm_nmc_queue.h"
#include "nmc/lm_nmc_text.h"

namespace {

// The text of a renderer list change: the UDN in bookmark mode, the name as
// "<renderer><name>...</name></renderer>" in XML mode.
nmc_notification renderer_list_change(uint32_t code, const nmc_device_view &view) {
  nmc_notification n;
  n.category = NMC_CATEGORY_LIST;
  n.code = code;
  n.index = view.index;
  n.list_mode = nmc_list_mode();
  n.mode = nmc_update_mode();
  n.has_text = true;
  n.text = n.list_mode == NMC_MODE_XML ? "<renderer><name>" + nmc_xml_escape(view.name.c_str()) + "</name></renderer>"
                                       : view.udn;
  return n;
}

}  // namespace

void nmc_device_added(int side, int index, const char *udn, const char *name) {
  if (nmc_devices_add(side, index, udn, name) != NMC_ADD_ADDED) return;
  nmc_device_view view;
  view.index = index;
  view.udn = udn;
  view.name = name;
  if (side == NMC_SIDE_SERVER) {
    nmc_notification n;
    n.code = NMC_SERVER_ADDED;
    n.index = index;
    nmc_notify_push(NMC_SIDE_SERVER, n);
    upnp_control_enable_auto_subscription(index, 1, UPNP_CP_KIND_SERVER);
  } else {
    nmc_notify_push(NMC_SIDE_RENDERER, renderer_list_change(NMC_RENDERER_ADDED, view));
    if (index != UPNP_CP_LOCAL_RENDERER_INDEX) upnp_control_enable_auto_subscription(index, 1, UPNP_CP_KIND_RENDERER);
    nmc_action_queue_identify(index, udn);
  }
}

void nmc_device_removed(int side, int index) {
  nmc_device_view view;
  if (!nmc_devices_mark_removed(side, index, &view)) return;
  if (side == NMC_SIDE_SERVER) {
    nmc_action_clear_server_choice(index);
    nmc_notification n;
    n.code = NMC_SERVER_REMOVED;
    n.index = index;
    nmc_notify_push(NMC_SIDE_SERVER, n);
  } else {
    nmc_notify_push(NMC_SIDE_RENDERER, renderer_list_change(NMC_RENDERER_REMOVED, view));
    nmc_queue_renderer_gone(index);
  }
}
