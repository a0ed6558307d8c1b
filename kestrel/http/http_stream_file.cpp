// File streams: a local file or a caller's descriptor handed to the consumer
// like an HTTP stream, by the "RENDERER_FILE_STREAM_RECEIVE" thread, with
// pause, resume, seek by bytes and re-get.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cinttypes>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "base/upnp_log.h"
#include "base/upnp_mem.h"
#include "base/upnp_thread.h"
#include "http/http_stream.h"
#include "http/http_stream_internal.h"

namespace {

std::atomic<upnp_stream_cache_wait> g_cache_wait{nullptr};
// How often a cache file stream asks for one piece before it gives up (the
// cache answers within about 100 ms each time): about 30 s.
constexpr int kCacheWaitCalls = 300;

bool is_url(const char *path) { return std::strstr(path, "://") != nullptr; }

// One read into the caller's buffer; -2 when the receiver was replaced.
ssize_t read_into_buffer(StreamInfo *info, uint32_t generation, int fd, size_t want) {
  if (!stream_enter_buffer(info, generation)) return -2;
  ssize_t n;
  do {
    n = read(fd, info->buffer, want);
  } while (n < 0 && errno == EINTR);
  stream_leave_buffer(info);
  return n;
}

// Reads the file piece by piece; true when the stream paused (the thread
// then ends without a final code).
bool receive_file_stream(StreamInfo *info, uint32_t generation, int fd) {
  for (;;) {
    EnterCriticalSection(&info->lock);
    bool current = info->receiver == generation && info->state < STREAM_EVENT_STOPPED;
    bool pause = info->pause_request || info->state == STREAM_EVENT_PAUSED;
    int64_t total = info->total_length, position = info->position;
    const bool cache = (info->features & STREAM_FEATURE_CACHE_FILE) != 0;
    LeaveCriticalSection(&info->lock);
    if (!current) return false;
    if (pause) {
      if (stream_notify(info, generation, STREAM_EVENT_PAUSED, 0)) {
        stream_finish(info, generation, STREAM_EVENT_STOPPED);
        return false;
      }
      return true;
    }
    if (total > 0 && position >= total) {
      upnp_log_impl(LOG_LEVEL_INFO, LOG_HTTP, __func__, "receive_file_stream End of stream (%" PRId64 "/%" PRId64 ")",
                    position, total);
      stream_finish(info, generation, STREAM_EVENT_END);
      return false;
    }
    uint64_t want = info->buffer_size;
    if (total > 0 && want > static_cast<uint64_t>(total - position)) want = static_cast<uint64_t>(total - position);
    // The cache's file is read only where the download has written it.
    upnp_stream_cache_wait wait = cache ? g_cache_wait.load() : nullptr;
    if (wait) {
      int ready = 0;
      for (int call = 0; call < kCacheWaitCalls && ready == 0; call++) {
        if (!stream_is_current(info, generation)) return false;
        ready = wait(position, position + static_cast<int64_t>(want));
      }
      if (ready != 1) {
        upnp_log_impl(LOG_LEVEL_WARNING, LOG_HTTP, __func__, "receive_file_stream Cached data did not arrive");
        stream_finish(info, generation, STREAM_EVENT_FAILURE);
        return false;
      }
    }
    ssize_t n = read_into_buffer(info, generation, fd, static_cast<size_t>(want));
    if (n == -2) return false;
    if (n <= 0) {
      upnp_log_impl(LOG_LEVEL_INFO, LOG_HTTP, __func__, "receive_file_stream End of file or read error");
      // A file that ends before its size (it shrank) is cut, not complete.
      stream_finish(info, generation, n == 0 && total <= 0 ? STREAM_EVENT_END : STREAM_EVENT_FAILURE);
      return false;
    }
    if (stream_notify(info, generation, STREAM_EVENT_DATA, static_cast<uint32_t>(n))) {
      upnp_log_impl(LOG_LEVEL_INFO, LOG_HTTP, __func__, "receive_file_stream Streaming aborted by renderer");
      stream_finish(info, generation, STREAM_EVENT_STOPPED);
      return false;
    }
    stream_advance(info, generation, n, n);
  }
}

void *receive_file_thread(void *argument) {
  auto *start = static_cast<stream_receiver_start *>(argument);
  StreamInfo *info = start->info;
  const uint32_t generation = start->generation;
  upnp_free_impl(start);
  upnp_init_thread("RENDERER_FILE_STREAM_RECEIVE");

  EnterCriticalSection(&info->lock);
  bool cancelled = info->receiver != generation;
  uint32_t first_state = info->state;
  int fd = info->file;
  LeaveCriticalSection(&info->lock);
  // Protected content is decrypted from a block boundary on.
  const uint32_t block = cancelled ? 1 : stream_wmdrm_block(info);
  if (block > 1) {
    EnterCriticalSection(&info->lock);
    int64_t from = info->position - info->position % block;
    if (info->receiver == generation && from != info->position && info->file >= 0 &&
        lseek(info->file, static_cast<off_t>(from), SEEK_SET) >= 0) {
      info->position = from;
      info->byte_offset = from;
    }
    LeaveCriticalSection(&info->lock);
  }
  if (cancelled) {
    upnp_log_impl(LOG_LEVEL_INFO, LOG_HTTP, __func__, "receive_file_thread Receiver thread aborted during startup");
  } else {
    upnp_log_impl(LOG_LEVEL_INFO, LOG_HTTP, __func__, "receive_file_thread New receiver thread with ID %u",
                  generation);
    bool go = true;
    if (first_state != STREAM_EVENT_SEEK && first_state != STREAM_EVENT_DATA)
      go = !stream_notify(info, generation, STREAM_EVENT_STARTED, 0);
    if (go && first_state != STREAM_EVENT_DATA)
      go = !stream_notify(info, generation, first_state == STREAM_EVENT_SEEK ? STREAM_EVENT_SEEK : STREAM_EVENT_HEADER,
                          0);
    bool paused = false;
    if (!go) {
      upnp_log_impl(LOG_LEVEL_INFO, LOG_HTTP, __func__, "receive_file_thread Data transfer aborted by player");
      stream_finish(info, generation, STREAM_EVENT_STOPPED);
    } else {
      EnterCriticalSection(&info->lock);
      if (info->receiver == generation && info->state < STREAM_EVENT_STOPPED && info->state != STREAM_EVENT_PAUSED)
        info->state = STREAM_EVENT_DATA;
      LeaveCriticalSection(&info->lock);
      paused = receive_file_stream(info, generation, fd);
    }
    EnterCriticalSection(&info->lock);
    bool current = info->receiver == generation;
    uint32_t final_state = info->state;
    LeaveCriticalSection(&info->lock);
    if (current && !paused) {
      if (final_state < STREAM_EVENT_STOPPED) {
        stream_finish(info, generation, STREAM_EVENT_FAILURE);
        final_state = STREAM_EVENT_FAILURE;
      }
      // The file is closed before the final code is told, so that what the
      // consumer does on it (a seek) finds the stream as it is.
      EnterCriticalSection(&info->lock);
      if (info->receiver == generation && !(info->features & STREAM_FEATURE_KEEP_FILE) && info->file >= 0) {
        close(info->file);
        info->file = -1;
        info->file_owned = 0;
      }
      LeaveCriticalSection(&info->lock);
      stream_notify(info, generation, final_state, 0);
      EnterCriticalSection(&info->lock);
      if (info->receiver == generation) info->receiver = 0;
      LeaveCriticalSection(&info->lock);
      upnp_log_impl(LOG_LEVEL_INFO, LOG_HTTP, __func__, "receive_file_thread Terminating receiver thread with ID %u",
                    generation);
    } else if (current) {
      EnterCriticalSection(&info->lock);
      if (info->receiver == generation) info->receiver = 0;
      LeaveCriticalSection(&info->lock);
    } else {
      upnp_log_impl(LOG_LEVEL_INFO, LOG_HTTP, __func__,
                    "receive_file_thread Terminating receiver thread - replaced by new one");
    }
  }
  info->running.fetch_sub(1);
  upnp_renderer_decrease_streaminfo_use(info);
  return nullptr;
}

int start_file_stream(char *buffer, uint32_t size, const char *path, int descriptor, const char *content_type,
                      int64_t start_offset, int close_at_end, uint64_t features, upnp_stream_callback callback,
                      StreamInfo **out) {
  int fd = descriptor;
  bool owned = false;
  if (path) {
    fd = open(path, O_RDONLY | O_CLOEXEC);
    owned = true;
    if (fd < 0) {
      upnp_log_impl(LOG_LEVEL_WARNING, LOG_HTTP, "upnp_renderer_get_file_stream", "Cannot open %s", path);
      return STREAM_FAILED;
    }
  }
  struct stat st;
  int64_t total = fstat(fd, &st) == 0 && S_ISREG(st.st_mode) ? static_cast<int64_t>(st.st_size) : 0;
  if (start_offset > 0 && lseek(fd, static_cast<off_t>(start_offset), SEEK_SET) < 0) {
    if (owned) close(fd);
    return STREAM_FAILED;
  }
  StreamInfo *info = upnp_client_createStreamInfo();
  if (info)
    info = upnp_client_initStreamInfo(info, buffer, size, path ? path : "<pipe>", nullptr, nullptr, callback,
                                      features | (path ? STREAM_FEATURE_BYTE_SEEK : STREAM_FEATURE_NO_SEEK) |
                                          (close_at_end ? 0 : STREAM_FEATURE_KEEP_FILE));
  if (!info) {
    if (owned) close(fd);
    return STREAM_FAILED;
  }
  info->content_type = upnp_strdup_impl(content_type);
  info->file = fd;
  info->file_owned = owned ? 1 : 0;
  info->file_stream = 1;
  info->total_length = total;
  info->position = start_offset > 0 ? start_offset : 0;
  if (path) stream_wmdrm_prepare(info);
  *out = info;
  if (!stream_start_receiver(info, STREAM_EVENT_STARTED, receive_file_thread)) {
    *out = nullptr;
    // A caller's descriptor stays the caller's.
    if (!owned) info->file = -1;
    upnp_renderer_decrease_streaminfo_use(info);
    return STREAM_FAILED;
  }
  return STREAM_OK;
}

int seek_file_internal(StreamInfo *info, int64_t position) {
  char range[32];
  std::snprintf(range, sizeof range, "%" PRId64, position);
  char *text = upnp_strdup_impl(range);
  if (!text) return STREAM_FAILED;
  EnterCriticalSection(&info->lock);
  upnp_free_impl(info->extra_fields);
  info->extra_fields = text;
  LeaveCriticalSection(&info->lock);
  stream_replace_receiver(info, STREAM_EVENT_SEEK);
  EnterCriticalSection(&info->lock);
  uint32_t state = info->state;
  bool moved = info->file >= 0 && lseek(info->file, static_cast<off_t>(position), SEEK_SET) >= 0;
  if (moved) {
    info->position = position;
    info->byte_offset = position;
  }
  LeaveCriticalSection(&info->lock);
  if (!moved) {
    upnp_log_impl(LOG_LEVEL_WARNING, LOG_HTTP, __func__,
                  "upnp_renderer_seek_file_stream_internal File seek failed for range: %s", range);
    return STREAM_NOT_ALLOWED;
  }
  if (state != STREAM_EVENT_SEEK && state != STREAM_EVENT_PAUSED) return STREAM_NOT_ALLOWED;
  return stream_restart(info, STREAM_EVENT_SEEK, receive_file_thread, "upnp_renderer_seek_file_stream");
}

}  // namespace

