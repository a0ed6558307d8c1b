// The host's events of its local renderers: each becomes an update text
// (every host text in it XML-escaped) that reaches the renderer contexts as
// a renderer update in keyword or XML mode, and, for the audio/video
// renderer, the event listener.
#include <cinttypes>
#include <cstdio>
#include <mutex>

#include "cp/upnp_cp_seek.h"
#include "nmc/lm_ldmr_internal.h"
#include "nmc/lm_nmc_devices.h"
#include "nmc/lm_nmc_keywords.h"
#include "nmc/lm_nmc_notify.h"
#include "nmc/lm_nmc_text.h"
#include "nmc/lm_nmc_queue.h"

namespace {

// Guards g_listener only; the listener is called after the copy.
std::mutex g_listener_lock;
lm_ldmr_event_listener g_listener = nullptr;

const char *const k_states[] = {"STOPPED",          "PLAYING",   "TRANSITIONING",   "PAUSED_PLAYBACK",
                                "PAUSED_RECORDING", "RECORDING", "NO_MEDIA_PRESENT"};

std::string escaped(const char *text) { return nmc_xml_escape(text); }

bool rendering_event(const std::string &text) {
  for (const char *marker : {"<Volume", "<Mute", "<Loudness", "<Brightness", "<Contrast"}) {
    if (text.find(marker) != std::string::npos) return true;
  }
  return false;
}

// Delivers an update text of an enabled renderer to the contexts (and the
// listener for the audio/video renderer).
void deliver(int index, uint32_t state, const std::string &text) {
  nmc_ldmr_renderer *r = nmc_ldmr_renderer_of(index);
  {
    std::lock_guard<std::mutex> hold(r->lock);
    if (!r->enabled) return;
  }
  nmc_notification n;
  n.category = NMC_CATEGORY_UPDATE;
  n.index = index;
  n.code = state;
  n.no_state = state > 6;
  n.mode = nmc_update_mode();
  n.list_mode = nmc_list_mode();
  n.has_text = true;
  if (n.mode == NMC_MODE_XML) {
    n.text = "<RendererUpdated>" + text + "</RendererUpdated>";
    nmc_notify_push(NMC_SIDE_RENDERER, n);
  } else {
    for (const std::string &keyword : nmc_update_keywords(text.c_str())) {
      n.text = keyword;
      nmc_notify_push(NMC_SIDE_RENDERER, n);
    }
  }
  nmc_queue_local_update(index, text);
  if (index != LM_LDMR_INDEX) return;
  lm_ldmr_event_listener listener;
  {
    std::lock_guard<std::mutex> hold(g_listener_lock);
    listener = g_listener;
  }
  if (listener != nullptr) listener(rendering_event(text) ? 2 : 1, 0, 0, escaped(text.c_str()).c_str());
}

std::string time_of(uint64_t seconds) {
  char buffer[32];
  upnp_cp_ms_to_time(seconds * 1000, buffer, sizeof buffer);
  return buffer;
}

std::string actions_of(uint32_t bits) {
  static const char *const k_actions[] = {"Play", "Stop", "Pause", "Seek", "Next", "Previous"};
  std::string list;
  for (unsigned bit = 0; bit < 6; ++bit) {
    if ((bits & (1u << bit)) == 0) continue;
    if (!list.empty()) list += ',';
    list += k_actions[bit];
  }
  return list;
}

void state_event(int index, uint32_t state) {
  deliver(index, state, std::string("<TransportState val=\"") + (state <= 6 ? k_states[state] : "") + "\"/>");
}

void status_event(int index, uint32_t state, const char *status) {
  if (status == nullptr || status[0] == '\0') return;
  deliver(index, state, "<TransportStatus val=\"" + escaped(status) + "\"/>");
}

void actions_event(int index, uint32_t state, const char *actions) {
  deliver(index, state, "<CurrentTransportActions val=\"" + escaped(actions) + "\"/>");
}

void playinfo_event(int index, uint32_t state, const char *uri, const char *metadata) {
  nmc_ldmr_renderer *r = nmc_ldmr_renderer_of(index);
  const bool has_uri = uri != nullptr && uri[0] != '\0';
  const std::string u = escaped(uri);
  const std::string m = escaped(metadata);
  std::string text;
  if (!r->image) {
    bool changed;
    {
      std::lock_guard<std::mutex> hold(r->lock);
      changed = r->had_uri != has_uri;
      r->had_uri = has_uri;
    }
    if (changed) {
      text = std::string("<PlaybackStorageMedium val=\"") + (has_uri ? "NETWORK" : "NONE") +
             "\"/><NumberOfTracks val=\"" + (has_uri ? "1" : "0") + "\"/>";
    }
  }
  text += "<AVTransportURI val=\"" + u + "\"/><AVTransportURIMetaData val=\"" + m + "\"/>";
  if (!r->image) text += std::string("<CurrentTrack val=\"") + (has_uri ? "1" : "0") + "\"/>";
  text += "<CurrentTrackURI val=\"" + u + "\"/><CurrentTrackMetaData val=\"" + m + "\"/>";
  deliver(index, state, text);
}

void next_playinfo_event(int index, uint32_t state, const char *uri, const char *metadata) {
  deliver(index, state,
          "<NextAVTransportURI val=\"" + escaped(uri) + "\"/><NextAVTransportURIMetaData val=\"" + escaped(metadata) +
              "\"/>");
}

}  // namespace

