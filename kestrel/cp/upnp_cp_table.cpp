// The device tables: slots, the state rules of an announcement (add) and a
// byebye (delete), and deleting a device while keeping its index.
#include <atomic>
#include <cstring>

#include "base/upnp_ini_file.h"
#include "base/upnp_log.h"
#include "base/upnp_mem.h"
#include "cp/upnp_cp_internal.h"
#include "ssdp/upnp_ssdp.h"

extern "C" int upnp_cp_isValidDeviceType(int kind) { return kind >= 1 && kind <= 3; }
extern "C" int upnp_cp_isValidMediaDeviceType(int kind) { return kind == 1 || kind == 2; }

extern "C" const char *upnp_cp_kind_name(int kind) {
  switch (kind) {
    case UPNP_CP_KIND_SERVER: return "server";
    case UPNP_CP_KIND_RENDERER: return "renderer";
    case UPNP_CP_KIND_RUIS: return "ruis";
    default: return "unknown";
  }
}

upnp_cp_table *cp_table(int kind) { return upnp_cp_isValidDeviceType(kind) ? &g_cp_tables[kind - 1] : nullptr; }

upnp_cp_device *cp_slot(int index, int kind) {
  upnp_cp_table *table = cp_table(kind);
  if (table == nullptr || index < 0 || index >= table->size) return nullptr;
  return &table->slots[index];
}

int cp_is_usable(const upnp_cp_device *device) {
  return (device->state == UPNP_CP_STATE_READY || device->state == UPNP_CP_STATE_RELOADING ||
          device->state == UPNP_CP_STATE_REVALIDATING) &&
         device->kind_record != nullptr;
}

void cp_free_device_data(upnp_cp_device *device) {
  upnp_free_impl(device->location);
  upnp_free_impl(device->urlbase);
  upnp_free_impl(device->interface);
  upnp_free_impl(device->name);
  cp_free_kind_record(device->kind_record, device->kind);
  upnp_xml_release(device->description);
  char *udn = device->udn;
  std::memset(device, 0, sizeof *device);
  device->udn = udn;
}

void cp_free_device(upnp_cp_device *device) {
  cp_free_device_data(device);
  upnp_free_impl(device->udn);
  device->udn = nullptr;
}

void cp_delete_device_locked(upnp_cp_device *device, int index) {
  upnp_log_impl(LOG_LEVEL_INFO, LOG_SYSTEM, "deleteDevice", "removing %s %s/%s", upnp_cp_kind_name(device->kind),
                device->udn ? device->udn : "", device->location ? device->location : "");
  char *name = device->name;
  int kind = static_cast<int>(device->kind);
  device->name = nullptr;
  cp_free_device_data(device);
  if (name != nullptr) cp_notify_locked(UPNP_CP_EVENT_REMOVED, kind, index, name);
  upnp_free_impl(name);
}

namespace {

std::atomic<upnp_cp_call_observer> g_observer{nullptr};

void reject(const char *udn, const char *location, const char *interface) {
  upnp_log_impl(LOG_LEVEL_WARNING, LOG_SYSTEM, "upnp_control_add_device",
                "upnp_control_add_device: invalid params - rejecting addition of %s %s/%s", udn ? udn : "(null)",
                location ? location : "(null)", interface ? interface : "(null)");
}

bool replace_text(char **field, const char *text) {
  char *copy = upnp_strdup_impl(text);
  if (copy == nullptr) return false;
  upnp_free_impl(*field);
  *field = copy;
  return true;
}

}  // namespace

extern "C" void upnp_cp_set_call_observer(upnp_cp_call_observer observer) { g_observer.store(observer); }

