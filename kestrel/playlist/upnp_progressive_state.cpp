// The download status record: its locks, the state under the lock, the stop
// of a download, and the reader's retrying read.
#include <unistd.h>

#include <cerrno>
#include <mutex>

#include "base/upnp_log.h"
#include "base/upnp_thread.h"
#include "playlist/upnp_progressive_internal.h"

download_status g_DownloadStatus;

namespace {
std::once_flag g_setup_once;
constexpr int kSharedReadTries = 1000;
constexpr unsigned int kSharedReadStepMs = 10;
}  // namespace

void download_setup(void) {
  std::call_once(g_setup_once, [] {
    InitializeCriticalSection(&g_DownloadStatus.write_lock);
    InitializeCriticalSection(&g_DownloadStatus.lock);
    g_DownloadStatus.state = DOWNLOAD_STATE_IDLE;
    g_DownloadStatus.ready.store(1);
  });
}

void download_set_state_locked(uint32_t state) {
  download_status &g = g_DownloadStatus;
  if (state == DOWNLOAD_STATE_FAILED && g.state != DOWNLOAD_STATE_FAILED) g.failed_at = time(nullptr);
  g.state = state;
}

uint32_t DownloadGetState(void) {
  download_status &g = g_DownloadStatus;
  if (!g.ready.load()) return DOWNLOAD_STATE_NONE;
  EnterCriticalSection(&g.lock);
  uint32_t state = g.state;
  LeaveCriticalSection(&g.lock);
  return state;
}

void DownloadSetState(uint32_t state) {
  download_setup();
  download_status &g = g_DownloadStatus;
  EnterCriticalSection(&g.lock);
  download_set_state_locked(state);
  LeaveCriticalSection(&g.lock);
}

// A failed download stays failed, so that the reader's wait still sees why
// its data does not come and tries a restart.
// A request that has been replaced stops nothing.
void DownloadStop(StreamInfo *request) {
  download_status &g = g_DownloadStatus;
  EnterCriticalSection(&g.write_lock);
  EnterCriticalSection(&g.lock);
  bool current = g.stream == request;
  if (current) {
    if (g.state == DOWNLOAD_STATE_RESTARTING)
      g.state = DOWNLOAD_STATE_STARTING;
    else if (g.state != DOWNLOAD_STATE_COMPLETE && g.state != DOWNLOAD_STATE_FAILED)
      g.state = DOWNLOAD_STATE_IDLE;
  }
  LeaveCriticalSection(&g.lock);
  if (current) download_close_files();
  LeaveCriticalSection(&g.write_lock);
}

ssize_t upnp_shared_read(int fd, void *buffer, size_t size) {
  for (int tries = 0;; ) {
    ssize_t n = read(fd, buffer, size);
    if (n >= 0) return n;
    if (errno == EINTR) continue;
    if ((errno != EACCES && errno != EAGAIN) || ++tries >= kSharedReadTries) return -1;
    Sleep(kSharedReadStepMs);
  }
}
