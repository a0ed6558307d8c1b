// The download's stream: starting a request, and what its events do to the
// files (saving chunks block by block, the end of the stream).
#include <cinttypes>
#include <cstring>

#include "base/upnp_log.h"
#include "base/upnp_mem.h"
#include "playlist/upnp_progressive_internal.h"

namespace {

enum { SAVE_OK, SAVE_FAILED, SAVE_DONE };

// A request's events change the download only while it is the current one:
// a restart may replace it at any moment (it does not take write_lock).
bool set_state_for(StreamInfo *info, uint32_t state) {
  download_status &g = g_DownloadStatus;
  EnterCriticalSection(&g.lock);
  bool current = g.stream == info;
  if (current) download_set_state_locked(state);
  LeaveCriticalSection(&g.lock);
  return current;
}

// After a block: when the next block is already written (an earlier run
// left it), the download moves on to the next missing one.
int DownloadFindNewStartPos(StreamInfo *info) {
  download_status &g = g_DownloadStatus;
  EnterCriticalSection(&g.lock);
  int64_t next = g.write_pos, first = 0;
  bool skip = next < g.total && static_cast<size_t>(next / DOWNLOAD_BLOCK_SIZE) < g.marks.size() &&
              g.marks[static_cast<size_t>(next / DOWNLOAD_BLOCK_SIZE)];
  if (skip) {
    DownloadGetFirstUnmarkedBlock(&first, next, nullptr);
    if (first >= g.total) DownloadGetFirstUnmarkedBlock(&first, 0, nullptr);
  }
  LeaveCriticalSection(&g.lock);
  if (!skip) return SAVE_OK;
  if (first >= g.total) {
    // The block map reaches the disk before the copy is called complete: a
    // reader that sees the state finds the map whole.
    download_flush_map();
    if (set_state_for(info, DOWNLOAD_STATE_COMPLETE)) download_close_files();
    return SAVE_DONE;
  }
  download_schedule_restart(first, info);
  return SAVE_DONE;
}

int save_chunk_locked(StreamInfo *info, uint32_t count) {
  download_status &g = g_DownloadStatus;
  EnterCriticalSection(&g.lock);
  uint32_t state = g.state;
  bool current = g.stream == info;
  LeaveCriticalSection(&g.lock);
  if (!current) return SAVE_DONE;
  if (state != DOWNLOAD_STATE_STARTING && state != DOWNLOAD_STATE_DOWNLOADING && state != DOWNLOAD_STATE_RESTARTING)
    return SAVE_FAILED;
  EnterCriticalSection(&info->lock);
  const int64_t position = info->position;
  const int64_t length = info->total_length;
  char *type = state != DOWNLOAD_STATE_DOWNLOADING ? upnp_strdup_impl(info->content_type) : nullptr;
  LeaveCriticalSection(&info->lock);
  if (state != DOWNLOAD_STATE_DOWNLOADING) {
    int64_t move_to = 0;
    int prepared = DownloadCreateFiles(length, &move_to);
    EnterCriticalSection(&g.lock);
    current = g.stream == info;
    if (current && type) {
      upnp_free_impl(g.content_type);
      g.content_type = type;
      type = nullptr;
    }
    if (current && prepared == DOWNLOAD_FILES_COMPLETE) download_set_state_locked(DOWNLOAD_STATE_COMPLETE);
    if (current && (prepared == DOWNLOAD_FILES_READY || prepared == DOWNLOAD_FILES_MOVE))
      download_set_state_locked(DOWNLOAD_STATE_DOWNLOADING);
    LeaveCriticalSection(&g.lock);
    upnp_free_impl(type);
    if (!current) return SAVE_DONE;
    if (prepared == DOWNLOAD_FILES_FAILED) return SAVE_FAILED;
    if (prepared == DOWNLOAD_FILES_COMPLETE) {
      download_close_files();
      return SAVE_DONE;
    }
    if (prepared == DOWNLOAD_FILES_MOVE) {
      download_schedule_restart(move_to, info);
      return SAVE_DONE;
    }
  }
  if (position != g.write_pos + g.fill) {
    upnp_log_impl(LOG_LEVEL_ERROR, LOG_SYSTEM, "DownloadSaveChunk",
                  "Chunk at %" PRId64 " does not continue the download at %" PRId64, position, g.write_pos + g.fill);
    return SAVE_FAILED;
  }
  const char *data = info->buffer;
  while (count > 0) {
    uint32_t take = DOWNLOAD_BLOCK_SIZE - g.fill;
    if (take > count) take = count;
    if (g.write_pos + g.fill + take > g.total) return SAVE_FAILED;  // more than the announced length
    std::memcpy(g.block + g.fill, data, take);
    g.fill += take;
    data += take;
    count -= take;
    // A block is written once full, or once it holds the last byte.
    if (g.fill == DOWNLOAD_BLOCK_SIZE || g.write_pos + g.fill == g.total) {
      if (!DownloadWriteBlock()) return SAVE_FAILED;
      int next = DownloadFindNewStartPos(info);
      if (next != SAVE_OK) return next;
    }
  }
  return SAVE_OK;
}

// The saved chunk's result: 1 asks the stream to stop (failure, or nothing
// more is wanted from this request).
int DownloadSaveChunk(StreamInfo *info, uint32_t count) {
  download_status &g = g_DownloadStatus;
  EnterCriticalSection(&g.write_lock);
  int result = save_chunk_locked(info, count);
  if (result == SAVE_FAILED && set_state_for(info, DOWNLOAD_STATE_FAILED)) download_close_files();
  LeaveCriticalSection(&g.write_lock);
  return result == SAVE_OK ? 0 : 1;
}

}  // namespace

