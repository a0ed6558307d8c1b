// The session list of the XML command interface and the event lists of
// polling sessions.
#include "nmc/lm_nmc_sessions.h"

#include <cinttypes>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <deque>
#include <mutex>

#include "base/upnp_log.h"
#include "cp/upnp_cp.h"
#include "nmc/lm_nmc_devices.h"
#include "nmc/lm_nmc_events.h"

namespace {

// A waiting event; device events remember what they are about so that a
// later event for the same device can replace or cancel them.
struct Event {
  std::string text;
  bool device = false;
  bool added = false;
  int kind = 0;  // UPNP_CP_KIND_SERVER or UPNP_CP_KIND_RENDERER
  int index = -1;
};

struct Session {
  int id = 0;
  int socket = -1;
  std::string client;
  std::string name;
  uint64_t last_access = 0;
  bool api = false;
  bool polling = false;
  std::deque<Event> lists[3];
};

// Guards the list and every session's fields and event lists: the manager
// start and exit, every query, and the control point's threads (events)
// reach them.
std::mutex g_mutex;
std::deque<Session> g_sessions;
bool g_running = false;
int g_next_id = 1;

uint64_t now_seconds(void) { return static_cast<uint64_t>(std::time(nullptr)); }

Session *find(int id) {
  for (Session &session : g_sessions) {
    if (session.id == id) return &session;
  }
  return nullptr;
}

const char *session_tag(const Session &session) {
  return session.api ? "TAG_LOCAL_API" : session.client.c_str();
}

// What an event text is: its root element name decides the list; device
// events ("...Added"/"...Removed") carry the kind and the "index" attribute.
nmc_session_list classify(const char *text, Event *event) {
  event->text = text;
  const char *start = text[0] == '<' ? text + 1 : text;
  size_t length = std::strcspn(start, " >/");
  std::string root(start, length);
  if (root == "ServerUpdated") return NMC_EVENTS_SERVER;
  if (root == "RendererUpdated" || root == "QueueEvent") return NMC_EVENTS_RENDERER;
  bool server = root.compare(0, 6, "Server") == 0;
  bool renderer = root.compare(0, 8, "Renderer") == 0;
  const char *word = server ? "Server" : "Renderer";
  std::string rest = root.substr(server ? 6 : renderer ? 8 : 0);
  if ((server || renderer) && (rest == "Added" || rest == "Removed")) {
    std::string attribute = std::string("<") + word + " index=\"";
    const char *at = std::strstr(text, attribute.c_str());
    if (at != nullptr && at[attribute.size()] >= '0' && at[attribute.size()] <= '9') {
      event->device = true;
      event->added = rest == "Added";
      event->kind = server ? UPNP_CP_KIND_SERVER : UPNP_CP_KIND_RENDERER;
      event->index = static_cast<int>(std::strtol(at + attribute.size(), nullptr, 10));
    }
  }
  return NMC_EVENTS_NETWORK;
}

const char *kind_word(int kind) { return kind == UPNP_CP_KIND_SERVER ? "server" : "renderer"; }

// Appends by the rules: a device event meets a waiting event of the same
// device: same kind replaces the waiting text, opposite kind cancels both.
void append(Session &session, nmc_session_list which, const Event &event) {
  std::deque<Event> &list = session.lists[which];
  if (event.device) {
    for (auto it = list.begin(); it != list.end(); ++it) {
      if (!it->device || it->kind != event.kind || it->index != event.index) continue;
      if (it->added == event.added) {
        upnp_log_impl(LOG_LEVEL_INFO, LOG_SYSTEM, "nmc_sessions_post",
                      "Replacing device %s event for %s %d in polling session %s", event.added ? "added" : "removed",
                      kind_word(event.kind), event.index, session_tag(session));
        it->text = event.text;
      } else {
        upnp_log_impl(LOG_LEVEL_INFO, LOG_SYSTEM, "nmc_sessions_post",
                      "Dropping device %s event for %s %d from polling session %s", it->added ? "added" : "removed",
                      kind_word(event.kind), event.index, session_tag(session));
        list.erase(it);
      }
      return;
    }
  }
  if (list.size() >= NMC_SESSION_EVENT_BOUND) {
    upnp_log_impl(LOG_LEVEL_WARNING, LOG_SYSTEM, "nmc_sessions_post",
                  "Event list of polling session %s is full, dropping its oldest event", session_tag(session));
    list.pop_front();
  }
  list.push_back(event);
}

}  // namespace

void nmc_sessions_start(void) {
  std::lock_guard<std::mutex> hold(g_mutex);
  g_sessions.clear();
  Session api;
  api.id = NMC_API_SESSION;
  api.api = true;
  api.last_access = now_seconds();
  g_sessions.push_back(api);
  g_running = true;
  g_next_id = 1;
}

