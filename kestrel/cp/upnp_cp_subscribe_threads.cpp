// The subscribe and unsubscribe threads ("CP_HANDLE_SUBSCRIBE",
// "CP_HANDLE_UNSUBSCRIBE"), automatic subscription of a device, the
// resubscription times with the scheduler's renewal step, and the cancels at
// control-point exit.
#include <atomic>
#include <cstring>

#include "base/upnp_log.h"
#include "base/upnp_mem.h"
#include "base/upnp_thread.h"
#include "cp/upnp_cp_eventing.h"
#include "cp/upnp_cp_eventing_internal.h"
#include "cp/upnp_cp_internal.h"

namespace {

// A subscribed device whose subscription got lost (failed renewal, reloaded
// description) is tried again after this many seconds.
const uint64_t kRetrySeconds = 60;

uint64_t g_next_resubscription = 0;  // under the control-point lock
std::atomic<int> g_cancels{0};

struct Job {
  int kind;
  int index;
  char *udn;
};

int lock_fn(void) { return upnp_cp_lock_section(); }
void unlock_fn(void) { upnp_cp_unlock_section(); }

bool same_device(const upnp_cp_device *d, const char *udn) {
  return d != nullptr && d->udn != nullptr && udn != nullptr && std::strcmp(d->udn, udn) == 0;
}

// When a subscription is half way through its time and due for renewal.
uint64_t half_time(const upnp_cp_service *s) {
  return s->subscribed_at + static_cast<uint64_t>(s->timeout > 0 ? s->timeout : 0) / 2;
}

// The thread's start: names the thread and takes over the job.
Job begin_job(const char *thread_name, void *argument) {
  upnp_init_thread(thread_name);
  Job job = *static_cast<Job *>(argument);
  upnp_free_impl(argument);
  return job;
}

void lower_next_time(uint64_t time) {
  if (g_next_resubscription == 0 || time < g_next_resubscription) g_next_resubscription = time;
}

// The device's next renewal time (lock held): the earliest half-time of its
// subscriptions, or a retry time when one of them is missing.
uint64_t device_time(const upnp_cp_device *d, uint64_t now) {
  upnp_cp_service *services[2];
  int count = cp_device_services(d, services);
  uint64_t earliest = 0;
  for (int i = 0; i < count; ++i) {
    const upnp_cp_service *s = services[i];
    uint64_t t = s->subscribed_at != 0 ? half_time(s) : now + kRetrySeconds;
    if (earliest == 0 || t < earliest) earliest = t;
  }
  return earliest;
}

void register_times_locked(const upnp_cp_device *d) {
  uint64_t t = device_time(d, upnp_cp_now());
  if (t != 0) lower_next_time(t);
}

bool due(const upnp_cp_device *d, uint64_t now) {
  upnp_cp_service *services[2];
  int count = cp_device_services(d, services);
  for (int i = 0; i < count; ++i) {
    const upnp_cp_service *s = services[i];
    if (s->subscribed_at == 0) return true;  // lost: subscribe again
    if (half_time(s) <= now) return true;
  }
  return false;
}

// Whether a wanted subscription of the device is missing (lock held).
bool lost(const upnp_cp_device *d) {
  upnp_cp_service *services[2];
  int count = cp_device_services(d, services);
  for (int i = 0; i < count; ++i)
    if (services[i]->subscribed_at == 0) return true;
  return false;
}

void *subscribe_thread(void *argument) {
  Job job = begin_job("CP_HANDLE_SUBSCRIBE", argument);
  upnp_cp_device *d = nullptr;
  if (upnp_cp_lock_section()) {
    if (getDeviceInfo(job.index, job.kind, 1, 1, &d) != UPNP_CP_OK || !same_device(d, job.udn)) d = nullptr;
    if (d != nullptr)
      upnp_log_impl(LOG_LEVEL_INFO, LOG_EVENTING, "handleSubscribeRequest",
                    "handleSubscribeRequest (re-)subscribing to %s %s (%s)", upnp_cp_kind_name(job.kind),
                    d->name ? d->name : "", d->udn);
    upnp_cp_unlock_section();
  }
  if (d != nullptr) {
    int result = upnp_cp_subscribe_device(d, lock_fn, unlock_fn);
    // No connection: an accessible device is invalidated (and verified).
    if (result == 3) invalidateDevice(job.index, job.kind);
    if (upnp_cp_lock_section()) {
      upnp_cp_device *now = cp_slot(job.index, job.kind);
      if (same_device(now, job.udn) && now->kind_record != nullptr) {
        if (result == 0 && cp_is_usable(now)) now->subscribed = 1;
        // A device that keeps its flag with a subscription missing is
        // tried again later.
        if (now->subscribed) register_times_locked(now);
      }
      upnp_cp_unlock_section();
    }
  }
  upnp_free_impl(job.udn);
  cp_worker_ended();
  return nullptr;
}

void *unsubscribe_thread(void *argument) {
  Job job = begin_job("CP_HANDLE_UNSUBSCRIBE", argument);
  upnp_cp_device *d = nullptr;
  if (upnp_cp_lock_section()) {
    d = cp_slot(job.index, job.kind);
    if (same_device(d, job.udn) && d->kind_record != nullptr) {
      d->subscribed = 0;
      upnp_log_impl(LOG_LEVEL_INFO, LOG_EVENTING, "handleUnsubscribeRequest",
                    "handleUnsubscribeRequest unsubscribing from %s %s (%s)", upnp_cp_kind_name(job.kind),
                    d->name ? d->name : "", d->udn);
    } else {
      d = nullptr;
    }
    upnp_cp_unlock_section();
  }
  if (d != nullptr) upnp_cp_unsubscribe_device(d, lock_fn, unlock_fn);
  upnp_free_impl(job.udn);
  g_cancels.fetch_sub(1);
  cp_worker_ended();
  return nullptr;
}

// Starts a thread for the device at (kind, index) (lock held).
bool start(bool subscribe, int kind, int index, const upnp_cp_device *d) {
  auto *job = static_cast<Job *>(upnp_calloc_impl(1, sizeof(Job)));
  char *udn = d->udn != nullptr ? upnp_strdup_impl(d->udn) : nullptr;
  if (job == nullptr || udn == nullptr) {
    upnp_free_impl(job);
    upnp_free_impl(udn);
    return false;
  }
  job->kind = kind;
  job->index = index;
  job->udn = udn;
  cp_worker_started();
  if (!subscribe) g_cancels.fetch_add(1);
  if (!upnp_start_detached_thread(subscribe ? subscribe_thread : unsubscribe_thread, job, UPNP_THREAD_LEVEL_DEFAULT)) {
    if (!subscribe) g_cancels.fetch_sub(1);
    cp_worker_ended();
    upnp_free_impl(udn);
    upnp_free_impl(job);
    return false;
  }
  return true;
}

}  // namespace