int upnp_renderer_get_file_stream(char *buffer, uint32_t size, const char *path, int descriptor,
                                  const char *content_type, int64_t start_offset, int close_at_end,
                                  upnp_stream_callback callback, StreamInfo **out) {
  if (out) *out = nullptr;
  if (!buffer || size == 0 || !content_type || !out || (!path && descriptor < 0)) return STREAM_MISSING_ARGUMENT;
  if (path && stream_wmdrm_can_bind()) {
    if (!upnp_renderer_wmdrm_bind(path)) return STREAM_FAILED;
    // With download support a URL is streamed by the HTTP receiver.
    if (std::strncmp(path, "http://", 7) == 0) {
      char *range = start_offset > 0 ? upnp_renderer_create_byte_range(start_offset) : nullptr;
      if (start_offset > 0 && !range) return STREAM_FAILED;
      int result = upnp_renderer_get_http_stream(buffer, size, path, range, nullptr, callback, out);
      upnp_free_impl(range);
      return result;
    }
  }
  return start_file_stream(buffer, size, path, path ? -1 : descriptor, content_type, start_offset, close_at_end, 0,
                           callback, out);
}

int upnp_renderer_get_file_stream_int(char *buffer, uint32_t size, const char *path, const char *content_type,
                                      int64_t start_offset, upnp_stream_callback callback, StreamInfo **out) {
  if (out) *out = nullptr;
  if (!buffer || size == 0 || !content_type || !out || !path || is_url(path)) return STREAM_MISSING_ARGUMENT;
  if (stream_dtcp_recognises(content_type)) {
    upnp_log_impl(LOG_LEVEL_WARNING, LOG_HTTP, __func__, "Protected content cannot be streamed from the cache");
    return STREAM_FAILED;
  }
  // Protected content: its media header and the start must be on disk.
  upnp_stream_cache_wait wait = g_cache_wait.load();
  if (wait && stream_wmdrm_can_bind()) {
    const int64_t header_end = 16385;  // the first block and the byte after it
    int ready = 0;
    for (int call = 0; call < kCacheWaitCalls && ready == 0; call++) ready = wait(0, header_end);
    if (ready == 1) {
      ready = 0;
      for (int call = 0; call < kCacheWaitCalls && ready == 0; call++) ready = wait(start_offset, start_offset + 1);
    }
    if (ready != 1) return STREAM_FAILED;
  }
  return start_file_stream(buffer, size, path, -1, content_type, start_offset, 1, STREAM_FEATURE_CACHE_FILE,
                           callback, out);
}

