// The sorted device lists of both sides with the removal hand-over.
#include "nmc/lm_nmc_devices.h"

#include <mutex>
#include <new>

#include "base/upnp_log.h"
#include "base/upnp_thread.h"
#include "nmc/lm_nmc_internal.h"
#include "nmc/lm_nmc_text.h"

namespace {

struct Device {
  nmc_device_view view;
};

struct DeviceSide {
  // Guards list and removing; held only for copies and list changes, never
  // while waiting or calling out.
  std::mutex lock;
  std::vector<Device *> list;
  Device *removing = nullptr;
};

DeviceSide g_sides[2];

const char *const k_words[2] = {"server", "renderer"};

DeviceSide &side_at(int side) { return g_sides[side == NMC_SIDE_RENDERER ? 1 : 0]; }

Device *find_listed_locked(DeviceSide &s, int index) {
  for (Device *device : s.list) {
    if (device->view.index == index) return device;
  }
  return nullptr;
}

bool must_wait_locked(DeviceSide &s, const char *udn) {
  if (s.removing != nullptr) return true;
  for (Device *device : s.list) {
    if (device->view.removed && device->view.udn == udn) return true;
  }
  return false;
}

void free_side(DeviceSide &s) {
  std::lock_guard<std::mutex> hold(s.lock);
  for (Device *device : s.list) delete device;
  s.list.clear();
  delete s.removing;
  s.removing = nullptr;
}

}  // namespace

void nmc_devices_init(void) {
  free_side(g_sides[0]);
  free_side(g_sides[1]);
}

void nmc_devices_exit(void) {
  free_side(g_sides[0]);
  free_side(g_sides[1]);
}

nmc_add_result nmc_devices_add(int side, int index, const char *udn, const char *name) {
  DeviceSide &s = side_at(side);
  const char *word = k_words[side == NMC_SIDE_RENDERER ? 1 : 0];
  const bool valid = index >= 0 && udn != nullptr && udn[0] != '\0' && name != nullptr && name[0] != '\0';
  bool delayed = false;
  uint64_t deadline = getSystemTime() + NMC_ADD_WAIT_BOUND_MS;
  std::unique_lock<std::mutex> hold(s.lock);
  while (valid && must_wait_locked(s, udn)) {
    hold.unlock();
    if (!delayed) {
      upnp_log_impl(LOG_LEVEL_INFO, LOG_SYSTEM, "nmc_devices_add",
                    "Delaying add %s notification until %s removal done", word, word);
      delayed = true;
    }
    if (lm_nmc_is_terminating() || getSystemTime() >= deadline) {
      upnp_log_impl(LOG_LEVEL_WARNING, LOG_SYSTEM, "nmc_devices_add", "NMC: Gave up adding %s %s", word, name);
      return NMC_ADD_GAVE_UP;
    }
    Sleep(50);
    hold.lock();
  }
  if (delayed) upnp_log_impl(LOG_LEVEL_INFO, LOG_SYSTEM, "nmc_devices_add", "Resuming notification process");
  if (valid) {
    for (Device *device : s.list) {
      if (device->view.udn == udn) {
        upnp_log_impl(LOG_LEVEL_INFO, LOG_SYSTEM, "nmc_devices_add", "NMC: Received duplicate add %s event for %s",
                      word, udn);
        return NMC_ADD_DUPLICATE;
      }
    }
  }
  if (!valid) {
    upnp_log_impl(LOG_LEVEL_WARNING, LOG_SYSTEM, "nmc_devices_add",
                  "NMC: Cannot add %s due to missing/empty parameters", word);
    return NMC_ADD_INVALID;
  }
  Device *device = new (std::nothrow) Device;
  try {
    if (device == nullptr) throw std::bad_alloc();
    device->view.index = index;
    device->view.name = name;
    device->view.udn = udn;
    auto at = s.list.begin();
    while (at != s.list.end() && nmc_name_compare((*at)->view.name.c_str(), name) <= 0) ++at;
    s.list.insert(at, device);
  } catch (...) {
    delete device;
    upnp_log_impl(LOG_LEVEL_ERROR, LOG_SYSTEM, "nmc_devices_add", "NMC: Out of memory adding %s", word);
    return NMC_ADD_NO_MEMORY;
  }
  upnp_log_impl(LOG_LEVEL_INFO, LOG_SYSTEM, "nmc_devices_add", "NMC: Added %s %s", word, name);
  return NMC_ADD_ADDED;
}

bool nmc_devices_mark_removed(int side, int index, nmc_device_view *view) {
  DeviceSide &s = side_at(side);
  std::lock_guard<std::mutex> hold(s.lock);
  Device *device = find_listed_locked(s, index);
  if (device == nullptr || device->view.removed) return false;
  device->view.removed = true;
  if (view != nullptr) *view = device->view;
  return true;
}

bool nmc_devices_find(int side, int index, nmc_device_view *view) {
  DeviceSide &s = side_at(side);
  std::lock_guard<std::mutex> hold(s.lock);
  Device *device = nullptr;
  if (s.removing != nullptr && (index == NMC_REMOVED_DEVICE_INDEX || s.removing->view.index == index)) {
    device = s.removing;
  } else {
    device = find_listed_locked(s, index);
  }
  if (device == nullptr) return false;
  if (view != nullptr) *view = device->view;
  return true;
}

bool nmc_devices_find_udn(int side, const char *udn, nmc_device_view *view) {
  if (udn == nullptr) return false;
  DeviceSide &s = side_at(side);
  std::lock_guard<std::mutex> hold(s.lock);
  Device *device = nullptr;
  if (s.removing != nullptr && s.removing->view.udn == udn) {
    device = s.removing;
  } else {
    for (Device *listed : s.list) {
      if (!listed->view.removed && listed->view.udn == udn) device = listed;
    }
  }
  if (device == nullptr) return false;
  if (view != nullptr) *view = device->view;
  return true;
}

int nmc_devices_position(int side, int index) {
  DeviceSide &s = side_at(side);
  std::lock_guard<std::mutex> hold(s.lock);
  for (size_t i = 0; i < s.list.size(); ++i) {
    if (s.list[i]->view.index == index) return static_cast<int>(i);
  }
  return -1;
}

bool nmc_devices_begin_removal(int side, int index) {
  DeviceSide &s = side_at(side);
  std::lock_guard<std::mutex> hold(s.lock);
  for (auto at = s.list.begin(); at != s.list.end(); ++at) {
    if ((*at)->view.index != index) continue;
    // One device under removal per side: a second one (not expected, as the
    // notifier finishes each removal before the next) is freed at once.
    delete s.removing;
    s.removing = *at;
    s.list.erase(at);
    return true;
  }
  return false;
}

void nmc_devices_end_removal(int side) {
  DeviceSide &s = side_at(side);
  std::lock_guard<std::mutex> hold(s.lock);
  delete s.removing;
  s.removing = nullptr;
}

std::vector<nmc_device_view> nmc_devices_list(int side) {
  DeviceSide &s = side_at(side);
  std::lock_guard<std::mutex> hold(s.lock);
  std::vector<nmc_device_view> copy;
  for (Device *device : s.list) copy.push_back(device->view);
  return copy;
}