extern "C" int upnp_control_enable_auto_subscription(int index, int on, int kind) {
  if (!upnp_cp_lock_section()) return UPNP_CP_GOING_DOWN;
  upnp_cp_device *d = nullptr;
  int result = getDeviceInfo(index, kind, 1, 1, &d);
  if (result == UPNP_CP_OK && kind != UPNP_CP_KIND_SERVER && kind != UPNP_CP_KIND_RENDERER) result = UPNP_CP_INVALID_PARAMETER;
  // Asked again while subscriptions of a flagged device are missing (lost
  // in a failed renewal or with a reloaded description): subscribe again.
  bool missing = on != 0 && result == UPNP_CP_OK && d->subscribed != 0 && lost(d);
  if (result == UPNP_CP_OK && ((d->subscribed != 0) != (on != 0) || missing)) {
    if (!start(on != 0, d->kind, index == UPNP_CP_LOCAL_RENDERER_INDEX ? static_cast<int>(d - cp_table(kind)->slots) : index, d))
      result = UPNP_CP_OUT_OF_MEMORY;
  }
  upnp_cp_unlock_section();
  return result;
}

extern "C" uint64_t upnp_cp_next_resubscription_time(void) {
  if (!upnp_cp_lock_section()) return 0;
  uint64_t t = g_next_resubscription;
  upnp_cp_unlock_section();
  return t;
}

