// Stream records: creation, the use count, state, stop and pause, the
// notification of the consumer, and the receiver bookkeeping (generations,
// connection ownership, the wait for a replaced receiver).
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <cstring>
#include <new>

#include "base/upnp_log.h"
#include "base/upnp_mem.h"
#include "base/upnp_socket.h"
#include "base/upnp_thread.h"
#include "http/http_client.h"
#include "http/http_stream.h"
#include "http/http_stream_internal.h"

namespace {

std::atomic<stream_connector> g_connector{nullptr};
std::atomic<unsigned int> g_stall_step_ms{100};

// How long free waits for a replaced receiver to leave the consumer's buffer
// and callback. A receiver blocked in a read is woken by the shutdown of its
// connection at once; only a callback that itself blocks takes longer.
constexpr unsigned int kFreeWaitMs = 10000;

// How long a seek or resume waits for a replaced receiver to leave the
// consumer's buffer and callback, and then for its thread to end.
constexpr unsigned int kIdleWaitMs = 5000;
constexpr unsigned int kEndWaitSteps = 10;
constexpr unsigned int kEndWaitStepMs = 50;

bool replace_text(char **field, const char *text) { return upnp_strdup_replace(field, text) != 0; }

}  // namespace

void stream_set_connector(stream_connector connector) { g_connector.store(connector); }

int stream_connect(const char *url) {
  stream_connector c = g_connector.load();
  return c ? c(url) : HTTP_open(url);
}

void stream_set_stall_step_ms(unsigned int ms) { g_stall_step_ms.store(ms ? ms : 1); }
unsigned int stream_stall_step_ms(void) { return g_stall_step_ms.load(); }

StreamInfo *upnp_client_createStreamInfo(void) {
  void *memory = upnp_calloc_impl(1, sizeof(StreamInfo));
  if (!memory) return nullptr;
  auto *info = new (memory) StreamInfo();
  info->socket = -1;
  info->file = -1;
  info->time_position = -1;
  info->byte_offset = -1;
  info->use_count.store(1);
  info->running.store(0);
  InitializeCriticalSection(&info->lock);
  return info;
}

StreamInfo *upnp_client_initStreamInfo(StreamInfo *info, char *buffer, uint32_t buffer_size, const char *url,
                                       const char *extra_fields, const char *caller_fields,
                                       upnp_stream_callback callback, uint64_t features) {
  if (!info) return nullptr;
  EnterCriticalSection(&info->lock);
  info->buffer = buffer;
  info->buffer_size = buffer_size;
  info->callback = callback;
  info->features = features;
  bool ok = replace_text(&info->url, url) && replace_text(&info->extra_fields, extra_fields) &&
            replace_text(&info->caller_fields, caller_fields ? caller_fields : "");
  LeaveCriticalSection(&info->lock);
  if (!ok) {
    upnp_log_impl(LOG_LEVEL_ERROR, LOG_HTTP, __func__, "Out of memory");
    upnp_renderer_decrease_streaminfo_use(info);
    return nullptr;
  }
  return info;
}

void upnp_renderer_decrease_streaminfo_use(StreamInfo *info) {
  if (!info) return;
  int32_t before = info->use_count.load();
  do {
    if (before <= 0) {
      upnp_log_impl(LOG_LEVEL_ERROR, LOG_HTTP, __func__, "Free invoked with use count of zero");
      return;
    }
  } while (!info->use_count.compare_exchange_weak(before, before - 1));
  if (before != 1) return;
  stream_dtcp_close(info);
  stream_wmdrm_finish(info);
  if (info->file >= 0 && info->file_owned) close(info->file);
  upnp_free_impl(info->url);
  upnp_free_impl(info->extra_fields);
  upnp_free_impl(info->caller_fields);
  upnp_free_impl(info->content_type);
  stream_icy_free(info->icy);
  Sleep(10);
  DeleteCriticalSection(&info->lock);
  info->~StreamInfo();
  upnp_free_impl(info);
}

void upnp_renderer_set_stream_state(StreamInfo *info, uint32_t code) {
  if (!info) return;
  EnterCriticalSection(&info->lock);
  info->state = code;
  LeaveCriticalSection(&info->lock);
}

void upnp_renderer_stop_stream(StreamInfo *info) {
  if (!info) return;
  EnterCriticalSection(&info->lock);
  if (info->state < STREAM_EVENT_STOPPED) info->state = STREAM_EVENT_STOPPED;
  // A receiver blocked in a read (a stalling server) notices at once.
  if (info->socket >= 0) shutdown(info->socket, SHUT_RDWR);
  LeaveCriticalSection(&info->lock);
}

