// Event texts, the network and subscription callbacks, and the event sink.
#include "nmc/lm_nmc_events.h"

#include <atomic>
#include <cstring>

#include "base/upnp_log.h"
#include "base/upnp_xml.h"
#include "cp/upnp_cp.h"
#include "nmc/lm_nmc_actions.h"
#include "nmc/lm_nmc_internal.h"
#include "nmc/lm_nmc_ruis.h"
#include "nmc/lm_nmc_sessions.h"
#include "nmc/lm_nmc_text.h"

namespace {

// Set by the application or the start-up, read on every event.
std::atomic<lm_nmc_api_callback> g_sink{nullptr};

const char *device_word(int kind) { return kind == UPNP_CP_KIND_SERVER ? "Server" : "Renderer"; }

// The body's first element named `name` as it stands in the text, or empty.
std::string raw_element(const char *body, const char *name) {
  std::string open = std::string("<") + name;
  std::string close = std::string("</") + name + ">";
  const char *start = body;
  while ((start = std::strstr(start, open.c_str())) != nullptr) {
    char after = start[open.size()];
    if (after == '>' || after == ' ' || after == '\t' || after == '\r' || after == '\n') break;
    start += open.size();
  }
  if (start == nullptr) return std::string();
  const char *end = std::strstr(start, close.c_str());
  if (end == nullptr) return std::string();
  return std::string(start, end + close.size());
}

}  // namespace

std::string nmc_event_added(int kind, int index, const char *udn, const char *name, const char *urlbase) {
  const char *word = device_word(kind);
  std::string text = std::string("<") + word + "Added><" + word + " index=\"" + std::to_string(index) + "\"><UDN>" +
                     nmc_xml_escape(udn) + "</UDN><Name>" + nmc_xml_escape(name) + "</Name>";
  std::string ip = nmc_ip_of_urlbase(urlbase);
  if (!ip.empty()) text += "<IP>" + ip + "</IP>";
  text += std::string("</") + word + "></" + word + "Added>";
  return text;
}

std::string nmc_event_removed(int kind, int index, const char *name) {
  const char *word = device_word(kind);
  return std::string("<") + word + "Removed><" + word + " index=\"" + std::to_string(index) + "\"><Name>" +
         nmc_xml_escape(name) + "</Name></" + word + "></" + word + "Removed>";
}

std::string nmc_event_server_updated(int index, uint32_t sequence, const char *body) {
  std::string text = "<ServerUpdated><Index>" + std::to_string(index) + "</Index><Sequence>" +
                     std::to_string(sequence) + "</Sequence>";
  upnp_xml_node *tree = body != nullptr ? upnp_xml_parse(body) : nullptr;
  if (tree != nullptr) {
    for (const char *name : {"SystemUpdateID", "ContainerUpdateIDs"}) {
      const char *value = upnp_xml_find_tag_value(tree, name);
      if (value != nullptr && value[0] != '\0') {
        text += std::string("<") + name + ">" + nmc_xml_escape(value) + "</" + name + ">";
      }
    }
    upnp_xml_release(tree);
  }
  return text + "</ServerUpdated>";
}

std::string nmc_event_renderer_updated(int index, uint32_t sequence, const char *body) {
  return "<RendererUpdated><Index>" + std::to_string(index) + "</Index><Sequence>" + std::to_string(sequence) +
         "</Sequence>" + raw_element(body != nullptr ? body : "", "LastChange") + "</RendererUpdated>";
}

void nmc_events_to_sessions(const char *text) {
  nmc_sessions_post(text);
  lm_nmc_api_callback sink = g_sink.load(std::memory_order_acquire);
  if (sink != nullptr) sink(1, text);
}

lm_nmc_api_callback nmc_events_take_sink(void) { return g_sink.exchange(nullptr); }

void nmc_network_callback(int type, int kind, int index, const char *name) {
  if (type != UPNP_CP_EVENT_ADDED && type != UPNP_CP_EVENT_REMOVED) return;
  if (kind == UPNP_CP_KIND_RUIS) {
    if (type == UPNP_CP_EVENT_ADDED) {
      nmc_ruis_added(index, name);
    } else {
      nmc_ruis_removed(index);
    }
    return;
  }
  if (kind != UPNP_CP_KIND_SERVER && kind != UPNP_CP_KIND_RENDERER) return;
  upnp_log_impl(LOG_LEVEL_INFO, LOG_SYSTEM, "nmc_network_callback", "%s %s: [%d] %s",
                kind == UPNP_CP_KIND_SERVER ? "Server  " : "Renderer", type == UPNP_CP_EVENT_ADDED ? "added  " : "removed",
                index, name != nullptr ? name : "");
  std::string text;
  if (type == UPNP_CP_EVENT_ADDED) {
    char udn[256] = "";
    char urlbase[1024] = "";
    if (upnp_control_get_device_info(index, nullptr, 0, udn, sizeof udn, kind) != 0) return;
    upnp_control_get_urlbase(index, urlbase, sizeof urlbase, kind);
    text = nmc_event_added(kind, index, udn, name, urlbase);
  } else {
    text = nmc_event_removed(kind, index, name);
  }
  nmc_events_to_sessions(text.c_str());
}

void nmc_subscription_callback(int kind, int index, unsigned int, uint32_t sequence, const char *body) {
  if (kind == UPNP_CP_KIND_SERVER) {
    nmc_events_to_sessions(nmc_event_server_updated(index, sequence, body).c_str());
  } else if (kind == UPNP_CP_KIND_RENDERER) {
    nmc_events_to_sessions(nmc_event_renderer_updated(index, sequence, body).c_str());
    nmc_action_queue_renderer_event(index, body);
  }
}

extern "C" KESTREL_API void lm_nmc_register_api_callback(lm_nmc_api_callback callback) {
  g_sink.store(callback, std::memory_order_release);
}
