// Expiry and revalidation: validation passes of the scheduler, invalidation
// after a failed action, renewal of the lists and the verifier
// ("CP_VERIFY_DEVICE").
#include <unistd.h>

#include <cstring>

#include "base/upnp_ini_file.h"
#include "base/upnp_log.h"
#include "base/upnp_mem.h"
#include "base/upnp_thread.h"
#include "cp/upnp_cp_internal.h"
#include "http/http_client.h"
#include "ssdp/upnp_ssdp.h"

namespace {

struct VerifyJob {
  int kind;
  int index;
};

int revalidate_time(void) { return upnp_ini_file_getInt(INI_REVALIDATE_TIME); }

bool reachable(const char *location) {
  int socket = HTTP_open(location);
  if (socket < 0 && upnp_cp_is_running()) {
    Sleep(200);
    socket = HTTP_open(location);
  }
  if (socket < 0) return false;
  close(socket);
  return true;
}

void *verifier_thread(void *argument) {
  upnp_init_thread("CP_VERIFY_DEVICE");
  VerifyJob job = *static_cast<VerifyJob *>(argument);
  upnp_free_impl(argument);
  char *location = nullptr, *udn = nullptr;
  uint32_t state = 0;
  if (upnp_cp_lock_section()) {
    upnp_cp_device *d = cp_slot(job.index, job.kind);
    if (d != nullptr && d->udn != nullptr && d->location != nullptr) {
      upnp_log_impl(LOG_LEVEL_INFO, LOG_SYSTEM, "verifyDevice", "Verifying %s %s at %s (%s): %s",
                    upnp_cp_kind_name(job.kind), d->name ? d->name : "", d->location, d->udn,
                    d->state == UPNP_CP_STATE_INVALIDATED ? "invalidated" : "revalidating");
      if (d->state == UPNP_CP_STATE_INVALIDATED || d->state == UPNP_CP_STATE_REVALIDATING) {
        state = d->state;
        location = upnp_strdup_impl(d->location);
        udn = upnp_strdup_impl(d->udn);
      }
    }
    upnp_cp_unlock_section();
  }
  if (location != nullptr && udn != nullptr) {
    bool connected = reachable(location);
    upnp_log_impl(LOG_LEVEL_INFO, LOG_SYSTEM, "verifyDevice", "Retrieved device description from %s (%s): %s", location,
                  udn, connected ? "yes" : "no");
    if ((connected || state == UPNP_CP_STATE_REVALIDATING) && upnp_cp_is_running() && upnp_cp_lock_section()) {
      upnp_cp_device *d = cp_slot(job.index, job.kind);
      if (d != nullptr && d->udn != nullptr && d->location != nullptr && std::strcmp(d->udn, udn) == 0 &&
          std::strcmp(d->location, location) == 0 &&
          (d->state == UPNP_CP_STATE_INVALIDATED || d->state == UPNP_CP_STATE_REVALIDATING)) {
        if (connected) {
          d->state = UPNP_CP_STATE_READY;
          d->reference_ms = cp_now_ms() + static_cast<uint64_t>(d->validity) * 1000u;
        } else {
          cp_delete_device_locked(d, job.index);
        }
      } else if (d != nullptr) {
        upnp_log_impl(LOG_LEVEL_INFO, LOG_SYSTEM, "verifyDevice", "Device or its state changed: %s->%s (%s->%s), state: %u",
                      udn, d->udn ? d->udn : "", location, d->location ? d->location : "", d->state);
      }
      upnp_cp_unlock_section();
    }
  }
  upnp_free_impl(location);
  upnp_free_impl(udn);
  cp_worker_ended();
  return nullptr;
}

}  // namespace

void cp_start_verifier(int kind, int index) {
  auto *job = static_cast<VerifyJob *>(upnp_malloc_impl(sizeof(VerifyJob)));
  if (job == nullptr) return;
  job->kind = kind;
  job->index = index;
  cp_worker_started();
  if (!upnp_start_detached_thread(verifier_thread, job, UPNP_THREAD_LEVEL_DEFAULT)) {
    cp_worker_ended();
    upnp_free_impl(job);
  }
}