void DownloadEOF(StreamInfo *info) {
  download_status &g = g_DownloadStatus;
  EnterCriticalSection(&g.write_lock);
  EnterCriticalSection(&g.lock);
  bool current = g.stream == info;
  LeaveCriticalSection(&g.lock);
  if (!current) {
    LeaveCriticalSection(&g.write_lock);
    return;
  }
  // A partial buffer is the last block only when it reaches the end; it was
  // written then. Any other partial buffer is dropped (fetched again).
  g.fill = 0;
  download_close_files();
  const uint32_t progress = g.blocks_this_request;
  LeaveCriticalSection(&g.write_lock);
  EnterCriticalSection(&g.lock);
  int64_t first = g.total;
  if (g.total > 0) DownloadGetFirstUnmarkedBlock(&first, 0, nullptr);
  bool complete = g.total > 0 && first >= g.total;
  // A request that brought no block at all would only repeat itself.
  bool give_up = !complete && progress == 0;
  current = g.stream == info;
  if (current && complete) download_set_state_locked(DOWNLOAD_STATE_COMPLETE);
  if (current && give_up) download_set_state_locked(DOWNLOAD_STATE_FAILED);
  LeaveCriticalSection(&g.lock);
  if (current && !complete && !give_up && !download_schedule_restart(first, info))
    set_state_for(info, DOWNLOAD_STATE_FAILED);
}

int DownloadStreamCallback(uint32_t count, StreamInfo *info) {
  download_status &g = g_DownloadStatus;
  EnterCriticalSection(&g.lock);
  bool current = g.stream == info;
  LeaveCriticalSection(&g.lock);
  if (!current) return 1;  // a replaced request: ignored
  EnterCriticalSection(&info->lock);
  uint32_t code = info->state;
  LeaveCriticalSection(&info->lock);
  switch (code) {
    case STREAM_EVENT_DATA:
      return DownloadSaveChunk(info, count);
    case STREAM_EVENT_STOPPED:
      DownloadStop(info);
      return 0;
    case STREAM_EVENT_END:
      DownloadEOF(info);
      return 0;
    default:
      if (code >= STREAM_EVENT_FAILURE) {
        EnterCriticalSection(&g.write_lock);
        if (set_state_for(info, DOWNLOAD_STATE_FAILED)) download_close_files();
        LeaveCriticalSection(&g.write_lock);
      }
      return 0;
  }
}

