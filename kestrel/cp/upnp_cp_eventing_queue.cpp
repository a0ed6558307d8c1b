// The event queue of accepted subscription events (its own lock, the event
// lock), the two callbacks, the notifier's delivery, and the module's init
// and exit (which register and unregister the NOTIFY handler).
#include <atomic>
#include <cstring>

#include "base/upnp_critsec.h"
#include "base/upnp_log.h"
#include "base/upnp_mem.h"
#include "base/upnp_thread.h"
#include "cp/upnp_cp_eventing.h"
#include "cp/upnp_cp_eventing_internal.h"
#include "cp/upnp_cp_notifier_wake.h"
#include "http/http_methods.h"

namespace {

struct QueuedEvent {
  char *body;
  uint32_t sequence;
  int index;
  int kind;
  unsigned int service;
  QueuedEvent *next;
};

CRITICAL_SECTION g_event_lock;
std::atomic<bool> g_event_lock_ready{false};
QueuedEvent *g_head = nullptr;
QueuedEvent *g_tail = nullptr;
std::atomic<upnp_cp_subscription_callback> g_subscription_callback{nullptr};
std::atomic<upnp_cp_notification_callback> g_notification_callback{nullptr};

bool lock_events() {
  if (!g_event_lock_ready.load()) return false;
  EnterCriticalSection(&g_event_lock);
  return true;
}

void unlock_events() { LeaveCriticalSection(&g_event_lock); }

void free_event(QueuedEvent *event) {
  upnp_free_impl(event->body);
  upnp_free_impl(event);
}

// Takes the whole queue out (event lock held).
QueuedEvent *take_all_locked() {
  QueuedEvent *all = g_head;
  g_head = g_tail = nullptr;
  return all;
}

void free_list(QueuedEvent *event) {
  while (event != nullptr) {
    QueuedEvent *next = event->next;
    free_event(event);
    event = next;
  }
}

void empty_queue() {
  if (!lock_events()) return;
  QueuedEvent *all = take_all_locked();
  unlock_events();
  free_list(all);
}

}  // namespace

extern "C" void upnp_cp_eventing_init(void) {
  if (!g_event_lock_ready.load()) {
    InitializeCriticalSection(&g_event_lock);
    g_event_lock_ready.store(true);
  }
  empty_queue();
  cp_eventing_reset_stats();
  if (!upnp_http_handler_is_registered(upnp_eventing_notify)) {
    // Every NOTIFY, whatever its path (a bare "/" reads as the empty path).
    // The body is read by the handler itself, under its own bound.
    upnp_http_register_handler(upnp_eventing_notify, HTTP_METHOD_NOTIFY, "", 0, 1);
  }
}

extern "C" void upnp_cp_eventing_exit(void) {
  if (!g_event_lock_ready.load()) return;
  empty_queue();
  // Threads that checked the lock a moment ago get out of it first.
  g_event_lock_ready.store(false);
  Sleep(50);
  EnterCriticalSection(&g_event_lock);
  QueuedEvent *all = take_all_locked();
  LeaveCriticalSection(&g_event_lock);
  free_list(all);
  DeleteCriticalSection(&g_event_lock);
}

extern "C" void upnp_cp_register_subscription_callback(upnp_cp_subscription_callback callback) {
  g_subscription_callback.store(callback);
  if (callback == nullptr) empty_queue();
}

extern "C" void upnp_cp_register_notification_callback(upnp_cp_notification_callback callback) {
  g_notification_callback.store(callback);
}

upnp_cp_notification_callback cp_eventing_notification_callback(void) { return g_notification_callback.load(); }

extern "C" int upnp_cp_add_subscription_event(const char *body, uint32_t sequence, int index, int kind,
                                              unsigned int service) {
  if (g_subscription_callback.load() == nullptr) return 200;
  auto *event = static_cast<QueuedEvent *>(upnp_calloc_impl(1, sizeof(QueuedEvent)));
  char *copy = upnp_strdup_impl(body != nullptr ? body : "");
  if (event == nullptr || copy == nullptr) {
    upnp_free_impl(event);
    upnp_free_impl(copy);
    upnp_log_impl(LOG_LEVEL_ERROR, LOG_EVENTING, __func__, "Out of memory");
    return 500;
  }
  event->body = copy;
  event->sequence = sequence;
  event->index = index;
  event->kind = kind;
  event->service = service;
  if (!lock_events()) {
    free_event(event);
    return 500;
  }
  if (g_tail != nullptr) g_tail->next = event; else g_head = event;
  g_tail = event;
  unlock_events();
  cp_notifier_wake();
  return 200;
}

extern "C" void processSubscriptionEvents(void) {
  if (g_subscription_callback.load() == nullptr) {
    empty_queue();
    return;
  }
  for (;;) {
    if (!lock_events()) return;
    QueuedEvent *event = g_head;
    if (event != nullptr) {
      g_head = event->next;
      if (g_head == nullptr) g_tail = nullptr;
    }
    unlock_events();
    if (event == nullptr) return;
    upnp_cp_subscription_callback callback = g_subscription_callback.load();
    if (callback != nullptr) callback(event->kind, event->index, event->service, event->sequence, event->body);
    free_event(event);
  }
}

extern "C" int upnp_cp_eventing_queued(void) {
  if (!lock_events()) return 0;
  int count = 0;
  for (QueuedEvent *e = g_head; e != nullptr; e = e->next) ++count;
  unlock_events();
  return count;
}
