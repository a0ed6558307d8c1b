// The reader's waits: until the bytes it is about to read are written, as
// the block map tells, restarting a failed download on the way.
#include "base/upnp_thread.h"
#include "playlist/upnp_progressive_internal.h"

namespace {
constexpr int kStepsPerCall = 10;
constexpr unsigned int kStepMs = 10;
// 300 calls of about 100 ms: the 30 s a reader waits before it gives up.
constexpr int kCalls = 300;
}  // namespace

int download_wait_step(int64_t from, int64_t to) {
  download_status &g = g_DownloadStatus;
  if (!g.ready.load()) return -1;
  for (int step = 0; step < kStepsPerCall; step++) {
    EnterCriticalSection(&g.lock);
    uint32_t state = g.state;
    bool known = g.total > 0 && static_cast<int64_t>(g.marks.size()) == download_block_count(g.total);
    bool ready = known && download_range_ready_locked(from, to);
    LeaveCriticalSection(&g.lock);
    if (ready) return 1;
    if (state == DOWNLOAD_STATE_IDLE || state == DOWNLOAD_STATE_NONE) return -1;
    if (state == DOWNLOAD_STATE_FAILED) DownloadTryRestart(from);
    Sleep(kStepMs);
  }
  return 0;
}

int wait_for_offset(int64_t offset) {
  download_status &g = g_DownloadStatus;
  if (offset < 0) offset = 0;
  for (int call = 0; call < kCalls; call++) {
    EnterCriticalSection(&g.lock);
    int64_t at = g.total > 0 && offset >= g.total ? g.total - 1 : offset;
    LeaveCriticalSection(&g.lock);
    int r = download_wait_step(at, at + 1);
    if (r != 0) return r > 0 ? 1 : 0;
  }
  return 0;
}

int wait_for_wma_header(void) { return wait_for_offset(DOWNLOAD_BLOCK_SIZE); }
