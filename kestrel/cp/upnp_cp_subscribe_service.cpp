// Subscription of the table's service records: copy under the lock, the GENA
// exchange without it, commit under the lock when the record is unchanged;
// the devices' service sets; and the tracking of exchanges in flight.
#include <atomic>
#include <cstdio>
#include <cstring>

#include "base/upnp_ini_file.h"
#include "base/upnp_log.h"
#include "base/upnp_mem.h"
#include "cp/upnp_cp_eventing.h"
#include "cp/upnp_cp_eventing_internal.h"
#include "cp/upnp_cp_internal.h"

namespace {

std::atomic<int> g_exchanges{0};
std::atomic<uint64_t> g_last_exchange_end_ms{0};

// What identifies a service record between the copy and the commit.
struct Identity {
  void *kind_record = nullptr;
  const char *event_url = nullptr;
  char *udn = nullptr;
  char *location = nullptr;
};

void free_identity(Identity *id) {
  upnp_free_impl(id->udn);
  upnp_free_impl(id->location);
}

bool same_text(const char *a, const char *b) { return a != nullptr && b != nullptr && std::strcmp(a, b) == 0; }

bool unchanged(const upnp_cp_device *d, const upnp_cp_service *s, const Identity &id) {
  return d->kind_record == id.kind_record && d->kind_record != nullptr && s->event_url == id.event_url &&
         same_text(d->udn, id.udn) && same_text(d->location, id.location);
}

bool take(upnp_cp_lock_fn lock) { return lock == nullptr || lock() != 0; }
void give(upnp_cp_unlock_fn unlock) {
  if (unlock != nullptr) unlock();
}

void clear_subscription(upnp_cp_service *s) {
  s->timeout = 0;
  s->subscribed_at = 0;
  s->sequence = 0xFFFFFFFFu;
  upnp_free_impl(s->sid);
  s->sid = nullptr;
}

char *dup(const char *text) { return text != nullptr ? upnp_strdup_impl(text) : nullptr; }

// Whether service is one of the device's records now (lock held): the record
// may have been replaced since the caller looked.
bool belongs(upnp_cp_device *device, const upnp_cp_service *service) {
  upnp_cp_service *services[2] = {nullptr, nullptr};
  int count = cp_device_services(device, services);
  for (int i = 0; i < count; ++i) {
    if (services[i] == service) return true;
  }
  return false;
}

// Checks the arguments and takes the lock: 0 with the lock held and service
// one of the device's records now, else the result to return (lock free).
int enter(upnp_cp_device *device, const upnp_cp_service *service, upnp_cp_lock_fn lock, upnp_cp_unlock_fn unlock) {
  if (device == nullptr || service == nullptr || (lock == nullptr) != (unlock == nullptr)) return 2;
  if (!take(lock)) return 11;
  if (!belongs(device, service)) {
    give(unlock);
    return 3;
  }
  return 0;
}

// What an exchange needs of the records, copied under the lock so that the
// exchange runs without it.
struct Copy {
  Identity id;
  char *urlbase = nullptr;
  char *sid = nullptr;
  char *event_url = nullptr;
};

Copy copy_records(const upnp_cp_device *device, const upnp_cp_service *service) {
  Copy c;
  c.id.kind_record = device->kind_record;
  c.id.event_url = service->event_url;
  c.id.udn = dup(device->udn);
  c.id.location = dup(device->location);
  c.urlbase = dup(device->urlbase);
  c.sid = dup(service->sid);
  c.event_url = dup(service->event_url);
  return c;
}

void free_copy(Copy *c) {
  upnp_free_impl(c->urlbase);
  upnp_free_impl(c->sid);
  upnp_free_impl(c->event_url);
  free_identity(&c->id);
}

}  // namespace

int cp_device_services(const upnp_cp_device *device, upnp_cp_service **out) {
  if (device->kind_record == nullptr) return 0;
  if (device->kind == UPNP_CP_KIND_RENDERER) {
    auto *r = static_cast<upnp_cp_renderer_record *>(device->kind_record);
    out[0] = &r->avt;
    out[1] = &r->rc;
    return 2;
  }
  if (device->kind == UPNP_CP_KIND_SERVER) {
    out[0] = &static_cast<upnp_cp_server_record *>(device->kind_record)->cds;
    return 1;
  }
  return 0;
}

// The requested time is the configuration's subscription_timeout; this
// setter changes it there (0 or less brings back its default).
extern "C" void upnp_cp_set_requested_timeout(int64_t seconds) {
  char text[24];
  if (seconds > 0) std::snprintf(text, sizeof text, "%lld", static_cast<long long>(seconds));
  upnp_ini_file_setPropertyByKey(INI_SUBSCRIPTION_TIMEOUT, seconds > 0 ? text : nullptr);
}

void cp_subscription_exchange_begin(void) { g_exchanges.fetch_add(1); }

void cp_subscription_exchange_end(void) {
  g_last_exchange_end_ms.store(cp_now_ms());
  g_exchanges.fetch_sub(1);
}

bool cp_subscription_exchange_recent(void) {
  if (g_exchanges.load() > 0) return true;
  uint64_t end = g_last_exchange_end_ms.load();
  return end != 0 && cp_now_ms() - end < 1000;
}

