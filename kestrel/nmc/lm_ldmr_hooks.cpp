// The local renderers' hook tables, enabling (listing the renderer under
// its device index) and disabling, and their names.
#include <cstring>

#include "base/upnp_log.h"
#include "base/upnp_mem.h"
#include "nmc/lm_ldmr_internal.h"
#include "nmc/lm_ldmr_ops.h"
#include "nmc/lm_nmc_device_events.h"
#include "nmc/lm_nmc_devices.h"
#include "nmc/lm_nmc_internal.h"

namespace {

nmc_ldmr_renderer g_av{LM_LDMR_INDEX, "Local Renderer", false};
nmc_ldmr_renderer g_image{LM_LDMR_IMG_INDEX, "Local Image Renderer", true};

const size_t k_name_bytes = 16;

// At most k_name_bytes bytes of text, never ending inside a UTF-8 character.
std::string cut_name(const char *text) {
  std::string name = text != nullptr ? text : "";
  if (name.size() <= k_name_bytes) return name;
  size_t end = k_name_bytes;
  while (end > 0 && (static_cast<unsigned char>(name[end]) & 0xC0) == 0x80) --end;
  return name.substr(0, end);
}

std::string name_locked(const nmc_ldmr_renderer &r) { return r.name.empty() ? r.default_name : r.name; }

// Lists the renderer (hooks handed to the local device first). The caller
// has checked the hooks and the controller.
void list_renderer(nmc_ldmr_renderer &r) {
  nmc_ldmr_hooks hooks;
  std::string name;
  {
    std::lock_guard<std::mutex> hold(r.lock);
    hooks = r.hooks;
    name = name_locked(r);
  }
  nmc_ldmr_device_hand_hooks(r.index, hooks, name);
  nmc_device_added(NMC_SIDE_RENDERER, r.index, nmc_ldmr_device_udn(r.index), name.c_str());
}

void unlist_renderer(nmc_ldmr_renderer &r) {
  nmc_ldmr_device_clear_hooks(r.index);
  nmc_device_removed(NMC_SIDE_RENDERER, r.index);
}

lm_nmc_result_t enable(nmc_ldmr_renderer &r, int on) {
  bool was;
  bool any;
  {
    std::lock_guard<std::mutex> hold(r.lock);
    was = r.enabled;
    any = nmc_ldmr_any_hook(r.hooks);
  }
  if (!on) {
    {
      std::lock_guard<std::mutex> hold(r.lock);
      r.enabled = false;
    }
    if (was) unlist_renderer(r);
    return LM_NMC_OK;
  }
  if (was) return LM_NMC_OK;
  if (!any) {
    upnp_log_impl(LOG_LEVEL_WARNING, LOG_SYSTEM, "lm_ldmr_enable",
                  r.image ? "NMC: Disabling local image DMR since no hook is set"
                          : "NMC: Disabling local DMR since no hook is set");
    return 13;
  }
  if (!lm_nmc_conn_init() || lm_nmc_is_terminating()) return LM_NMC_GOING_DOWN;
  {
    std::lock_guard<std::mutex> hold(r.lock);
    if (r.enabled) return LM_NMC_OK;
    r.enabled = true;
    r.had_uri = false;
  }
  list_renderer(r);
  return LM_NMC_OK;
}

// A new table: an enabled renderer left without hooks is disabled; one
// that keeps some hands them to its device again.
lm_nmc_result_t set_hooks(nmc_ldmr_renderer &r, const nmc_ldmr_hooks &hooks) {
  bool enabled;
  std::string name;
  {
    std::lock_guard<std::mutex> hold(r.lock);
    r.hooks = hooks;
    enabled = r.enabled;
    name = name_locked(r);
  }
  if (!enabled) return LM_NMC_OK;
  if (!nmc_ldmr_any_hook(hooks)) {
    upnp_log_impl(LOG_LEVEL_INFO, LOG_SYSTEM, "lm_ldmr_set_hooks",
                  r.image ? "NMC: Disabling local image DMR since no hook is set"
                          : "NMC: Disabling local DMR since no hook is set");
    return enable(r, 0);
  }
  nmc_ldmr_device_hand_hooks(r.index, hooks, name);
  return LM_NMC_OK;
}

lm_nmc_result_t clear_hooks(nmc_ldmr_renderer &r) {
  enable(r, 0);
  std::lock_guard<std::mutex> hold(r.lock);
  r.hooks = nmc_ldmr_hooks();
  return LM_NMC_OK;
}

lm_nmc_result_t set_name(nmc_ldmr_renderer &r, const char *text) {
  std::lock_guard<std::mutex> hold(r.lock);
  r.name = cut_name(text);
  return LM_NMC_OK;
}

char *get_name(nmc_ldmr_renderer &r) {
  std::string name;
  {
    std::lock_guard<std::mutex> hold(r.lock);
    name = name_locked(r);
  }
  char *copy = static_cast<char *>(upnp_malloc_impl(name.size() + 1));
  if (copy != nullptr) std::memcpy(copy, name.c_str(), name.size() + 1);
  return copy;
}

int is_enabled(nmc_ldmr_renderer &r) {
  std::lock_guard<std::mutex> hold(r.lock);
  return r.enabled ? 1 : 0;
}

}  // namespace