void cp_add_device(const char *location, const char *udn, const char *interface,
                                        unsigned int validity_seconds, int kind) {
  upnp_cp_call_observer observer = g_observer.load();
  if (observer != nullptr) observer(1, location, udn, interface, validity_seconds, kind, 0);
  if (location == nullptr || udn == nullptr || interface == nullptr || udn[0] == '\0' ||
      !upnp_cp_isValidDeviceType(kind) || !upnp_ssdp_is_control_point() || !upnp_cp_is_running()) {
    reject(udn, location, interface);
    return;
  }
  // A LOCATION whose host or port is malformed would only ever fail later
  // (or reach an unintended port); it is refused here.
  char host[256];
  unsigned int port = 0;
  if (!cp_split_http_url(location, host, sizeof host, &port)) {
    reject(udn, location, interface);
    return;
  }
  if (!upnp_cp_lock_section()) {
    reject(udn, location, interface);
    return;
  }
  upnp_cp_table *table = cp_table(kind);
  if (table->slots == nullptr || table->size == 0) {
    upnp_log_impl(LOG_LEVEL_WARNING, LOG_SYSTEM, "upnp_control_add_device", "upnp_control_add_device Too many devices: cannot add %s %s",
                  udn, location);
    upnp_cp_unlock_section();
    return;
  }
  int found = -1, no_udn = -1, free_state = -1;
  for (int i = 0; i < table->size; ++i) {
    upnp_cp_device &d = table->slots[i];
    if (d.udn != nullptr && std::strcmp(d.udn, udn) == 0) {
      found = i;
      break;
    }
    if (d.udn == nullptr && no_udn < 0) no_udn = i;
    if (d.state == UPNP_CP_STATE_FREE && free_state < 0) free_state = i;
  }
  uint64_t now = cp_now_ms();
  int index = -1;
  if (found >= 0) {
    upnp_cp_device &d = table->slots[found];
    int reget = upnp_ini_file_getInt(INI_ENABLE_REGET);
    if ((!reget && d.state != UPNP_CP_STATE_FREE) || d.state == UPNP_CP_STATE_LOADING || d.state == UPNP_CP_STATE_BYEBYE) {
      d.reference_ms = now;
      d.validity = validity_seconds;
      upnp_log_impl(LOG_LEVEL_DEBUG, LOG_SYSTEM, "upnp_control_add_device", "Re-alived %s %s/%s: %llu+%u=%llu", upnp_cp_kind_name(kind),
                    udn, location, static_cast<unsigned long long>(now / 1000), validity_seconds,
                    static_cast<unsigned long long>(now / 1000 + validity_seconds));
      if (d.state == UPNP_CP_STATE_BYEBYE) d.state = UPNP_CP_STATE_LOADING;
      if (d.state == UPNP_CP_STATE_READY || d.state == UPNP_CP_STATE_LOADING ||
          d.state == UPNP_CP_STATE_RELOADING) {
        upnp_cp_unlock_section();
        return;
      }
    }
    if (d.state == UPNP_CP_STATE_READY || d.state == UPNP_CP_STATE_INVALIDATED ||
        d.state == UPNP_CP_STATE_REVALIDATING) {
      d.state = UPNP_CP_STATE_RELOADING;
    } else {
      cp_free_device_data(&d);
      d.state = UPNP_CP_STATE_LOADING;
    }
    index = found;
  } else {
    index = no_udn >= 0 ? no_udn : free_state;
    if (index < 0) {
      upnp_log_impl(LOG_LEVEL_WARNING, LOG_SYSTEM, "upnp_control_add_device",
                    "upnp_control_add_device Too many devices: cannot add %s %s", udn, location);
      upnp_cp_unlock_section();
      return;
    }
    cp_free_device(&table->slots[index]);
    table->slots[index].state = UPNP_CP_STATE_LOADING;
  }
  upnp_cp_device &d = table->slots[index];
  bool ok = (d.udn != nullptr || replace_text(&d.udn, udn)) && replace_text(&d.location, location) &&
            replace_text(&d.interface, interface);
  if (!ok) {
    cp_free_device(&d);
    upnp_log_impl(LOG_LEVEL_ERROR, LOG_SYSTEM, "upnp_control_add_device", "upnp_control_add_device: Out of memory adding device");
    upnp_cp_unlock_section();
    return;
  }
  d.kind = static_cast<uint32_t>(kind);
  d.validity = validity_seconds;
  d.reference_ms = now;
  upnp_log_impl(LOG_LEVEL_INFO, LOG_SYSTEM, "upnp_control_add_device", "%s alive %s/%s: %llu+%u=%llu", upnp_cp_kind_name(kind), udn,
                location, static_cast<unsigned long long>(now / 1000), validity_seconds,
                static_cast<unsigned long long>(now / 1000 + validity_seconds));
  cp_start_loader(kind, index);
  upnp_cp_unlock_section();
}

int cp_delete_device(const char *udn, int kind) {
  int result = 0;
  int search = 0;
  if (udn != nullptr && upnp_cp_isValidDeviceType(kind) && upnp_cp_lock_section()) {
    upnp_cp_table *table = cp_table(kind);
    for (int i = 0; i < table->size; ++i) {
      upnp_cp_device &d = table->slots[i];
      if (d.udn == nullptr || std::strcmp(d.udn, udn) != 0) continue;
      result = 1;
      if (cp_now_ms() - d.reference_ms < 1000) {
        upnp_log_impl(LOG_LEVEL_INFO, LOG_SYSTEM, "upnp_control_delete_device",
                      "upnp_control_delete_device: Ignoring byebye after alive for %s %s/%s",
                      upnp_cp_kind_name(kind), udn, d.location ? d.location : "");
        // Out of order with the alive of a restart, or the last word of a
        // device that leaves right after its periodic alive: asked once
        // more, it stays when it answers and goes when it does not.
        if (d.state == UPNP_CP_STATE_READY) search = cp_invalidate_locked(&d);
      } else if (d.state == UPNP_CP_STATE_LOADING || d.state == UPNP_CP_STATE_RELOADING) {
        upnp_log_impl(LOG_LEVEL_INFO, LOG_SYSTEM, "upnp_control_delete_device", "upnp_control_delete_device Tagging %s %s/%s for removal",
                      upnp_cp_kind_name(kind), udn, d.location ? d.location : "");
        d.state = UPNP_CP_STATE_BYEBYE;
      } else if (d.state == UPNP_CP_STATE_READY || d.state == UPNP_CP_STATE_INVALIDATED ||
                 d.state == UPNP_CP_STATE_REVALIDATING) {
        cp_delete_device_locked(&d, i);
      }
      break;
    }
    upnp_cp_unlock_section();
  }
  if (search) M_Search(1);
  upnp_cp_call_observer observer = g_observer.load();
  if (observer != nullptr) observer(0, nullptr, udn, nullptr, 0, kind, result);
  return result;
}