void upnp_renderer_set_cache_wait(upnp_stream_cache_wait wait) { g_cache_wait.store(wait); }

int upnp_renderer_resume_file_stream(StreamInfo *info) {
  if (!info) return STREAM_MISSING_ARGUMENT;
  EnterCriticalSection(&info->lock);
  uint32_t state = info->state;
  bool running = info->receiver != 0;
  if (running && state < STREAM_EVENT_STOPPED && info->pause_request && state != STREAM_EVENT_PAUSED) {
    info->pause_request = 0;
    LeaveCriticalSection(&info->lock);
    return STREAM_OK;
  }
  LeaveCriticalSection(&info->lock);
  if (state != STREAM_EVENT_PAUSED) {
    upnp_log_impl(LOG_LEVEL_INFO, LOG_HTTP, __func__,
                  "upnp_renderer_resume_file_stream Resume rejected due to non-busy state: %u", state);
    return STREAM_NOT_ALLOWED;
  }
  stream_replace_receiver(info, STREAM_EVENT_PAUSED);
  EnterCriticalSection(&info->lock);
  bool still_paused = info->state == STREAM_EVENT_PAUSED;
  if (still_paused) info->pause_request = 0;
  LeaveCriticalSection(&info->lock);
  if (!still_paused) return STREAM_NOT_ALLOWED;
  return stream_restart(info, STREAM_EVENT_DATA, receive_file_thread, "upnp_renderer_resume_file_stream");
}

int upnp_renderer_seek_file_stream(StreamInfo *info, int mode, int64_t position) {
  if (!info) return STREAM_MISSING_ARGUMENT;
  if (mode == 1) {
    upnp_log_impl(LOG_LEVEL_INFO, LOG_HTTP, __func__, "upnp_renderer_seek_file_stream Time based file seek not supported");
    return STREAM_NOT_ALLOWED;
  }
  if (mode != 0 || position < 0) return STREAM_FAILED;
  EnterCriticalSection(&info->lock);
  bool refused = info->state == STREAM_EVENT_SEEK || (info->features & STREAM_FEATURE_NO_SEEK) || info->file < 0;
  LeaveCriticalSection(&info->lock);
  if (refused) return STREAM_NOT_ALLOWED;
  return seek_file_internal(info, position);
}

int upnp_renderer_reget_file_stream(StreamInfo *info) { return upnp_renderer_seek_file_stream(info, 0, 0); }