bool nmc_ldmr_any_hook(const nmc_ldmr_hooks &h) {
  const void *const all[] = {
      reinterpret_cast<const void *>(h.get_protocol_info), reinterpret_cast<const void *>(h.get_device_info),
      reinterpret_cast<const void *>(h.get_state),         reinterpret_cast<const void *>(h.get_icon_count),
      reinterpret_cast<const void *>(h.get_icon_info),     reinterpret_cast<const void *>(h.get_icon),
      reinterpret_cast<const void *>(h.get_volume_percent), reinterpret_cast<const void *>(h.get_volume_db),
      reinterpret_cast<const void *>(h.set_volume_percent), reinterpret_cast<const void *>(h.set_volume_db),
      reinterpret_cast<const void *>(h.get_volume_db_range), reinterpret_cast<const void *>(h.get_mute),
      reinterpret_cast<const void *>(h.set_mute),          reinterpret_cast<const void *>(h.set_play_info),
      reinterpret_cast<const void *>(h.get_play_info),     reinterpret_cast<const void *>(h.set_next_play_info),
      reinterpret_cast<const void *>(h.get_next_play_info), reinterpret_cast<const void *>(h.set_property),
      reinterpret_cast<const void *>(h.get_property),      reinterpret_cast<const void *>(h.play),
      reinterpret_cast<const void *>(h.pause),             reinterpret_cast<const void *>(h.stop),
      reinterpret_cast<const void *>(h.next),              reinterpret_cast<const void *>(h.previous),
      reinterpret_cast<const void *>(h.seek_bytes),        reinterpret_cast<const void *>(h.seek_time),
      reinterpret_cast<const void *>(h.shutdown),          reinterpret_cast<const void *>(h.ioctl)};
  for (const void *hook : all) {
    if (hook != nullptr) return true;
  }
  return false;
}

nmc_ldmr_renderer *nmc_ldmr_renderer_of(int index) {
  return index == LM_LDMR_INDEX ? &g_av : index == LM_LDMR_IMG_INDEX ? &g_image : nullptr;
}

bool nmc_ldmr_is_local(int index) { return index == LM_LDMR_INDEX || index == LM_LDMR_IMG_INDEX; }

nmc_ldmr_hooks nmc_ldmr_hooks_of(int index) {
  nmc_ldmr_renderer *r = nmc_ldmr_renderer_of(index);
  if (r == nullptr) return nmc_ldmr_hooks();
  std::lock_guard<std::mutex> hold(r->lock);
  return r->enabled ? r->hooks : nmc_ldmr_hooks();
}

std::string nmc_ldmr_name(int index) {
  nmc_ldmr_renderer *r = nmc_ldmr_renderer_of(index);
  if (r == nullptr) return std::string();
  std::lock_guard<std::mutex> hold(r->lock);
  return name_locked(*r);
}

void nmc_ldmr_shutdown(void) {
  for (nmc_ldmr_renderer *r : {&g_av, &g_image}) {
    lm_ldmr_action_hook shutdown = nullptr;
    {
      std::lock_guard<std::mutex> hold(r->lock);
      if (r->enabled) shutdown = r->hooks.shutdown;
      r->enabled = false;
      r->name.clear();
    }
    nmc_ldmr_device_clear_hooks(r->index);
    if (shutdown != nullptr) shutdown();
  }
}

