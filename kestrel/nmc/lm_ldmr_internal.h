#ifndef KESTREL_NMC_LM_LDMR_INTERNAL_H
#define KESTREL_NMC_LM_LDMR_INTERNAL_H

/* What the local renderer's files share: the hook table of each renderer
 * and its guarded state. */

#include <stdint.h>

#include <mutex>
#include <string>

#include "nmc/lm_ldmr.h"

/* Every hook either renderer may have; the image renderer leaves the
 * volume, mute and seek hooks empty. */
struct nmc_ldmr_hooks {
  lm_ldmr_text_hook get_protocol_info = nullptr;
  lm_ldmr_text_hook get_device_info = nullptr;
  lm_ldmr_state_hook get_state = nullptr;
  lm_ldmr_count_hook get_icon_count = nullptr;
  lm_ldmr_icon_info_hook get_icon_info = nullptr;
  lm_ldmr_icon_hook get_icon = nullptr;
  lm_ldmr_get_uint_hook get_volume_percent = nullptr;
  lm_ldmr_get_int_hook get_volume_db = nullptr;
  lm_ldmr_set_uint_hook set_volume_percent = nullptr;
  lm_ldmr_set_int_hook set_volume_db = nullptr;
  lm_ldmr_range_hook get_volume_db_range = nullptr;
  lm_ldmr_get_int_hook get_mute = nullptr;
  lm_ldmr_set_int_hook set_mute = nullptr;
  lm_ldmr_set_play_info_hook set_play_info = nullptr;
  lm_ldmr_get_play_info_hook get_play_info = nullptr;
  lm_ldmr_set_play_info_hook set_next_play_info = nullptr;
  lm_ldmr_get_play_info_hook get_next_play_info = nullptr;
  lm_ldmr_set_property_hook set_property = nullptr;
  lm_ldmr_get_property_hook get_property = nullptr;
  lm_ldmr_action_hook play = nullptr;
  lm_ldmr_pause_hook pause = nullptr;
  lm_ldmr_action_hook stop = nullptr;
  lm_ldmr_action_hook next = nullptr;
  lm_ldmr_action_hook previous = nullptr;
  lm_ldmr_seek_hook seek_bytes = nullptr;
  lm_ldmr_seek_hook seek_time = nullptr;
  lm_ldmr_action_hook shutdown = nullptr;
  lm_ldmr_ioctl_hook ioctl = nullptr;
};
/* Whether any hook is set. */
bool nmc_ldmr_any_hook(const nmc_ldmr_hooks &hooks);

struct nmc_ldmr_renderer {
  nmc_ldmr_renderer(int i, const char *n, bool img) : index(i), default_name(n), image(img) {}
  const int index;
  const char *const default_name;
  const bool image;
  // Guards the fields below; never held while a hook or the controller is
  // called.
  std::mutex lock;
  bool enabled = false;
  std::string name;
  nmc_ldmr_hooks hooks;
  // Whether the last play-information event carried a URI.
  bool had_uri = false;
};
/* The renderer of index 4096 or 4097; none for any other index. */
nmc_ldmr_renderer *nmc_ldmr_renderer_of(int index);
/* A copy of the hooks of an enabled renderer (all empty when disabled). */
nmc_ldmr_hooks nmc_ldmr_hooks_of(int index);

/* The library's own UPnP renderer devices (lm_ldmr_device.cpp), which
 * announce the local renderers on the network. They are not built: this
 * records what the controller hands them. */
struct nmc_ldmr_device_record {
  bool has_hooks = false;
  lm_ldmr_text_hook get_protocol_info = nullptr;
  lm_ldmr_state_hook get_state = nullptr;
  lm_ldmr_set_play_info_hook set_play_info = nullptr;
  lm_ldmr_set_play_info_hook set_next_play_info = nullptr;
  lm_ldmr_action_hook play = nullptr;
  lm_ldmr_action_hook stop = nullptr;
  uint32_t transport_features = 0;
  uint32_t rendering_features = 0;
  std::string name;
};
const char *nmc_ldmr_device_udn(int index);
void nmc_ldmr_device_hand_hooks(int index, const nmc_ldmr_hooks &hooks, const std::string &name);
void nmc_ldmr_device_clear_hooks(int index);
nmc_ldmr_device_record nmc_ldmr_device_recorded(int index);

#endif