extern "C" KESTREL_API lm_nmc_result_t lm_ldmr_register_event_listener(lm_ldmr_event_listener listener) {
  std::lock_guard<std::mutex> hold(g_listener_lock);
  g_listener = listener;
  return LM_NMC_OK;
}

extern "C" KESTREL_API void lm_ldmr_event_state(uint32_t state) { state_event(LM_LDMR_INDEX, state); }
extern "C" KESTREL_API void lm_ldmr_event_status(uint32_t state, const char *status) {
  status_event(LM_LDMR_INDEX, state, status);
}
extern "C" KESTREL_API void lm_ldmr_event_duration(uint32_t state, uint64_t seconds) {
  std::string time = time_of(seconds);
  deliver(LM_LDMR_INDEX, state,
          "<CurrentMediaDuration val=\"" + time + "\"/><CurrentTrackDuration val=\"" + time + "\"/>");
}
extern "C" KESTREL_API void lm_ldmr_event_volume(uint32_t state, uint32_t percent, int32_t db) {
  deliver(LM_LDMR_INDEX, state,
          "<Volume val=\"" + std::to_string(percent) + "\" channel=\"Master\"/><VolumeDB val=\"" + std::to_string(db) +
              "\" channel=\"Master\"/>");
}
extern "C" KESTREL_API void lm_ldmr_event_mute(uint32_t state, int on) {
  deliver(LM_LDMR_INDEX, state, std::string("<Mute val=\"") + (on ? "1" : "0") + "\" channel=\"Master\"/>");
}
extern "C" KESTREL_API void lm_ldmr_event_loudness(uint32_t state, int on) {
  deliver(LM_LDMR_INDEX, state, std::string("<Loudness val=\"") + (on ? "1" : "0") + "\" channel=\"Master\"/>");
}
extern "C" KESTREL_API void lm_ldmr_event_brightness(uint32_t state, uint32_t value) {
  deliver(LM_LDMR_INDEX, state, "<Brightness val=\"" + std::to_string(value) + "\"/>");
}
extern "C" KESTREL_API void lm_ldmr_event_contrast(uint32_t state, uint32_t value) {
  deliver(LM_LDMR_INDEX, state, "<Contrast val=\"" + std::to_string(value) + "\"/>");
}
extern "C" KESTREL_API void lm_ldmr_event_available_actions(uint32_t state, const char *actions) {
  actions_event(LM_LDMR_INDEX, state, actions);
}
extern "C" KESTREL_API void lm_ldmr_event_available_actions_bitfield(uint32_t state, uint32_t bits) {
  actions_event(LM_LDMR_INDEX, state, actions_of(bits).c_str());
}
extern "C" KESTREL_API void lm_ldmr_event_playinfo(uint32_t state, const char *uri, const char *metadata) {
  playinfo_event(LM_LDMR_INDEX, state, uri, metadata);
}
extern "C" KESTREL_API void lm_ldmr_event_next_playinfo(uint32_t state, const char *uri, const char *metadata) {
  next_playinfo_event(LM_LDMR_INDEX, state, uri, metadata);
}
extern "C" KESTREL_API void lm_ldmr_updated(uint32_t state, const char *text) {
  if (text != nullptr) deliver(LM_LDMR_INDEX, state, text);
}
extern "C" KESTREL_API void lm_ldmr_img_event_state(uint32_t state) { state_event(LM_LDMR_IMG_INDEX, state); }
extern "C" KESTREL_API void lm_ldmr_img_event_status(uint32_t state, const char *status) {
  status_event(LM_LDMR_IMG_INDEX, state, status);
}
extern "C" KESTREL_API void lm_ldmr_img_event_available_actions(uint32_t state, const char *actions) {
  actions_event(LM_LDMR_IMG_INDEX, state, actions);
}
extern "C" KESTREL_API void lm_ldmr_img_event_playinfo(uint32_t state, const char *uri, const char *metadata) {
  playinfo_event(LM_LDMR_IMG_INDEX, state, uri, metadata);
}
extern "C" KESTREL_API void lm_ldmr_img_event_next_playinfo(uint32_t state, const char *uri, const char *metadata) {
  next_playinfo_event(LM_LDMR_IMG_INDEX, state, uri, metadata);
}
