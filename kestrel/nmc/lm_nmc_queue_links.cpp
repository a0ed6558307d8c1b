// Where the renderer side meets the queue: the device events (a renderer's
// queue found or created when it is added, its state events, its removal),
// the queue marks of the "Play", "Pause" and "Stop" commands, the paused
// slideshow as a state, the local renderer's position, and the
// "DMRIsQueueControlled" ioctl.
#include <cstring>

#include "base/upnp_log.h"
#include "base/upnp_thread.h"
#include "base/upnp_xml.h"
#include "nmc/lm_dmrcp_state.h"
#include "nmc/lm_ldmr_ops.h"
#include "nmc/lm_nmc_actions.h"
#include "nmc/lm_nmc_internal.h"
#include "nmc/lm_nmc_queue.h"

namespace {

// The "val" of the first element `name` in a renderer event body (the
// LastChange text inside a property set, or the event itself); none when
// absent.
bool event_value(const char *body, const char *name, std::string *value) {
  upnp_xml_node *root = upnp_xml_parse(body);
  if (root == nullptr) return false;
  upnp_xml_node *last_change = upnp_xml_find_tag(root, "LastChange");
  upnp_xml_node *inner = nullptr;
  if (last_change != nullptr && last_change->value != nullptr) inner = upnp_xml_parse(last_change->value);
  upnp_xml_node *node = upnp_xml_find_tag(inner != nullptr ? inner : root, name);
  const char *text = node != nullptr ? upnp_xml_find_attribute_value(node, "val") : nullptr;
  if (text != nullptr) *value = text;
  upnp_xml_release(inner);
  upnp_xml_release(root);
  return text != nullptr;
}

}  // namespace

void nmc_action_queue_identify(int index, const char *udn) {
  if (udn == nullptr || udn[0] == '\0') return;
  // The renderer's queue is named by its UDN; one that exists follows the
  // renderer's new index.
  if (nmc_queue_create(udn, index) == NMC_QUEUE_EXISTS) {
    nmc_queue_ref queue = nmc_queue_find(udn);
    if (queue != nullptr) {
      std::lock_guard<std::recursive_mutex> hold(queue->lock);
      queue->play.renderer = index;
    }
  }
}

void nmc_action_queue_renderer_event(int index, const char *body) {
  if (body == nullptr || nmc_queue_of_renderer(index) == nullptr) return;
  std::string value;
  if (event_value(body, "NextAVTransportURI", &value) && !value.empty()) {
    upnp_log_impl(LOG_LEVEL_DEBUG, LOG_SYSTEM, "nmc_action_queue_renderer_event",
                  "NMC: Renderer %d got a next URI from another controller", index);
  }
  if (event_value(body, "CurrentTrackDuration", &value)) {
    uint64_t duration = nmc_queue_parse_time(value.c_str());
    if (duration > 0) nmc_queue_post_duration(index, duration);
  }
  if (event_value(body, "TransportState", &value)) {
    uint32_t state = nmc_dmr_state_of(value.c_str());
    if (state <= NMC_DMR_NO_MEDIA_PRESENT) nmc_queue_post_state(index, static_cast<int>(state));
  }
}

void nmc_queue_renderer_gone(int renderer) {
  nmc_queue_ref queue = nmc_queue_of_renderer(renderer);
  if (queue == nullptr) return;
  std::lock_guard<std::recursive_mutex> hold(queue->lock);
  // The queue forgets the index (another device may get it); the slideshow
  // timer sees the renderer gone and ends the show; a playing queue no
  // longer advances. The renderer's return sets the index again.
  queue->play.renderer = -1;
  if (!queue->play.slideshow) queue->play.playing = false;
}

void nmc_queue_mark_play(int renderer) {
  nmc_queue_ref queue = nmc_queue_of_renderer(renderer);
  if (queue == nullptr) return;
  std::lock_guard<std::recursive_mutex> hold(queue->lock);
  queue->play.user_stopped = false;
  queue->play.slideshow_paused = false;
}

bool nmc_queue_mark_pause(int renderer) {
  nmc_queue_ref queue = nmc_queue_of_renderer(renderer);
  if (queue == nullptr) return false;
  std::lock_guard<std::recursive_mutex> hold(queue->lock);
  if (!queue->play.slideshow || queue->play.slideshow_timer == 0) return false;
  queue->play.slideshow_paused = true;
  return true;
}

lm_nmc_result_t nmc_queue_pause_result(int renderer, bool slideshow, lm_nmc_result_t code) {
  if (!slideshow || (code != NMC_DMR_TRANSITION_NOT_AVAILABLE && code != NMC_DMR_NOT_IMPLEMENTED)) return code;
  // The renderer cannot pause a picture: the show counts as paused.
  nmc_queue_post_state(renderer, static_cast<int>(NMC_DMR_PAUSED_PLAYBACK));
  return LM_NMC_OK;
}

void nmc_queue_mark_stop(int renderer) {
  nmc_queue_ref queue = nmc_queue_of_renderer(renderer);
  if (queue == nullptr) return;
  {
    std::lock_guard<std::recursive_mutex> hold(queue->lock);
    nmc_queue_play &play = queue->play;
    if (!play.playing) return;
    play.playing = false;
    play.user_stopped = true;
    play.slideshow_paused = false;
    // A track change under way answers its PLAYING with Stop.
    if (play.own_transition) play.stop_pending = true;
  }
  nmc_queue_raise(queue, NMC_QUEUE_STOPPED);
}

bool nmc_queue_slideshow_is_paused(int renderer) {
  nmc_queue_ref queue = nmc_queue_of_renderer(renderer);
  if (queue == nullptr) return false;
  std::lock_guard<std::recursive_mutex> hold(queue->lock);
  return queue->play.slideshow && queue->play.slideshow_paused && queue->play.slideshow_timer != 0;
}

void nmc_queue_local_position(int renderer, uint64_t position_ms) {
  nmc_queue_ref queue = nmc_queue_of_renderer(renderer);
  if (queue == nullptr) return;
  std::lock_guard<std::recursive_mutex> hold(queue->lock);
  nmc_queue_play &play = queue->play;
  if (!play.playing || play.slideshow || play.current == 0) return;
  uint64_t now = getSystemTime();
  play.start_ms = now > position_ms ? now - position_ms : 0;
}

lm_nmc_result_t nmc_queue_ioctl_is_controlled(uint32_t context, const char *, uint32_t size, char *out) {
  nmc_dmr_target target;
  lm_nmc_result_t result = nmc_dmr_find(context, &target);
  if (result != LM_NMC_OK) return result;
  nmc_queue_ref queue = nmc_queue_find(target.udn);
  if (queue == nullptr) return LM_NMC_NOT_FOUND;
  bool active = false;
  {
    std::lock_guard<std::recursive_mutex> hold(queue->lock);
    active = queue->play.playing;
  }
  return nmc_out_text(active ? "true" : "false", size, out);
}

bool nmc_queue_local_slideshow_paused(int renderer) {
  return nmc_ldmr_is_local(renderer) && nmc_queue_slideshow_is_paused(renderer);
}

void nmc_queue_local_update(int renderer, const std::string &text) {
  nmc_action_queue_renderer_event(renderer, ("<RendererUpdated>" + text + "</RendererUpdated>").c_str());
}
