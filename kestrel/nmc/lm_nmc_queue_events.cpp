// Queue events: the play index and pending count of each event, the
// "QueueEvent" text for the sessions and the event sink, and the queue's own
// event callback. Events of the local renderer stay in this process.
#include "cp/upnp_cp.h"
#include "nmc/lm_nmc_devices.h"
#include "nmc/lm_nmc_events.h"
#include "nmc/lm_nmc_notify.h"
#include "nmc/lm_nmc_queue.h"
#include "nmc/lm_nmc_text.h"

namespace {

bool is_local_renderer(int renderer) {
  return renderer == UPNP_CP_LOCAL_RENDERER_INDEX || renderer == UPNP_CP_LOCAL_RENDERER_INDEX + 1;
}

}  // namespace

const char *nmc_queue_event_name(uint32_t event) {
  switch (event) {
    case NMC_QUEUE_STOPPED: return "Stopped";
    case NMC_QUEUE_PLAYING: return "Playing";
    case NMC_QUEUE_CLEARED: return "cleared";
    case NMC_QUEUE_SHUFFLED: return "shuffled";
    case NMC_QUEUE_ITEM_REMOVED: return "item_removed";
    case NMC_QUEUE_ITEM_ADDED: return "item_added";
    case NMC_QUEUE_ITEM_MOVED: return "item_moved";
    default: return nullptr;
  }
}

nmc_queue_event_out nmc_queue_event_make(nmc_queue &queue, uint32_t event) {
  nmc_queue_event_out out;
  nmc_queue_play &play = queue.play;
  int index = -1;
  uint32_t pending = 0;
  nmc_queue_play_index(queue, &index, &pending);
  if (event == NMC_QUEUE_PLAYING) {
    if (play.user_stopped) return out;
    // A play event without a play position is a stop.
    if (index < 0) event = NMC_QUEUE_STOPPED;
  }
  if (event == NMC_QUEUE_STOPPED) {
    if (play.stopped_sent) return out;
    play.stopped_sent = true;
  } else if (event == NMC_QUEUE_PLAYING) {
    play.stopped_sent = false;
  }
  out.send = true;
  out.id = queue.id;
  out.renderer = play.renderer;
  out.event = event;
  out.index = index < 0 ? 0u : static_cast<uint32_t>(index);
  out.pending = pending;
  out.callback = queue.callback;
  return out;
}

void nmc_queue_event_send(const nmc_queue_event_out &out) {
  if (!out.send) return;
  if (is_local_renderer(out.renderer)) {
    // Not for remote clients: straight to the renderer contexts.
    nmc_notification n;
    n.category = NMC_CATEGORY_QUEUE;
    n.index = out.renderer;
    n.code = out.event;
    n.values[0] = out.index;
    n.values[1] = out.pending;
    nmc_notify_push(NMC_SIDE_RENDERER, n);
  } else {
    std::string text = "<QueueEvent><QueueID>" + nmc_xml_escape(out.id.c_str()) + "</QueueID><RendererIndex>" +
                       std::to_string(out.renderer) + "</RendererIndex><EventType>" +
                       nmc_queue_event_name(out.event) + "</EventType><CurrentIndex>" + std::to_string(out.index) +
                       "</CurrentIndex><Pending>" + std::to_string(out.pending) + "</Pending></QueueEvent>";
    nmc_events_to_sessions(text.c_str());
  }
  if (out.callback != nullptr) out.callback(out.id.c_str(), out.renderer, out.event, out.index, out.pending, 0);
}

void nmc_queue_raise(const nmc_queue_ref &queue, uint32_t event) {
  if (queue == nullptr) return;
  nmc_queue_event_out out;
  {
    std::lock_guard<std::recursive_mutex> hold(queue->lock);
    out = nmc_queue_event_make(*queue, event);
  }
  nmc_queue_event_send(out);
}
