// The device table as the SOAP invocation sees it: lock, the view of one
// usable device for one service, and invalidation of a device that did not
// answer.
#include "cp/upnp_cp_internal.h"
#include "cp/upnp_soap_internal.h"

namespace {

void view_service(const upnp_cp_service &s, upnp_soap_device_view *view) {
  view->has_service = 1;
  view->control_url = s.control_url;
  view->scpd = s.scpd;
}

int table_lock() { return upnp_cp_lock_section(); }
void table_unlock() { upnp_cp_unlock_section(); }

int table_lookup(int index, int kind, unsigned service, upnp_soap_device_view *view) {
  *view = upnp_soap_device_view{};
  upnp_cp_device *d = nullptr;
  int rc = getDeviceInfo(index, kind, kind != UPNP_CP_KIND_RUIS, 1, &d);
  if (rc != UPNP_CP_OK) return rc;
  view->name = d->name;
  view->url_base = d->urlbase;
  view->broken_actions = d->broken_actions;
  view->local = d->local;
  view->interface = d->interface;
  if (d->kind_record == nullptr) return UPNP_CP_DEVICE_GONE;
  switch (d->kind) {
    case UPNP_CP_KIND_SERVER: {
      auto *r = static_cast<upnp_cp_server_record *>(d->kind_record);
      if (service == UPNP_SERVICE_CDS) view_service(r->cds, view);
      else if (service == UPNP_SERVICE_CM && r->cm_control_url) {
        view->has_service = 1;
        view->control_url = r->cm_control_url;
      }
      break;
    }
    case UPNP_CP_KIND_RENDERER: {
      auto *r = static_cast<upnp_cp_renderer_record *>(d->kind_record);
      if (service == UPNP_SERVICE_AVT) view_service(r->avt, view);
      else if (service == UPNP_SERVICE_RCS) view_service(r->rc, view);
      else if (service == UPNP_SERVICE_CM && r->cm_control_url) {
        view->has_service = 1;
        view->control_url = r->cm_control_url;
      }
      break;
    }
    case UPNP_CP_KIND_RUIS: {
      auto *r = static_cast<upnp_cp_ruis_record *>(d->kind_record);
      if (service == UPNP_SERVICE_RUIS && r->control_url) {
        view->has_service = 1;
        view->control_url = r->control_url;
      }
      break;
    }
    default: break;
  }
  return UPNP_CP_OK;
}

void table_invalidate(int index, int kind) { invalidateDevice(index, kind); }

}  // namespace

const upnp_soap_device_access g_upnp_soap_device_table = {table_lock, table_unlock, table_lookup, table_invalidate};