extern "C" int upnp_cp_subscribe_service(upnp_cp_device *device, upnp_cp_service *service, upnp_cp_lock_fn lock,
                                         upnp_cp_unlock_fn unlock) {
  // Read before the control point's lock is taken; below 1 (or no
  // configuration) the exchange asks for its default.
  int64_t requested = upnp_ini_file_getInt(INI_SUBSCRIPTION_TIMEOUT);
  if (int refused = enter(device, service, lock, unlock)) return refused;
  if (service->event_url == nullptr || device->urlbase == nullptr || device->interface == nullptr) {
    upnp_log_impl(LOG_LEVEL_WARNING, LOG_EVENTING, __func__, "aborted due to missing URLs");
    give(unlock);
    return 2;
  }
  Copy c = copy_records(device, service);
  char *callback = dup(device->interface);
  int64_t timeout = service->sid != nullptr && service->timeout >= 1 ? service->timeout : requested;
  if (service->sid == nullptr) service->sequence = 0xFFFFFFFFu;
  cp_subscription_exchange_begin();
  give(unlock);

  int result = 8;
  char *new_sid = nullptr;
  uint64_t now = upnp_cp_now();
  if (now < 1) now = 1;
  if (c.urlbase != nullptr && callback != nullptr && c.event_url != nullptr && c.id.udn != nullptr) {
    if (c.sid != nullptr) {
      result = upnp_cp_resubscribe(c.event_url, c.urlbase, c.sid, &timeout);
      if (result == 412) {
        upnp_log_impl(LOG_LEVEL_INFO, LOG_EVENTING, __func__, "device at %s lost our SID - subscribing freshly",
                      c.urlbase);
        result = upnp_cp_subscribe(c.event_url, c.urlbase, callback, &new_sid, &timeout);
      }
    } else {
      result = upnp_cp_subscribe(c.event_url, c.urlbase, callback, &new_sid, &timeout);
    }
  }

  if (take(lock)) {
    if (!unchanged(device, service, c.id)) {
      upnp_log_impl(LOG_LEVEL_INFO, LOG_EVENTING, __func__, "Service info for %s deleted/changed during subscription",
                    c.id.udn ? c.id.udn : "");
    } else if (result == 0 && (new_sid != nullptr || service->sid != nullptr)) {
      if (new_sid != nullptr) {
        // A fresh subscription numbers its events from 0 again.
        upnp_free_impl(service->sid);
        service->sid = new_sid;
        new_sid = nullptr;
        service->sequence = 0xFFFFFFFFu;
      }
      service->timeout = timeout;
      service->subscribed_at = now;
    } else {
      if (result == 0) result = 7;  // granted without a SID: no subscription to keep
      clear_subscription(service);
    }
    cp_subscription_exchange_end();
    give(unlock);
  } else {
    cp_subscription_exchange_end();
  }
  upnp_free_impl(new_sid);
  upnp_free_impl(callback);
  free_copy(&c);
  return result;
}

extern "C" int upnp_cp_unsubscribe_service(upnp_cp_device *device, upnp_cp_service *service, upnp_cp_lock_fn lock,
                                           upnp_cp_unlock_fn unlock) {
  if (int refused = enter(device, service, lock, unlock)) return refused;
  if (service->event_url == nullptr || service->sid == nullptr || device->urlbase == nullptr) {
    upnp_log_impl(LOG_LEVEL_DEBUG, LOG_EVENTING, __func__, "No eventSubURL or SID provided");
    give(unlock);
    return 2;
  }
  Copy c = copy_records(device, service);
  give(unlock);
  int result = (c.urlbase != nullptr && c.sid != nullptr && c.event_url != nullptr)
                   ? upnp_cp_unsubscribe(c.event_url, c.urlbase, c.sid)
                   : 8;
  if (take(lock)) {
    if (unchanged(device, service, c.id)) clear_subscription(service);
    give(unlock);
  }
  free_copy(&c);
  return result;
}

namespace {

int for_services(upnp_cp_device *device, upnp_cp_lock_fn lock, upnp_cp_unlock_fn unlock, bool subscribe) {
  if (device == nullptr || (lock == nullptr) != (unlock == nullptr)) return 2;
  if (device->kind != UPNP_CP_KIND_RENDERER && device->kind != UPNP_CP_KIND_SERVER) return 2;
  int result = 0;
  for (int i = 0; i < 2 && result == 0; ++i) {
    upnp_cp_service *services[2] = {nullptr, nullptr};
    if (!take(lock)) return 11;
    int count = cp_device_services(device, services);
    give(unlock);
    if (i >= count) break;
    // The record may change meanwhile: the service functions check it again.
    result = subscribe ? upnp_cp_subscribe_service(device, services[i], lock, unlock)
                       : upnp_cp_unsubscribe_service(device, services[i], lock, unlock);
    if (!subscribe && result == 2) result = 0;  // a service that was not subscribed needs no cancel
  }
  return result;
}

}  // namespace

extern "C" int upnp_cp_subscribe_device(upnp_cp_device *device, upnp_cp_lock_fn lock, upnp_cp_unlock_fn unlock) {
  return for_services(device, lock, unlock, true);
}

extern "C" int upnp_cp_unsubscribe_device(upnp_cp_device *device, upnp_cp_lock_fn lock, upnp_cp_unlock_fn unlock) {
  return for_services(device, lock, unlock, false);
}