extern "C" KESTREL_API lm_nmc_result_t lm_ldmr_set_hooks(
    lm_ldmr_text_hook h0, lm_ldmr_text_hook h1, lm_ldmr_state_hook h2, lm_ldmr_count_hook h3,
    lm_ldmr_icon_info_hook h4, lm_ldmr_icon_hook h5, lm_ldmr_get_uint_hook h6, lm_ldmr_get_int_hook h7,
    lm_ldmr_set_uint_hook h8, lm_ldmr_set_int_hook h9, lm_ldmr_range_hook h10, lm_ldmr_get_int_hook h11,
    lm_ldmr_set_int_hook h12, lm_ldmr_set_play_info_hook h13, lm_ldmr_get_play_info_hook h14,
    lm_ldmr_set_play_info_hook h15, lm_ldmr_get_play_info_hook h16, lm_ldmr_set_property_hook h17,
    lm_ldmr_get_property_hook h18, lm_ldmr_action_hook h19, lm_ldmr_pause_hook h20, lm_ldmr_action_hook h21,
    lm_ldmr_action_hook h22, lm_ldmr_action_hook h23, lm_ldmr_seek_hook h24, lm_ldmr_seek_hook h25,
    lm_ldmr_action_hook h26, lm_ldmr_ioctl_hook h27) {
  nmc_ldmr_hooks hooks;
  hooks.get_protocol_info = h0;
  hooks.get_device_info = h1;
  hooks.get_state = h2;
  hooks.get_icon_count = h3;
  hooks.get_icon_info = h4;
  hooks.get_icon = h5;
  hooks.get_volume_percent = h6;
  hooks.get_volume_db = h7;
  hooks.set_volume_percent = h8;
  hooks.set_volume_db = h9;
  hooks.get_volume_db_range = h10;
  hooks.get_mute = h11;
  hooks.set_mute = h12;
  hooks.set_play_info = h13;
  hooks.get_play_info = h14;
  hooks.set_next_play_info = h15;
  hooks.get_next_play_info = h16;
  hooks.set_property = h17;
  hooks.get_property = h18;
  hooks.play = h19;
  hooks.pause = h20;
  hooks.stop = h21;
  hooks.next = h22;
  hooks.previous = h23;
  hooks.seek_bytes = h24;
  hooks.seek_time = h25;
  hooks.shutdown = h26;
  hooks.ioctl = h27;
  return set_hooks(g_av, hooks);
}

extern "C" KESTREL_API lm_nmc_result_t lm_ldmr_img_set_hooks(
    lm_ldmr_text_hook h0, lm_ldmr_text_hook h1, lm_ldmr_state_hook h2, lm_ldmr_count_hook h3,
    lm_ldmr_icon_info_hook h4, lm_ldmr_icon_hook h5, lm_ldmr_set_play_info_hook h6, lm_ldmr_get_play_info_hook h7,
    lm_ldmr_set_play_info_hook h8, lm_ldmr_get_play_info_hook h9, lm_ldmr_set_property_hook h10,
    lm_ldmr_get_property_hook h11, lm_ldmr_action_hook h12, lm_ldmr_pause_hook h13, lm_ldmr_action_hook h14,
    lm_ldmr_action_hook h15, lm_ldmr_action_hook h16, lm_ldmr_action_hook h17, lm_ldmr_ioctl_hook h18) {
  nmc_ldmr_hooks hooks;
  hooks.get_protocol_info = h0;
  hooks.get_device_info = h1;
  hooks.get_state = h2;
  hooks.get_icon_count = h3;
  hooks.get_icon_info = h4;
  hooks.get_icon = h5;
  hooks.set_play_info = h6;
  hooks.get_play_info = h7;
  hooks.set_next_play_info = h8;
  hooks.get_next_play_info = h9;
  hooks.set_property = h10;
  hooks.get_property = h11;
  hooks.play = h12;
  hooks.pause = h13;
  hooks.stop = h14;
  hooks.next = h15;
  hooks.previous = h16;
  hooks.shutdown = h17;
  hooks.ioctl = h18;
  return set_hooks(g_image, hooks);
}

extern "C" KESTREL_API lm_nmc_result_t lm_ldmr_clear_hooks(void) { return clear_hooks(g_av); }
extern "C" KESTREL_API lm_nmc_result_t lm_ldmr_img_clear_hooks(void) { return clear_hooks(g_image); }
extern "C" KESTREL_API lm_nmc_result_t lm_ldmr_enable(int on) { return enable(g_av, on); }
extern "C" KESTREL_API lm_nmc_result_t lm_ldmr_img_enable(int on) { return enable(g_image, on); }
extern "C" KESTREL_API int lm_ldmr_is_enabled(void) { return is_enabled(g_av); }
extern "C" KESTREL_API int lm_ldmr_img_is_enabled(void) { return is_enabled(g_image); }
extern "C" KESTREL_API lm_nmc_result_t lm_ldmr_set_name(const char *name) { return set_name(g_av, name); }
extern "C" KESTREL_API lm_nmc_result_t lm_ldmr_img_set_name(const char *name) { return set_name(g_image, name); }
extern "C" KESTREL_API char *lm_ldmr_get_name(void) { return get_name(g_av); }
extern "C" KESTREL_API char *lm_ldmr_img_get_name(void) { return get_name(g_image); }