void nmc_sessions_stop(void) {
  std::lock_guard<std::mutex> hold(g_mutex);
  g_sessions.clear();
  g_running = false;
}

int nmc_sessions_open(int socket, const char *client) {
  std::lock_guard<std::mutex> hold(g_mutex);
  if (!g_running) return -1;
  Session session;
  session.id = g_next_id++;
  if (g_next_id <= 0) g_next_id = 1;
  session.socket = socket;
  session.client = client != nullptr ? client : "";
  session.last_access = now_seconds();
  g_sessions.push_back(std::move(session));
  return g_sessions.back().id;
}

void nmc_sessions_close(int session) {
  std::lock_guard<std::mutex> hold(g_mutex);
  for (auto it = g_sessions.begin(); it != g_sessions.end(); ++it) {
    if (it->id == session && !it->api) {
      g_sessions.erase(it);
      return;
    }
  }
}

bool nmc_sessions_touch(int session) {
  std::lock_guard<std::mutex> hold(g_mutex);
  Session *s = find(session);
  if (s != nullptr) s->last_access = now_seconds();
  return s != nullptr;
}

void nmc_sessions_touch_api(void) { nmc_sessions_touch(NMC_API_SESSION); }

bool nmc_sessions_info(int session, nmc_session_info *info) {
  std::lock_guard<std::mutex> hold(g_mutex);
  Session *s = find(session);
  if (s == nullptr) return false;
  info->client = s->client;
  info->name = s->name;
  info->last_access = s->last_access;
  info->polling = s->polling;
  info->api = s->api;
  return true;
}

bool nmc_sessions_set_name(int session, const char *name) {
  std::lock_guard<std::mutex> hold(g_mutex);
  Session *s = find(session);
  if (s != nullptr) s->name = name != nullptr ? name : "";
  return s != nullptr;
}

bool nmc_sessions_set_polling(int session, bool on) {
  // The burst is built before the session lock: the device lists and the
  // control point have locks of their own.
  std::vector<Event> burst;
  if (on) {
    const int sides[2] = {NMC_SIDE_SERVER, NMC_SIDE_RENDERER};
    for (int side : sides) {
      int kind = side == NMC_SIDE_SERVER ? UPNP_CP_KIND_SERVER : UPNP_CP_KIND_RENDERER;
      for (const nmc_device_view &device : nmc_devices_list(side)) {
        char urlbase[1024] = "";
        upnp_control_get_urlbase(device.index, urlbase, sizeof urlbase, kind);
        Event event;
        classify(nmc_event_added(kind, device.index, device.udn.c_str(), device.name.c_str(), urlbase).c_str(),
                 &event);
        burst.push_back(event);
      }
    }
  }
  std::lock_guard<std::mutex> hold(g_mutex);
  Session *s = find(session);
  if (s == nullptr) return false;
  if (s->polling == on) return true;
  s->polling = on;
  for (std::deque<Event> &list : s->lists) list.clear();
  for (const Event &event : burst) append(*s, NMC_EVENTS_NETWORK, event);
  return true;
}

void nmc_sessions_post(const char *text) {
  if (text == nullptr || text[0] == '\0') return;
  Event event;
  nmc_session_list which = classify(text, &event);
  std::lock_guard<std::mutex> hold(g_mutex);
  for (Session &session : g_sessions) {
    if (session.polling) append(session, which, event);
  }
}

std::vector<std::string> nmc_sessions_drain(int session, nmc_session_list list) {
  std::vector<std::string> texts;
  std::lock_guard<std::mutex> hold(g_mutex);
  Session *s = find(session);
  if (s == nullptr) return texts;
  for (Event &event : s->lists[list]) texts.push_back(std::move(event.text));
  s->lists[list].clear();
  return texts;
}

std::string nmc_sessions_listing(void) {
  std::lock_guard<std::mutex> hold(g_mutex);
  std::string text;
  unsigned int number = 0;
  for (const Session &session : g_sessions) {
    time_t when = static_cast<time_t>(session.last_access);
    struct tm local = {};
    char date[32] = "";
    if (localtime_r(&when, &local) != nullptr) std::strftime(date, sizeof date, "%Y-%m-%d %H:%M:%S", &local);
    char line[512];
    std::snprintf(line, sizeof line, "%4u:\t%s\t%s / %" PRIu64 "\n", ++number,
                  session.client.empty() ? "---.---.---.---" : session.client.c_str(), date, session.last_access);
    text += line;
  }
  return text;
}
