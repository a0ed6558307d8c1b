// The network event queue with its cancel rules, the callback and the
// notifier's delivery of one event.
#include <cstring>

#include "base/upnp_log.h"
#include "base/upnp_mem.h"
#include "cp/upnp_cp_internal.h"

namespace {

struct Event {
  int type;
  int kind;
  int index;
  char *name;
  Event *next;
  Event *previous;
};

Event *g_head = nullptr;
Event *g_tail = nullptr;
upnp_control_callback g_callback = nullptr;

void unlink_event(Event *event) {
  if (event->previous != nullptr) event->previous->next = event->next; else g_head = event->next;
  if (event->next != nullptr) event->next->previous = event->previous; else g_tail = event->previous;
}

void free_event(Event *event) {
  upnp_free_impl(event->name);
  upnp_free_impl(event);
}

}  // namespace

void cp_events_clear_locked(void) {
  while (g_head != nullptr) {
    Event *event = g_head;
    g_head = event->next;
    free_event(event);
  }
  g_tail = nullptr;
}

// Number of queued events (lock taken).
extern "C" int upnp_cp_queued_event_count(void) {
  if (!upnp_cp_lock_section()) return 0;
  int count = 0;
  for (Event *e = g_head; e != nullptr; e = e->next) ++count;
  upnp_cp_unlock_section();
  return count;
}

extern "C" void upnp_control_notify_callback(int type, int kind, int index, const char *name) {
  if (!upnp_cp_lock_section()) return;
  cp_notify_locked(type, kind, index, name);
  upnp_cp_unlock_section();
}

void cp_notify_locked(int type, int kind, int index, const char *name) {
  if (g_callback == nullptr || type == 2 || name == nullptr) return;
  if (type == UPNP_CP_EVENT_ADDED || type == UPNP_CP_EVENT_REMOVED) {
    for (Event *e = g_tail; e != nullptr; e = e->previous) {
      if (e->kind != kind || e->index != index) continue;
      if (e->type == type) {
        upnp_log_impl(LOG_LEVEL_DEBUG, LOG_SYSTEM, __func__, "Ignoring event %u for %s due to queued event %u",
                      static_cast<unsigned>(type), name, static_cast<unsigned>(e->type));
        return;
      }
      if (type == UPNP_CP_EVENT_REMOVED && e->type == UPNP_CP_EVENT_ADDED) {
        upnp_log_impl(LOG_LEVEL_DEBUG, LOG_SYSTEM, __func__, "Dropping queued event %u for %s due to event %u",
                      static_cast<unsigned>(e->type), name, static_cast<unsigned>(type));
        unlink_event(e);
        free_event(e);
        return;
      }
      break;  // added after a queued removed: appended
    }
  }
  auto *event = static_cast<Event *>(upnp_calloc_impl(1, sizeof(Event)));
  char *copy = upnp_strdup_impl(name);
  if (event == nullptr || copy == nullptr) {
    upnp_free_impl(event);
    upnp_free_impl(copy);
    return;
  }
  event->type = type;
  event->kind = kind;
  event->index = index;
  event->name = copy;
  event->previous = g_tail;
  if (g_tail != nullptr) g_tail->next = event; else g_head = event;
  g_tail = event;
}

int cp_notifier_deliver_one(void) {
  if (!upnp_cp_lock_section()) return 0;
  Event *event = g_head;
  upnp_control_callback callback = g_callback;
  if (event != nullptr) unlink_event(event);
  upnp_cp_unlock_section();
  if (event == nullptr) return 0;
  if (callback != nullptr) callback(event->type, event->kind, event->index, event->name);
  free_event(event);
  return 1;
}

extern "C" void upnp_control_register_callback(upnp_control_callback callback) {
  if (!upnp_cp_lock_section()) return;
  g_callback = callback;
  upnp_cp_unlock_section();
}

extern "C" void upnp_control_register_and_fire_callback(upnp_control_callback callback, int fire_servers,
                                                        int fire_renderers) {
  if (!upnp_cp_lock_section()) return;
  g_callback = callback;
  if (callback != nullptr) {
    for (int kind = UPNP_CP_KIND_SERVER; kind <= UPNP_CP_KIND_RENDERER; ++kind) {
      if ((kind == UPNP_CP_KIND_SERVER && !fire_servers) || (kind == UPNP_CP_KIND_RENDERER && !fire_renderers)) continue;
      upnp_cp_table *table = cp_table(kind);
      for (int i = 0; i < table->size; ++i) {
        if (cp_is_usable(&table->slots[i])) cp_notify_locked(UPNP_CP_EVENT_ADDED, kind, i, table->slots[i].name);
      }
    }
  }
  upnp_cp_unlock_section();
}
