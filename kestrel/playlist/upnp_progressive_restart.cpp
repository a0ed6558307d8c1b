// Restarts of the download at another block: one at a time, on a short-lived
// thread that retires the old request (its callbacks are ignored from then
// on and its record is freed) and makes the new one.
#include <cinttypes>

#include "base/upnp_log.h"
#include "base/upnp_thread.h"
#include "playlist/upnp_progressive_internal.h"

namespace {

constexpr int kEndWaitSteps = 1000;
constexpr unsigned int kEndWaitStepMs = 10;
constexpr time_t kRetryAfterFailureS = 4;
constexpr int kRestartWaitSteps = 100;
constexpr unsigned int kRestartWaitStepMs = 100;

void *DownloadRestartThread(void *) {
  upnp_init_thread("DOWNLOAD_RESTART");
  download_status &g = g_DownloadStatus;
  EnterCriticalSection(&g.lock);
  StreamInfo *old = g.retired;
  char *old_buffer = g.retired_buffer;
  g.retired = nullptr;
  g.retired_buffer = nullptr;
  const int64_t offset = g.restart_offset;
  LeaveCriticalSection(&g.lock);
  // The previous request ends first (stopped, ended or failed).
  if (old) {
    upnp_renderer_stop_stream(old);
    int steps = 0;
    for (; steps < kEndWaitSteps; steps++) {
      EnterCriticalSection(&old->lock);
      bool ended = old->state >= STREAM_EVENT_STOPPED && old->receiver == 0;
      LeaveCriticalSection(&old->lock);
      if (ended) break;
      Sleep(kEndWaitStepMs);
    }
    if (steps == kEndWaitSteps)
      upnp_log_impl(LOG_LEVEL_WARNING, LOG_SYSTEM, __func__, "The previous request did not end; replacing it");
  }
  download_free_stream(old, old_buffer);
  EnterCriticalSection(&g.lock);
  // A cancel in the meantime leaves the download idle.
  bool go = g.state == DOWNLOAD_STATE_RESTARTING;
  LeaveCriticalSection(&g.lock);
  upnp_log_impl(LOG_LEVEL_INFO, LOG_SYSTEM, __func__, "Restarting the download at %" PRId64, offset);
  // The start lets the next restart in as its request becomes current.
  if (go) {
    DownloadStartInternal(offset, DOWNLOAD_STATE_RESTARTING);
  } else {
    EnterCriticalSection(&g.lock);
    g.restart_busy = 0;
    LeaveCriticalSection(&g.lock);
  }
  return nullptr;
}

}  // namespace

int download_schedule_restart(int64_t offset, StreamInfo *from) {
  download_status &g = g_DownloadStatus;
  EnterCriticalSection(&g.lock);
  if (g.restart_busy || (from && g.stream != from)) {
    LeaveCriticalSection(&g.lock);
    return 0;
  }
  g.restart_busy = 1;
  g.restart_offset = offset > 0 ? offset - offset % DOWNLOAD_BLOCK_SIZE : 0;
  g.retired = g.stream;
  g.retired_buffer = g.stream_buffer;
  g.stream = nullptr;
  g.stream_buffer = nullptr;
  uint32_t previous = g.state;
  download_set_state_locked(DOWNLOAD_STATE_RESTARTING);
  LeaveCriticalSection(&g.lock);
  if (upnp_start_detached_thread(DownloadRestartThread, nullptr, 5)) return 1;
  upnp_log_impl(LOG_LEVEL_ERROR, LOG_SYSTEM, __func__, "Cannot start the restart thread");
  EnterCriticalSection(&g.lock);
  g.stream = g.retired;
  g.stream_buffer = g.retired_buffer;
  g.retired = nullptr;
  g.retired_buffer = nullptr;
  g.restart_busy = 0;
  download_set_state_locked(previous == DOWNLOAD_STATE_RESTARTING ? static_cast<uint32_t>(DOWNLOAD_STATE_FAILED) : previous);
  LeaveCriticalSection(&g.lock);
  return 0;
}

int DownloadTryRestart(int64_t offset) {
  download_status &g = g_DownloadStatus;
  EnterCriticalSection(&g.lock);
  bool allowed = g.state == DOWNLOAD_STATE_FAILED && time(nullptr) - g.failed_at >= kRetryAfterFailureS;
  if (allowed) g.failed_at = time(nullptr);
  LeaveCriticalSection(&g.lock);
  return allowed ? download_schedule_restart(offset, nullptr) : 0;
}

int DownloadRestartInternal(int64_t offset) {
  download_setup();
  download_status &g = g_DownloadStatus;
  uint32_t state = DownloadGetState();
  if (state == DOWNLOAD_STATE_COMPLETE) return STREAM_OK;
  if (state == DOWNLOAD_STATE_IDLE || state == DOWNLOAD_STATE_NONE) return STREAM_FAILED;
  int steps = 0;
  while (!download_schedule_restart(offset, nullptr)) {
    if (++steps >= kRestartWaitSteps) return STREAM_FAILED;
    Sleep(kRestartWaitStepMs);
  }
  for (steps = 0; steps < kRestartWaitSteps; steps++) {
    EnterCriticalSection(&g.lock);
    bool done = !g.restart_busy;
    uint32_t now = g.state;
    LeaveCriticalSection(&g.lock);
    if (done) return now == DOWNLOAD_STATE_FAILED || now == DOWNLOAD_STATE_IDLE ? STREAM_FAILED : STREAM_OK;
    Sleep(kRestartWaitStepMs);
  }
  return STREAM_FAILED;
}
