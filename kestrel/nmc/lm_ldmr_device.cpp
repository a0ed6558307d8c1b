// The library's own UPnP renderer devices that would announce the local
// renderers on the network. They are not built; each keeps what the
// controller hands it (hooks, feature bits, name) so that it can be read.
#include <mutex>

#include "nmc/lm_ldmr_internal.h"

namespace {

// Guards both records.
std::mutex g_lock;
nmc_ldmr_device_record g_devices[2];

nmc_ldmr_device_record *device_of(int index) {
  return index == LM_LDMR_INDEX ? &g_devices[0] : index == LM_LDMR_IMG_INDEX ? &g_devices[1] : nullptr;
}

// Whether the host's property hook answers the property.
bool readable(const nmc_ldmr_hooks &h, const char *name) {
  if (h.get_property == nullptr) return false;
  char value[256];
  return h.get_property(name, sizeof value, value) == LM_NMC_OK;
}

// Transport features: 1 next play information, 2 pause, 4 seek time, 8 seek
// bytes, 32 the current transport actions can be read.
uint32_t transport_features(const nmc_ldmr_hooks &h) {
  uint32_t bits = 0;
  if (h.set_next_play_info != nullptr && h.get_next_play_info != nullptr) bits |= 1;
  if (h.pause != nullptr) bits |= 2;
  if (h.seek_time != nullptr) bits |= 4;
  if (h.seek_bytes != nullptr) bits |= 8;
  if (readable(h, "DmrPropCurrentTransportActions")) bits |= 32;
  return bits;
}

// Rendering features: 1 mute, 2 volume percent, 4 volume dB, 8, 16, 32
// loudness, brightness and contrast can be read (through the property hook).
uint32_t rendering_features(const nmc_ldmr_hooks &h) {
  uint32_t bits = 0;
  if (h.get_mute != nullptr && h.set_mute != nullptr) bits |= 1;
  if (h.get_volume_percent != nullptr && h.set_volume_percent != nullptr) bits |= 2;
  if (h.get_volume_db != nullptr && h.set_volume_db != nullptr && h.get_volume_db_range != nullptr) bits |= 4;
  if (readable(h, "DmrPropLoudness")) bits |= 8;
  if (readable(h, "DmrPropBrightness")) bits |= 16;
  if (readable(h, "DmrPropContrast")) bits |= 32;
  return bits;
}

}  // namespace

const char *nmc_ldmr_device_udn(int index) {
  return index == LM_LDMR_INDEX ? "uuid:6c6d6c72-0000-4000-8000-000000001000"
                                : "uuid:6c6d6c72-0000-4000-8000-000000001001";
}

void nmc_ldmr_device_hand_hooks(int index, const nmc_ldmr_hooks &hooks, const std::string &name) {
  // The property hooks are asked before the lock is taken.
  const uint32_t transport = transport_features(hooks);
  const uint32_t rendering = rendering_features(hooks);
  std::lock_guard<std::mutex> hold(g_lock);
  nmc_ldmr_device_record *device = device_of(index);
  if (device == nullptr) return;
  device->has_hooks = true;
  device->get_protocol_info = hooks.get_protocol_info;
  device->get_state = hooks.get_state;
  device->set_play_info = hooks.set_play_info;
  device->set_next_play_info = hooks.set_next_play_info;
  device->play = hooks.play;
  device->stop = hooks.stop;
  device->transport_features = transport;
  device->rendering_features = rendering;
  device->name = name;
}

void nmc_ldmr_device_clear_hooks(int index) {
  std::lock_guard<std::mutex> hold(g_lock);
  nmc_ldmr_device_record *device = device_of(index);
  if (device != nullptr) *device = nmc_ldmr_device_record();
}

nmc_ldmr_device_record nmc_ldmr_device_recorded(int index) {
  std::lock_guard<std::mutex> hold(g_lock);
  nmc_ldmr_device_record *device = device_of(index);
  return device != nullptr ? *device : nmc_ldmr_device_record();
}