extern "C" void validateDevices(uint64_t now, int kind) {
  if (!upnp_cp_lock_section()) return;
  upnp_cp_table *table = cp_table(kind);
  bool search = false;
  int revalidate = revalidate_time();
  for (int i = 0; table != nullptr && i < table->size; ++i) {
    upnp_cp_device &d = table->slots[i];
    if (d.state != UPNP_CP_STATE_READY && d.state != UPNP_CP_STATE_INVALIDATED &&
        d.state != UPNP_CP_STATE_REVALIDATING)
      continue;
    if (d.validity <= 0 || d.reference_ms == 0) continue;
    uint64_t reference = d.reference_ms / 1000;
    uint64_t end = reference + static_cast<uint64_t>(d.validity);
    if (end >= now) continue;
    bool invalidate = d.state == UPNP_CP_STATE_READY && revalidate >= 1;
    bool verify = d.state == UPNP_CP_STATE_REVALIDATING;
    upnp_log_impl(LOG_LEVEL_INFO, LOG_SYSTEM, __func__, "validateDevices %s %s (timeout) %s/%s: %llu+%u=%llu < %llu",
                  invalidate || verify ? "Invalidating" : "Removing", upnp_cp_kind_name(kind), d.udn ? d.udn : "",
                  d.location ? d.location : "", static_cast<unsigned long long>(reference),
                  static_cast<unsigned>(d.validity), static_cast<unsigned long long>(end),
                  static_cast<unsigned long long>(now));
    if (invalidate) {
      d.state = UPNP_CP_STATE_INVALIDATED;
      d.reference_ms = cp_now_ms();
      d.validity = revalidate;
      cp_start_verifier(kind, i);
      search = true;
    } else if (verify) {
      cp_start_verifier(kind, i);
    } else {
      cp_delete_device_locked(&d, i);
    }
  }
  upnp_cp_unlock_section();
  if (search) upnp_control_scan_net();
}

int cp_invalidate_locked(upnp_cp_device *d) {
  int revalidate = revalidate_time();
  if (revalidate < 1 || d == nullptr || !cp_is_usable(d)) return 0;
  upnp_log_impl(LOG_LEVEL_INFO, LOG_SYSTEM, "invalidateDevice", "In-/Revalidating device %s", d->name ? d->name : "");
  d->state = UPNP_CP_STATE_INVALIDATED;
  d->reference_ms = cp_now_ms();
  d->validity = revalidate;
  g_cp_expected_invalidation = d->reference_ms / 1000 + static_cast<uint64_t>(revalidate);
  return 1;
}

extern "C" void invalidateDevice(int index, int kind) {
  if (!upnp_cp_lock_section()) return;
  int search = cp_invalidate_locked(cp_slot(index, kind));
  upnp_cp_unlock_section();
  if (search) M_Search(1);
}

extern "C" uint64_t upnp_cp_renew_device_lists(int revalidation) {
  uint64_t expected = 0;
  if (upnp_cp_lock_section()) {
    int revalidate = revalidate_time();
    if (revalidate == 0) revalidate = 15;
    bool marked = false;
    uint64_t now = cp_now_ms();
    for (int kind = UPNP_CP_KIND_SERVER; kind <= UPNP_CP_KIND_RUIS; ++kind) {
      upnp_cp_table *table = cp_table(kind);
      for (int i = 0; i < table->size; ++i) {
        upnp_cp_device &d = table->slots[i];
        if (d.state != UPNP_CP_STATE_READY && d.state != UPNP_CP_STATE_RELOADING &&
            d.state != UPNP_CP_STATE_REVALIDATING)
          continue;
        d.state = UPNP_CP_STATE_REVALIDATING;
        d.reference_ms = now;
        d.validity = revalidate;
        marked = true;
      }
    }
    if (marked) {
      expected = now / 1000 + static_cast<uint64_t>(revalidate);
      g_cp_expected_invalidation = expected;
    }
    upnp_cp_unlock_section();
  }
  M_Search(revalidation);
  return expected;
}
