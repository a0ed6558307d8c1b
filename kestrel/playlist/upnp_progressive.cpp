// The progressive download's interface: start or resume with the reader's
// file stream, status and cancel.
#include <cstring>

#include "base/upnp_log.h"
#include "base/upnp_mem.h"
#include "base/upnp_thread.h"
#include "playlist/upnp_progressive_internal.h"

namespace {

constexpr int kCancelWaitSteps = 100;
constexpr unsigned int kCancelWaitStepMs = 100;

bool same_text(const char *a, const char *b) { return a && b && std::strcmp(a, b) == 0; }

int cache_wait(int64_t from, int64_t to) { return download_wait_step(from, to); }

// Replaces the reader whose use is held (none: just drops it).
void set_reader(StreamInfo *reader) {
  download_status &g = g_DownloadStatus;
  if (reader) reader->use_count.fetch_add(1);
  EnterCriticalSection(&g.lock);
  StreamInfo *old = g.reader;
  g.reader = reader;
  LeaveCriticalSection(&g.lock);
  if (old) {
    upnp_renderer_stop_stream(old);
    upnp_renderer_decrease_streaminfo_use(old);
  }
}

// Takes the download's URL and paths: 0 done, else the refusal.
int take_download(const char *url, const char *path) {
  download_status &g = g_DownloadStatus;
  // The writer reads the paths under write_lock alone.
  EnterCriticalSection(&g.write_lock);
  EnterCriticalSection(&g.lock);
  int result = 0;
  if (same_text(g.url, url) && same_text(g.path, path)) {
    // Busy with its own start or restart.
    if (g.state == DOWNLOAD_STATE_STARTING || g.state == DOWNLOAD_STATE_RESTARTING) result = STREAM_FAILED;
  } else {
    if (g.state == DOWNLOAD_STATE_COMPLETE || g.state == DOWNLOAD_STATE_FAILED) download_set_state_locked(DOWNLOAD_STATE_IDLE);
    if (g.state != DOWNLOAD_STATE_IDLE || g.stream || g.restart_busy) {
      result = STREAM_FAILED;
    } else {
      size_t n = std::strlen(path);
      char *map_path = static_cast<char *>(upnp_malloc_impl(n + 4));
      char *u = upnp_strdup_impl(url), *p = upnp_strdup_impl(path);
      if (!map_path || !u || !p) {
        upnp_free_impl(map_path);
        upnp_free_impl(u);
        upnp_free_impl(p);
        result = STREAM_FAILED;
      } else {
        std::memcpy(map_path, path, n);
        std::memcpy(map_path + n, "_bm", 4);
        upnp_free_impl(g.url);
        upnp_free_impl(g.path);
        upnp_free_impl(g.map_path);
        upnp_free_impl(g.content_type);
        g.url = u;
        g.path = p;
        g.map_path = map_path;
        g.content_type = nullptr;
        g.total = 0;
        g.marks.clear();
      }
    }
  }
  LeaveCriticalSection(&g.lock);
  LeaveCriticalSection(&g.write_lock);
  return result;
}

}  // namespace

int upnp_renderer_get_progressive_stream(char *buffer, uint32_t size, const char *url, const char *local_path,
                                         const char *content_type, int64_t start_offset,
                                         upnp_stream_callback callback, StreamInfo **handle) {
  if (handle) *handle = nullptr;
  if (!url || !local_path || !*url || !*local_path || start_offset < 0 || std::strlen(url) > DOWNLOAD_MAX_TEXT ||
      std::strlen(local_path) > DOWNLOAD_MAX_TEXT)
    return STREAM_MISSING_ARGUMENT;
  if (handle && (!buffer || size == 0 || !callback)) return STREAM_MISSING_ARGUMENT;
  download_setup();
  upnp_renderer_set_cache_wait(cache_wait);
  int refused = take_download(url, local_path);
  if (refused) return refused;
  uint32_t state = DownloadGetState();
  int result = STREAM_OK;
  // A running download of the same file goes on; any other starts (again).
  if (state != DOWNLOAD_STATE_DOWNLOADING && state != DOWNLOAD_STATE_COMPLETE)
    result = DownloadStartInternal(start_offset, DOWNLOAD_STATE_STARTING);
  if (!handle || result != STREAM_OK) return result;
  if (!wait_for_offset(start_offset)) return STREAM_FAILED;
  download_status &g = g_DownloadStatus;
  EnterCriticalSection(&g.lock);
  char *type = upnp_strdup_impl(content_type ? content_type : g.content_type ? g.content_type : "application/octet-stream");
  char *path = upnp_strdup_impl(g.path);
  LeaveCriticalSection(&g.lock);
  if (type && path)
    result = upnp_renderer_get_file_stream_int(buffer, size, path, type, start_offset, callback, handle);
  else
    result = STREAM_FAILED;
  upnp_free_impl(type);
  upnp_free_impl(path);
  if (result == STREAM_OK) set_reader(*handle);
  return result;
}

void upnp_renderer_progressive_status(int64_t *position, int64_t *total, uint32_t *state) {
  download_status &g = g_DownloadStatus;
  int64_t p = 0, t = 0;
  uint32_t s = DOWNLOAD_STATE_NONE;
  if (g.ready.load()) {
    EnterCriticalSection(&g.lock);
    p = download_readable_locked();
    t = g.total;
    s = g.state;
    LeaveCriticalSection(&g.lock);
  }
  if (position) *position = p;
  if (total) *total = t;
  if (state) *state = s;
}

void upnp_renderer_cancel_progressive(void) {
  download_status &g = g_DownloadStatus;
  if (!g.ready.load()) return;
  set_reader(nullptr);
  // A restart in progress finishes (bounded) before the request is taken.
  for (int steps = 0; steps < kCancelWaitSteps; steps++) {
    EnterCriticalSection(&g.lock);
    bool busy = g.restart_busy;
    // A restart that has not made its request yet makes none.
    if (g.state == DOWNLOAD_STATE_RESTARTING) download_set_state_locked(DOWNLOAD_STATE_IDLE);
    LeaveCriticalSection(&g.lock);
    if (!busy) break;
    Sleep(kCancelWaitStepMs);
  }
  EnterCriticalSection(&g.lock);
  StreamInfo *stream = g.stream;
  char *buffer = g.stream_buffer;
  g.stream = nullptr;
  g.stream_buffer = nullptr;
  LeaveCriticalSection(&g.lock);
  download_free_stream(stream, buffer);
  EnterCriticalSection(&g.write_lock);
  download_close_files();
  g.fill = 0;
  LeaveCriticalSection(&g.write_lock);
  EnterCriticalSection(&g.lock);
  download_set_state_locked(DOWNLOAD_STATE_IDLE);
  LeaveCriticalSection(&g.lock);
}
