// Polling of renderers whose own events cannot be trusted (the polled flag):
// the polling thread asks their transport state once per interval and turns
// a change into a synthetic AVTransport event.
#include <cstring>
#include <vector>

#include "base/upnp_ini_file.h"
#include "base/upnp_log.h"
#include "base/upnp_mem.h"
#include "cp/upnp_cp_eventing.h"
#include "cp/upnp_cp_eventing_internal.h"
#include "cp/upnp_cp_internal.h"
#include "cp/upnp_soap.h"

namespace {

uint64_t g_last_poll = 0;  // polling thread only

struct Polled {
  int index;
  char *udn;
};

}  // namespace

void cp_eventing_poll_tick(uint64_t now) {
  int interval = upnp_ini_file_getInt(INI_DMR_STATE_POLL_INTERVAL);
  if (interval < 0) return;
  if (interval == 0) interval = 5;
  if (g_last_poll != 0 && now < g_last_poll + static_cast<uint64_t>(interval)) return;
  g_last_poll = now;

  std::vector<Polled> renderers;
  if (!upnp_cp_lock_section()) return;
  upnp_cp_table *table = cp_table(UPNP_CP_KIND_RENDERER);
  for (int i = 0; table != nullptr && i < table->size; ++i) {
    const upnp_cp_device &d = table->slots[i];
    if (!cp_is_usable(&d) || !d.subscribed || !d.polled) continue;
    if (static_cast<upnp_cp_renderer_record *>(d.kind_record)->avt.sid == nullptr) continue;
    char *udn = upnp_strdup_impl(d.udn);
    if (udn == nullptr) {
      upnp_log_impl(LOG_LEVEL_ERROR, LOG_EVENTING, "scheduler", "Out of memory copying SID");
      continue;
    }
    renderers.push_back({i, udn});
  }
  upnp_cp_unlock_section();

  for (Polled &p : renderers) {
    int state = upnp_gettransportstate(p.index);
    char *body = nullptr;
    uint32_t sequence = 0;
    if (state >= 0 && upnp_cp_lock_section()) {
      upnp_cp_device *d = cp_slot(p.index, UPNP_CP_KIND_RENDERER);
      if (d != nullptr && cp_is_usable(d) && d->udn != nullptr && std::strcmp(d->udn, p.udn) == 0) {
        auto *r = static_cast<upnp_cp_renderer_record *>(d->kind_record);
        if (r->transport_state != static_cast<uint32_t>(state)) {
          body = upnp_cp_createSyntheticStateEvent(state, 0);
          if (body != nullptr) {
            r->transport_state = static_cast<uint32_t>(state);
            r->avt.synthetic_count += 1;
            sequence = r->avt.sequence + r->avt.synthetic_count;
            upnp_log_impl(LOG_LEVEL_INFO, LOG_EVENTING, "scheduler", "Firing synthetic transport state event:\n%s",
                          body);
          }
        }
      }
      upnp_cp_unlock_section();
    }
    if (body != nullptr) upnp_cp_add_subscription_event(body, sequence, p.index, UPNP_CP_KIND_RENDERER, UPNP_CP_SERVICE_AVT);
    upnp_free_impl(body);
    upnp_free_impl(p.udn);
  }
}
