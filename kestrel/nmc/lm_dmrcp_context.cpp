// Renderer contexts as cursors over the renderer list: pointing a context
// at a renderer by list position or bookmark, finding it again for every
// command, and what the renderer notifier does to the contexts' caches.
#include <cstring>
#include <new>

#include "nmc/lm_dmrcp.h"
#include "nmc/lm_dmrcp_state.h"
#include "nmc/lm_nmc_actions.h"
#include "nmc/lm_nmc_devices.h"
#include "nmc/lm_nmc_internal.h"

namespace {

// Runs fn on the context's renderer state with the context locked; 11 when
// the controller cannot run, 1 for no such renderer context.
template <typename Fn>
lm_nmc_result_t with_context(uint32_t id, Fn fn) {
  if (!lm_nmc_conn_init()) return LM_NMC_GOING_DOWN;
  if (!lm_nmc_is_dmr_context(id)) return LM_NMC_INVALID_INDEX;
  nmc_context *context = nmc_context_find(id);
  if (context == nullptr) return LM_NMC_INVALID_INDEX;
  nmc_dmr_context *dmr = nmc_dmr_state_of_context(context);
  lm_nmc_result_t result = dmr != nullptr ? fn(context, dmr) : LM_NMC_OUT_OF_MEMORY;
  nmc_context_release(context);
  return result;
}

void point_at(nmc_context *context, nmc_dmr_context *dmr, const nmc_device_view &view, uint32_t position) {
  dmr->udn = view.udn;
  dmr->position = position;
  dmr->saved_position = position;
  dmr->metadata.clear();
  dmr->queue_cache = false;
  context->renderer_index = view.index;
}

}  // namespace

nmc_dmr_context *nmc_dmr_state_of_context(nmc_context *context) {
  if (context->dmr == nullptr) {
    try {
      context->dmr = std::make_shared<nmc_dmr_context>();
    } catch (...) {
      return nullptr;
    }
    context->dmr->slideshow_delay = nmc_dmr_default_slideshow_delay();
    context->dmr->slideshow_wait = nmc_dmr_default_slideshow_wait();
  }
  return context->dmr.get();
}

lm_nmc_result_t nmc_dmr_find(uint32_t id, nmc_dmr_target *target) {
  return with_context(id, [&](nmc_context *context, nmc_dmr_context *dmr) -> lm_nmc_result_t {
    nmc_device_view view;
    int position = -1;
    if (!dmr->udn.empty() && nmc_devices_find_udn(NMC_SIDE_RENDERER, dmr->udn.c_str(), &view) && !view.removed) {
      position = nmc_devices_position(NMC_SIDE_RENDERER, view.index);
    }
    if (position < 0) {
      // Away (or under removal): the context keeps its renderer's UDN and
      // finds it again when it comes back, but never addresses another.
      if (!dmr->udn.empty()) {
        dmr->position = NMC_REMOVED_DEVICE_INDEX;
        dmr->metadata.clear();
      }
      context->renderer_index = -1;
      return NMC_DMR_DEVICE_GONE;
    }
    if (dmr->position != static_cast<uint32_t>(position)) dmr->saved_position = dmr->position;
    dmr->position = static_cast<uint32_t>(position);
    context->renderer_index = view.index;
    if (target != nullptr) {
      target->index = view.index;
      target->position = dmr->position;
      target->udn = view.udn;
      target->name = view.name;
    }
    return LM_NMC_OK;
  });
}

extern "C" KESTREL_API lm_nmc_result_t lm_dmrcp_get_count(uint32_t context, uint32_t *count) {
  if (count != nullptr) *count = 0;
  return with_context(context, [&](nmc_context *, nmc_dmr_context *) -> lm_nmc_result_t {
    if (count == nullptr) return LM_NMC_INVALID_PARAMETER;
    *count = static_cast<uint32_t>(nmc_devices_list(NMC_SIDE_RENDERER).size());
    return LM_NMC_OK;
  });
}

