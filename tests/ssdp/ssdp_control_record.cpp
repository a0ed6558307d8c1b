// Recording of the calls SSDP makes into the device table, for the SSDP
// tests, benchmark and fuzz target: bounded, thread-safe. It watches the
// table's entry points through the table's call observer (the table itself
// does its own work, or refuses when the control point is not running).
#include "ssdp/upnp_control_record.h"

#include "cp/upnp_cp.h"

#include <atomic>
#include <cstdio>
#include <cstring>
#include <mutex>

#include "base/upnp_log.h"

namespace {

struct Device {
  bool used;
  char udn[UPNP_RECORD_UDN_SIZE];
};

constexpr int kKinds = 3;

std::mutex g_record_mutex;
Device g_devices[kKinds][UPNP_RECORD_MAX_DEVICES];
upnp_control_call g_calls[UPNP_RECORD_MAX_CALLS];
unsigned long long g_sequence = 0;
unsigned long long g_refused = 0;
std::atomic<upnp_control_record_listener> g_listener{nullptr};

void copy_text(char *to, size_t size, const char *from) { std::snprintf(to, size, "%s", from != nullptr ? from : ""); }

Device *find_locked(int kind, const char *udn) {
  for (Device &device : g_devices[kind - 1]) {
    if (device.used && std::strcmp(device.udn, udn) == 0) return &device;
  }
  return nullptr;
}

upnp_control_call *next_call_locked() {
  ++g_sequence;
  upnp_control_call *call = &g_calls[g_sequence % UPNP_RECORD_MAX_CALLS];
  std::memset(call, 0, sizeof *call);
  call->sequence = g_sequence;
  return call;
}

void notify(const upnp_control_call &call) {
  upnp_control_record_listener listener = g_listener.load();
  if (listener != nullptr) listener(&call);
}

bool valid_kind(int kind) { return kind >= 1 && kind <= kKinds; }

}  // namespace

namespace {

void record_add(const char *location, const char *udn, const char *interface, unsigned int validity_seconds,
                int kind) {
  if (location == nullptr || udn == nullptr || interface == nullptr || !valid_kind(kind)) return;
  upnp_control_call copy;
  {
    std::lock_guard<std::mutex> hold(g_record_mutex);
    char key[UPNP_RECORD_UDN_SIZE];
    copy_text(key, sizeof key, udn);
    if (find_locked(kind, key) == nullptr) {
      Device *free_slot = nullptr;
      for (Device &device : g_devices[kind - 1]) {
        if (!device.used) {
          free_slot = &device;
          break;
        }
      }
      if (free_slot == nullptr) {
        ++g_refused;
        return;
      }
      free_slot->used = true;
      copy_text(free_slot->udn, sizeof free_slot->udn, key);
    }
    upnp_control_call *call = next_call_locked();
    call->added = 1;
    call->kind = kind;
    call->validity_seconds = validity_seconds;
    copy_text(call->location, sizeof call->location, location);
    copy_text(call->udn, sizeof call->udn, udn);
    copy_text(call->interface, sizeof call->interface, interface);
    copy = *call;
  }
  notify(copy);
}

int record_delete(const char *udn, int kind) {
  if (udn == nullptr || !valid_kind(kind)) return 0;
  upnp_control_call copy;
  {
    std::lock_guard<std::mutex> hold(g_record_mutex);
    char key[UPNP_RECORD_UDN_SIZE];
    copy_text(key, sizeof key, udn);
    Device *device = find_locked(kind, key);
    if (device != nullptr) device->used = false;
    upnp_control_call *call = next_call_locked();
    call->added = 0;
    call->kind = kind;
    call->found = device != nullptr;
    copy_text(call->udn, sizeof call->udn, udn);
    copy = *call;
  }
  notify(copy);
  return copy.found;
}

void observe(int added, const char *location, const char *udn, const char *interface, unsigned int validity_seconds,
             int kind, int) {
  if (added) record_add(location, udn, interface, validity_seconds, kind);
  else record_delete(udn, kind);
}

// The recording starts with the first use of any of its functions.
void watch() { upnp_cp_set_call_observer(observe); }

}  // namespace

extern "C" void upnp_control_record_reset(void) {
  watch();
  std::lock_guard<std::mutex> hold(g_record_mutex);
  std::memset(g_devices, 0, sizeof g_devices);
  std::memset(g_calls, 0, sizeof g_calls);
  g_sequence = 0;
  g_refused = 0;
}

extern "C" int upnp_control_record_calls(unsigned long long after, upnp_control_call *out, int max) {
  std::lock_guard<std::mutex> hold(g_record_mutex);
  unsigned long long first = g_sequence > UPNP_RECORD_MAX_CALLS ? g_sequence - UPNP_RECORD_MAX_CALLS + 1 : 1;
  if (first <= after) first = after + 1;
  int count = 0;
  for (unsigned long long s = first; s <= g_sequence && count < max; ++s) out[count++] = g_calls[s % UPNP_RECORD_MAX_CALLS];
  return count;
}

extern "C" unsigned long long upnp_control_record_call_count(void) {
  std::lock_guard<std::mutex> hold(g_record_mutex);
  return g_sequence;
}

extern "C" int upnp_control_record_device_count(int kind) {
  if (!valid_kind(kind)) return 0;
  std::lock_guard<std::mutex> hold(g_record_mutex);
  int count = 0;
  for (const Device &device : g_devices[kind - 1]) count += device.used ? 1 : 0;
  return count;
}

extern "C" unsigned long long upnp_control_record_refused(void) {
  std::lock_guard<std::mutex> hold(g_record_mutex);
  return g_refused;
}

extern "C" void upnp_control_record_set_listener(upnp_control_record_listener listener) {
  watch();
  g_listener.store(listener);
}