int upnp_renderer_pause_stream(StreamInfo *info) {
  if (!info) return STREAM_MISSING_ARGUMENT;
  int result = STREAM_NOT_ALLOWED;
  EnterCriticalSection(&info->lock);
  const uint64_t can_pause = STREAM_FEATURE_BYTE_SEEK | STREAM_FEATURE_TIME_SEEK | STREAM_FEATURE_STALL;
  if (info->state == STREAM_EVENT_DATA && !(info->features & STREAM_FEATURE_LIVE) && (info->features & can_pause)) {
    info->pause_request = 1;
    result = STREAM_OK;
  }
  LeaveCriticalSection(&info->lock);
  if (result == STREAM_OK) upnp_log_impl(LOG_LEVEL_INFO, LOG_HTTP, __func__, "upnp_renderer_pause_stream Requesting pause");
  return result;
}

namespace {

bool has_file(StreamInfo *info) {
  EnterCriticalSection(&info->lock);
  bool file = info->file_stream != 0;
  LeaveCriticalSection(&info->lock);
  return file;
}

}  // namespace

int upnp_renderer_resume_stream(StreamInfo *info) {
  if (!info) return STREAM_MISSING_ARGUMENT;
  return has_file(info) ? upnp_renderer_resume_file_stream(info) : upnp_renderer_resume_http_stream(info);
}

int upnp_renderer_seek_stream(StreamInfo *info, int mode, int64_t position) {
  if (!info) return STREAM_MISSING_ARGUMENT;
  return has_file(info) ? upnp_renderer_seek_file_stream(info, mode, position)
                        : upnp_renderer_seek_http_stream(info, mode, position);
}

int upnp_renderer_reget_stream(StreamInfo *info) {
  if (!info) return STREAM_MISSING_ARGUMENT;
  return has_file(info) ? upnp_renderer_reget_file_stream(info) : upnp_renderer_reget_http_stream(info);
}

void stream_drop_receiver_locked(StreamInfo *info) {
  info->receiver = 0;
  if (info->socket >= 0) shutdown(info->socket, SHUT_RDWR);
}

int stream_wait_idle(StreamInfo *info, unsigned int ms) {
  const uint64_t end = getSystemTime() + ms;
  for (;;) {
    EnterCriticalSection(&info->lock);
    int own = info->in_callback && pthread_equal(info->callback_thread, pthread_self()) ? 1 : 0;
    bool idle = info->busy <= own;
    LeaveCriticalSection(&info->lock);
    if (idle) return 1;
    if (getSystemTime() >= end) {
      upnp_log_impl(LOG_LEVEL_ERROR, LOG_HTTP, __func__, "Old receiver still busy after %u ms", ms);
      return 0;
    }
    Sleep(2);
  }
}

void upnp_renderer_free_streaminfo(StreamInfo *info) {
  if (!info) return;
  EnterCriticalSection(&info->lock);
  stream_drop_receiver_locked(info);
  info->state = STREAM_EVENT_STOPPED;
  info->pause_request = 0;
  LeaveCriticalSection(&info->lock);
  stream_wait_idle(info, kFreeWaitMs);
  upnp_renderer_decrease_streaminfo_use(info);
}

int stream_is_current(StreamInfo *info, uint32_t generation) {
  EnterCriticalSection(&info->lock);
  int current = generation != 0 && info->receiver == generation && info->state < STREAM_EVENT_STOPPED;
  LeaveCriticalSection(&info->lock);
  return current;
}

void stream_finish(StreamInfo *info, uint32_t generation, uint32_t code) {
  EnterCriticalSection(&info->lock);
  if (info->receiver == generation && info->state < STREAM_EVENT_STOPPED) info->state = code;
  LeaveCriticalSection(&info->lock);
}

int stream_enter_buffer(StreamInfo *info, uint32_t generation) {
  EnterCriticalSection(&info->lock);
  int current = info->receiver == generation;
  if (current) ++info->busy;
  LeaveCriticalSection(&info->lock);
  return current;
}

void stream_leave_buffer(StreamInfo *info) {
  EnterCriticalSection(&info->lock);
  --info->busy;
  LeaveCriticalSection(&info->lock);
}

int stream_notify(StreamInfo *info, uint32_t generation, uint32_t code, uint32_t count) {
  int handled = 0;
  int abort = stream_wmdrm_notify(info, generation, code, count, &handled);
  return handled ? abort : stream_notify_plain(info, generation, code, count);
}