extern "C" KESTREL_API lm_nmc_result_t lm_dmrcp_go_index(uint32_t context, uint32_t position) {
  return with_context(context, [&](nmc_context *found, nmc_dmr_context *dmr) -> lm_nmc_result_t {
    std::vector<nmc_device_view> list = nmc_devices_list(NMC_SIDE_RENDERER);
    if (position >= list.size()) return NMC_DMR_DEVICE_GONE;
    point_at(found, dmr, list[position], position);
    return LM_NMC_OK;
  });
}

extern "C" KESTREL_API lm_nmc_result_t lm_dmrcp_get_index(uint32_t context, uint32_t *position) {
  if (position != nullptr) *position = 0;
  nmc_dmr_target target;
  lm_nmc_result_t result = nmc_dmr_find(context, &target);
  if (result != LM_NMC_OK) return result;
  if (position == nullptr) return LM_NMC_INVALID_PARAMETER;
  *position = target.position;
  return LM_NMC_OK;
}

extern "C" KESTREL_API lm_nmc_result_t lm_dmrcp_go_bookmark(uint32_t context, const char *bookmark) {
  return with_context(context, [&](nmc_context *found, nmc_dmr_context *dmr) -> lm_nmc_result_t {
    if (bookmark == nullptr || bookmark[0] == '\0') return LM_NMC_INVALID_PARAMETER;
    nmc_device_view view;
    if (!nmc_devices_find_udn(NMC_SIDE_RENDERER, bookmark, &view) || view.removed) return NMC_DMR_DEVICE_GONE;
    int position = nmc_devices_position(NMC_SIDE_RENDERER, view.index);
    if (position < 0) return NMC_DMR_DEVICE_GONE;
    point_at(found, dmr, view, static_cast<uint32_t>(position));
    return LM_NMC_OK;
  });
}

extern "C" KESTREL_API lm_nmc_result_t lm_dmrcp_get_bookmark(uint32_t context, uint32_t size, char *buffer) {
  if (buffer != nullptr && size > 0) buffer[0] = '\0';
  nmc_dmr_target target;
  lm_nmc_result_t result = nmc_dmr_find(context, &target);
  if (result != LM_NMC_OK) return result;
  return nmc_out_text(target.udn.c_str(), size, buffer);
}

// ---- What the renderer notifier does to the contexts. ----

void nmc_action_renderer_context_changed(uint32_t id, int index, int position, bool added, bool removed) {
  nmc_device_view view;
  const bool known = index != NMC_REMOVED_DEVICE_INDEX && nmc_devices_find(NMC_SIDE_RENDERER, index, &view);
  with_context(id, [&](nmc_context *context, nmc_dmr_context *dmr) -> lm_nmc_result_t {
    if (added) {
      // A renderer that came back is followed again by the contexts that
      // kept its UDN; those positioned at or after it lose their metadata.
      if (known && !dmr->udn.empty() && dmr->udn == view.udn) {
        context->renderer_index = index;
        dmr->metadata.clear();
      }
      if (position >= 0 && dmr->position != NMC_REMOVED_DEVICE_INDEX &&
          dmr->position >= static_cast<uint32_t>(position)) {
        dmr->metadata.clear();
      }
      return LM_NMC_OK;
    }
    dmr->metadata.clear();
    if (removed) {
      dmr->queue_cache = false;
      if (dmr->position != NMC_REMOVED_DEVICE_INDEX) dmr->saved_position = dmr->position;
      dmr->position = NMC_REMOVED_DEVICE_INDEX;
      context->renderer_index = -1;
    }
    return LM_NMC_OK;
  });
}

void nmc_action_renderer_queue_changed(uint32_t id, int) {
  with_context(id, [](nmc_context *, nmc_dmr_context *dmr) -> lm_nmc_result_t {
    dmr->queue_cache = false;
    return LM_NMC_OK;
  });
}
