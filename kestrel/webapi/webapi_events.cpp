// The device event log: a ring of the last 100 server and renderer list
// events, filled by the controller's callbacks and read by get_events.
#include <atomic>
#include <cstdio>
#include <mutex>
#include <string>

#include "base/upnp_critsec.h"
#include "base/upnp_mem.h"
#include "webapi/webapi_internal.h"

#define WEBAPI_EVENT_SLOTS 100

namespace {

// The ring and its counters are shared by the notifier threads (writers)
// and the request threads (readers): all of it under g_nmc_http_rpc_section.
char *g_EventLog[WEBAPI_EVENT_SLOTS];
uint32_t currentEventID = 0;
uint32_t currentEventIndex = 0;

// The section is made once and kept for the life of the process: a
// notifier callback or a request may still be on its way when the API is
// released, and must not meet a deleted lock. Whether the log collects is
// g_log_open, under the section.
CRITICAL_SECTION g_nmc_http_rpc_section;
std::once_flag g_section_once;
std::atomic<bool> g_bCriticalSectionInitialized{false};
bool g_log_open = false;

void add_line(const char *kind, uint32_t code, const char *text) {
  if (!g_bCriticalSectionInitialized.load()) return;
  upnp_nmc_http_rpc_lock();
  if (g_log_open) {
    ++currentEventID;
    char line[1200];
    std::snprintf(line, sizeof line, "%d %s %d %s\n", static_cast<int>(currentEventID), kind,
                  static_cast<int>(code), text ? text : "");
    upnp_free_impl(g_EventLog[currentEventIndex]);
    g_EventLog[currentEventIndex] = upnp_strdup_impl(line);
    currentEventIndex = (currentEventIndex + 1) % WEBAPI_EVENT_SLOTS;
  }
  upnp_nmc_http_rpc_unlock();
}

void clear_slots(void) {
  for (char *&slot : g_EventLog) {
    upnp_free_impl(slot);
    slot = nullptr;
  }
  currentEventID = 0;
  currentEventIndex = 0;
}

}  // namespace

void upnp_nmc_http_rpc_lock(void) {
  if (g_bCriticalSectionInitialized.load()) EnterCriticalSection(&g_nmc_http_rpc_section);
}
void upnp_nmc_http_rpc_unlock(void) {
  if (g_bCriticalSectionInitialized.load()) LeaveCriticalSection(&g_nmc_http_rpc_section);
}

void webapi_event_log_reset(void) {
  std::call_once(g_section_once, [] {
    InitializeCriticalSection(&g_nmc_http_rpc_section);
    g_bCriticalSectionInitialized.store(true);
  });
  upnp_nmc_http_rpc_lock();
  clear_slots();
  g_log_open = true;
  upnp_nmc_http_rpc_unlock();
}

void webapi_event_log_release(void) {
  upnp_nmc_http_rpc_lock();
  clear_slots();
  g_log_open = false;
  upnp_nmc_http_rpc_unlock();
}

void serverListEventCallback(uint32_t, uint32_t code, const char *text) { add_line("server", code, text); }
void rendererListEventCallback(uint32_t, uint32_t code, const char *text) { add_line("renderer", code, text); }

std::string webapi_events_since(int64_t eventid) {
  if (eventid < 0) eventid = 0;
  std::string out;
  upnp_nmc_http_rpc_lock();
  if (currentEventID == 0) {
    out = "0\n";
  } else {
    int64_t n = static_cast<int64_t>(currentEventID) - eventid;
    if (n < 0) n = 0;
    if (n > WEBAPI_EVENT_SLOTS) n = WEBAPI_EVENT_SLOTS;
    int64_t slot = static_cast<int64_t>(currentEventIndex) - n;
    if (slot < 0) slot += WEBAPI_EVENT_SLOTS;
    for (int64_t i = 0; i < n; ++i) {
      const char *line = g_EventLog[(slot + i) % WEBAPI_EVENT_SLOTS];
      if (line) out += line;
      out += "\r\n";
    }
  }
  upnp_nmc_http_rpc_unlock();
  return out;
}

int webapi_cmd_get_events(webapi_call &call) {
  int64_t eventid = 0;
  std::string given;
  if (get_param(call, "eventid", &given)) eventid = get_int64_param(call, "eventid");
  std::string text = webapi_events_since(eventid);
  if (call.callback_valid) {
    return webapi_send_body(call, 200, "application/javascript; charset=utf-8",
                            call.callback + "(\"" + webapi_js_escape(text) + "\");");
  }
  return webapi_send_body(call, 200, HTTP_HTML_CONTENT_TYPE, text);
}