void cp_eventing_reset_times(void) {
  if (!upnp_cp_lock_section()) return;
  g_next_resubscription = 0;
  upnp_cp_unlock_section();
}

void cp_eventing_resubscribe_tick(uint64_t now) {
  if (!upnp_cp_lock_section()) return;
  if (g_next_resubscription != 0 && g_next_resubscription <= now) {
    g_next_resubscription = 0;
    for (int kind = UPNP_CP_KIND_SERVER; kind <= UPNP_CP_KIND_RENDERER; ++kind) {
      upnp_cp_table *table = cp_table(kind);
      for (int i = 0; table != nullptr && i < table->size; ++i) {
        upnp_cp_device *d = &table->slots[i];
        if (!d->subscribed) continue;
        if (!cp_is_usable(d)) {
          // Invalidated or reloading: looked at again later.
          if (d->kind_record != nullptr) lower_next_time(now + kRetrySeconds);
          continue;
        }
        if (due(d, now)) {
          if (!start(true, kind, i, d)) lower_next_time(now + kRetrySeconds);
        } else {
          register_times_locked(d);
        }
      }
    }
  }
  upnp_cp_unlock_section();
}

void cp_eventing_cancel_all(void) {
  int started = 0;
  if (upnp_cp_lock_section()) {
    for (int kind = UPNP_CP_KIND_SERVER; kind <= UPNP_CP_KIND_RENDERER; ++kind) {
      upnp_cp_table *table = cp_table(kind);
      for (int i = 0; table != nullptr && i < table->size; ++i) {
        upnp_cp_device *d = &table->slots[i];
        if (d->subscribed && d->kind_record != nullptr && start(false, kind, i, d)) ++started;
      }
    }
    upnp_cp_unlock_section();
  }
  if (started == 0) return;
  Sleep(500);
  // The cancels are bounded by the exchange's time limits; wait for them
  // while the network still runs.
  for (int waited = 0; g_cancels.load() > 0 && waited < 2 * UPNP_CP_GENA_IO_TIMEOUT_MS + 1000; waited += 10) Sleep(10);
}

extern "C" char *upnp_cp_get_service_sid(int index, int kind, unsigned int service) {
  if (!upnp_cp_lock_section()) return nullptr;
  char *copy = nullptr;
  upnp_cp_device *d = nullptr;
  if (getDeviceInfo(index, kind, 1, 0, &d) == UPNP_CP_OK && d->kind_record != nullptr) {
    const upnp_cp_service *s = nullptr;
    if (kind == UPNP_CP_KIND_RENDERER && service == UPNP_CP_SERVICE_AVT)
      s = &static_cast<upnp_cp_renderer_record *>(d->kind_record)->avt;
    else if (kind == UPNP_CP_KIND_RENDERER && service == UPNP_CP_SERVICE_RC)
      s = &static_cast<upnp_cp_renderer_record *>(d->kind_record)->rc;
    else if (kind == UPNP_CP_KIND_SERVER && service == UPNP_CP_SERVICE_CDS)
      s = &static_cast<upnp_cp_server_record *>(d->kind_record)->cds;
    if (s != nullptr && s->sid != nullptr && s->subscribed_at != 0) copy = upnp_strdup_impl(s->sid);
  }
  upnp_cp_unlock_section();
  return copy;
}

extern "C" int upnp_cp_is_subscribed(int index, int kind) {
  if (!upnp_cp_lock_section()) return 0;
  upnp_cp_device *d = cp_slot(index, kind);
  int subscribed = d != nullptr && d->subscribed ? 1 : 0;
  upnp_cp_unlock_section();
  return subscribed;
}