int stream_notify_plain(StreamInfo *info, uint32_t generation, uint32_t code, uint32_t count) {
  EnterCriticalSection(&info->lock);
  if (info->state >= STREAM_EVENT_STOPPED && code < STREAM_EVENT_STOPPED) {
    uint32_t from = info->state;
    LeaveCriticalSection(&info->lock);
    upnp_log_impl(LOG_LEVEL_INFO, LOG_HTTP, __func__,
                  "upnp_renderer_notify_stream_callback Aborting notification to prevent invalid state change "
                  "from %u to %u",
                  from, code);
    return 1;
  }
  if (generation == 0 || info->receiver != generation) {
    LeaveCriticalSection(&info->lock);
    upnp_log_impl(LOG_LEVEL_INFO, LOG_HTTP, __func__,
                  "upnp_renderer_notify_stream_callback Aborting notification since new stream thread was created");
    return 1;
  }
  info->state = code;
  if (code == STREAM_EVENT_PAUSED) info->pause_request = 0;
  upnp_stream_callback callback = info->callback;
  ++info->busy;
  info->in_callback = 1;
  info->callback_thread = pthread_self();
  LeaveCriticalSection(&info->lock);

  int abort = callback ? callback(count, info) : 0;

  // The session of a protected stream ends with the stream.
  if (code >= STREAM_EVENT_STOPPED) stream_dtcp_close(info);

  EnterCriticalSection(&info->lock);
  info->in_callback = 0;
  --info->busy;
  if (info->receiver != generation) abort = 1;
  if (code == STREAM_EVENT_DATA && info->pause_request && info->state == STREAM_EVENT_DATA) {
    info->state = STREAM_EVENT_PAUSED;
    info->pause_request = 0;
  }
  LeaveCriticalSection(&info->lock);
  return abort ? 1 : 0;
}

int upnp_renderer_notify_stream_callback(uint32_t code, uint32_t count, StreamInfo *info) {
  if (!info) return 1;
  EnterCriticalSection(&info->lock);
  uint32_t generation = info->receiver;
  LeaveCriticalSection(&info->lock);
  return stream_notify(info, generation, code, count);
}

int stream_adopt_socket(StreamInfo *info, uint32_t generation, int sock) {
  EnterCriticalSection(&info->lock);
  int current = info->receiver == generation && info->state < STREAM_EVENT_STOPPED;
  if (current) info->socket = sock;
  LeaveCriticalSection(&info->lock);
  return current;
}

void stream_close_socket(StreamInfo *info, int *sock) {
  if (*sock < 0) return;
  EnterCriticalSection(&info->lock);
  if (info->socket == *sock) info->socket = -1;
  LeaveCriticalSection(&info->lock);
  upnp_socket_close(*sock);
  *sock = -1;
}

int stream_start_receiver(StreamInfo *info, uint32_t state, stream_thread_routine routine) {
  auto *start = static_cast<stream_receiver_start *>(upnp_malloc_impl(sizeof(stream_receiver_start)));
  if (!start) return 0;
  EnterCriticalSection(&info->lock);
  uint32_t generation = ++info->last_generation;
  if (generation == 0) generation = ++info->last_generation;
  info->receiver = generation;
  info->state = state;
  LeaveCriticalSection(&info->lock);
  start->info = info;
  start->generation = generation;
  info->use_count.fetch_add(1);
  info->running.fetch_add(1);
  if (upnp_start_detached_thread(routine, start, 6)) return 1;
  info->running.fetch_sub(1);
  upnp_free_impl(start);
  EnterCriticalSection(&info->lock);
  if (info->receiver == generation) info->receiver = 0;
  LeaveCriticalSection(&info->lock);
  upnp_renderer_decrease_streaminfo_use(info);
  return 0;
}

void stream_advance(StreamInfo *info, uint32_t generation, int64_t received, int64_t position) {
  EnterCriticalSection(&info->lock);
  if (info->receiver == generation) {
    info->received += received;
    info->position += position;
  }
  LeaveCriticalSection(&info->lock);
}

// Replaces the receiver and waits for the old one (bounded).
void stream_replace_receiver(StreamInfo *info, uint32_t state) {
  EnterCriticalSection(&info->lock);
  bool own_thread = info->in_callback && pthread_equal(info->callback_thread, pthread_self());
  stream_drop_receiver_locked(info);
  info->state = state;
  LeaveCriticalSection(&info->lock);
  stream_wait_idle(info, kIdleWaitMs);
  for (unsigned int i = 0; i < kEndWaitSteps && info->running.load() > (own_thread ? 1 : 0); ++i)
    Sleep(kEndWaitStepMs);
}

int stream_restart(StreamInfo *info, uint32_t state, stream_thread_routine routine, const char *who) {
  if (stream_start_receiver(info, state, routine)) return STREAM_OK;
  upnp_log_impl(LOG_LEVEL_ERROR, LOG_HTTP, who, "%s Cannot create receiver thread", who);
  EnterCriticalSection(&info->lock);
  info->state = STREAM_EVENT_FAILURE;
  upnp_stream_callback callback = info->callback;
  LeaveCriticalSection(&info->lock);
  if (callback) callback(0, info);
  return STREAM_FAILED;
}