void download_free_stream(StreamInfo *stream, char *buffer) {
  if (stream) upnp_renderer_free_streaminfo(stream);
  upnp_free_impl(buffer);
}

int DownloadStartInternal(int64_t offset, uint32_t state) {
  download_status &g = g_DownloadStatus;
  // A restart's start ends the restart: at the latest when its request
  // becomes current, so that the request may restart elsewhere at once.
  struct restart_end {
    bool pending;
    ~restart_end() {
      if (!pending) return;
      EnterCriticalSection(&g_DownloadStatus.lock);
      g_DownloadStatus.restart_busy = 0;
      LeaveCriticalSection(&g_DownloadStatus.lock);
    }
  } end{state == DOWNLOAD_STATE_RESTARTING};
  if (DownloadGetState() == DOWNLOAD_STATE_COMPLETE) return STREAM_OK;
  if (state == DOWNLOAD_STATE_STARTING) {
    EnterCriticalSection(&g.lock);
    char *location = upnp_strdup_impl(g.url);
    LeaveCriticalSection(&g.lock);
    int bound = location && upnp_renderer_wmdrm_bind(location);
    upnp_free_impl(location);
    if (!bound) {
      DownloadSetState(DOWNLOAD_STATE_FAILED);
      return STREAM_FAILED;
    }
  }
  EnterCriticalSection(&g.write_lock);
  download_preload_map();
  EnterCriticalSection(&g.lock);
  // Requests start on a block boundary; blocks already written are skipped.
  int64_t start = offset > 0 ? offset - offset % DOWNLOAD_BLOCK_SIZE : 0;
  if (g.total > 0 && start < g.total) {
    int64_t first = start;
    DownloadGetFirstUnmarkedBlock(&first, start, nullptr);
    if (first >= g.total) DownloadGetFirstUnmarkedBlock(&first, 0, nullptr);
    if (first < g.total) start = first;
  }
  g.write_pos = start;
  g.fill = 0;
  g.blocks_this_request = 0;
  char *url = upnp_strdup_impl(g.url);
  LeaveCriticalSection(&g.lock);
  LeaveCriticalSection(&g.write_lock);
  char *range = start > 0 ? upnp_renderer_create_byte_range(start) : nullptr;
  char *buffer = static_cast<char *>(upnp_malloc_impl(DOWNLOAD_BLOCK_SIZE));
  StreamInfo *info = url && buffer && (start == 0 || range) ? upnp_client_createStreamInfo() : nullptr;
  if (info)
    info = upnp_client_initStreamInfo(info, buffer, DOWNLOAD_BLOCK_SIZE, url, range, nullptr, DownloadStreamCallback,
                                      STREAM_FEATURE_DOWNLOAD);
  upnp_free_impl(url);
  upnp_free_impl(range);
  if (!info) {
    upnp_free_impl(buffer);
    DownloadSetState(DOWNLOAD_STATE_FAILED);
    return STREAM_FAILED;
  }
  // The record is the current request before its receiver can call back.
  EnterCriticalSection(&g.lock);
  StreamInfo *old = g.stream;
  char *old_buffer = g.stream_buffer;
  g.stream = info;
  g.stream_buffer = buffer;
  download_set_state_locked(state);
  if (end.pending) g.restart_busy = 0;
  end.pending = false;
  LeaveCriticalSection(&g.lock);
  download_free_stream(old, old_buffer);
  if (!upnp_client_startHttpStream(info)) {
    EnterCriticalSection(&g.lock);
    if (g.stream == info) {
      g.stream = nullptr;
      g.stream_buffer = nullptr;
      download_set_state_locked(DOWNLOAD_STATE_FAILED);
    }
    LeaveCriticalSection(&g.lock);
    upnp_free_impl(buffer);
    return STREAM_FAILED;
  }
  return STREAM_OK;
}
