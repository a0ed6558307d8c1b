// The WMDRM hooks of the stream receiver: registration, the context of a
// protected stream from its start to its end, data passed through it, and the
// licence binding of downloaded content.
#include <atomic>
#include <cstring>
#include <new>

#include "base/upnp_log.h"
#include "base/upnp_mem.h"
#include "http/http_stream.h"
#include "http/http_stream_internal.h"

namespace {

// As with the DTCP hooks: a published table is never changed or freed, so a
// stream still holding one never reads freed memory.
struct hook_table {
  upnp_wmdrm_callbacks callbacks;
  hook_table *previous;
};
std::atomic<hook_table *> g_all{nullptr};
std::atomic<const upnp_wmdrm_callbacks *> g_wmdrm{nullptr};

struct delivery {
  StreamInfo *info;
  uint32_t generation;
  int aborted;
  int paused;  // a pause request took effect after one of the clear pieces
};

// Puts clear bytes into the consumer's buffer and tells the consumer.
int deliver(void *argument, const char *clear, uint32_t count) {
  auto *d = static_cast<delivery *>(argument);
  if (d->aborted) return 1;
  if (!clear || count == 0) return 0;
  if (count > d->info->buffer_size || !stream_enter_buffer(d->info, d->generation)) {
    d->aborted = 1;
    return 1;
  }
  std::memcpy(d->info->buffer, clear, count);
  stream_leave_buffer(d->info);
  if (stream_notify_plain(d->info, d->generation, STREAM_EVENT_DATA, count)) d->aborted = 1;
  EnterCriticalSection(&d->info->lock);
  if (d->info->state == STREAM_EVENT_PAUSED) d->paused = 1;
  LeaveCriticalSection(&d->info->lock);
  return d->aborted;
}

}  // namespace

void upnp_renderer_set_wmdrm_callbacks(const upnp_wmdrm_callbacks *callbacks) {
  if (!callbacks || (!callbacks->prepare && !callbacks->bind)) {
    g_wmdrm.store(nullptr);
    return;
  }
  // A context needs all of its operations.
  if (callbacks->prepare && (!callbacks->process || !callbacks->finish)) {
    upnp_log_impl(LOG_LEVEL_ERROR, LOG_HTTP, __func__, "WMDRM hooks without process or finish refused");
    return;
  }
  auto *table = new (std::nothrow) hook_table{*callbacks, nullptr};
  if (!table) {
    upnp_log_impl(LOG_LEVEL_ERROR, LOG_HTTP, __func__, "Out of memory");
    return;
  }
  table->previous = g_all.load();
  while (!g_all.compare_exchange_weak(table->previous, table)) {
  }
  g_wmdrm.store(&table->callbacks);
}

int stream_wmdrm_can_bind(void) {
  const upnp_wmdrm_callbacks *hooks = g_wmdrm.load();
  return hooks && hooks->bind ? 1 : 0;
}

int upnp_renderer_wmdrm_bind(const char *location) {
  const upnp_wmdrm_callbacks *hooks = g_wmdrm.load();
  if (!hooks || !hooks->bind) return 1;
  if (!location || !hooks->bind(location)) {
    upnp_log_impl(LOG_LEVEL_WARNING, LOG_HTTP, __func__, "Licence binding failed for %s", location ? location : "");
    return 0;
  }
  return 1;
}

void stream_wmdrm_prepare(StreamInfo *info) {
  const upnp_wmdrm_callbacks *hooks = g_wmdrm.load();
  if (!hooks || !hooks->prepare) return;
  EnterCriticalSection(&info->lock);
  bool skip = (info->features & STREAM_FEATURE_DOWNLOAD) || info->wmdrm_context;
  char *location = skip ? nullptr : upnp_strdup_impl(info->url);
  LeaveCriticalSection(&info->lock);
  if (!location) return;
  void *context = hooks->prepare(location);
  upnp_free_impl(location);
  if (!context) return;
  EnterCriticalSection(&info->lock);
  info->wmdrm_context = context;
  info->wmdrm_hooks = hooks;
  LeaveCriticalSection(&info->lock);
}

uint32_t stream_wmdrm_block(StreamInfo *info) {
  EnterCriticalSection(&info->lock);
  void *context = info->wmdrm_context;
  const upnp_wmdrm_callbacks *hooks = info->wmdrm_hooks;
  LeaveCriticalSection(&info->lock);
  uint32_t block = context && hooks->block_size ? hooks->block_size(context) : 1;
  return block ? block : 1;
}

void stream_wmdrm_finish(StreamInfo *info) {
  EnterCriticalSection(&info->lock);
  void *context = info->wmdrm_context;
  const upnp_wmdrm_callbacks *hooks = info->wmdrm_hooks;
  info->wmdrm_context = nullptr;
  info->wmdrm_hooks = nullptr;
  LeaveCriticalSection(&info->lock);
  if (context) hooks->finish(context);
}

int stream_wmdrm_notify(StreamInfo *info, uint32_t generation, uint32_t code, uint32_t count, int *handled) {
  EnterCriticalSection(&info->lock);
  void *context = (info->features & STREAM_FEATURE_DOWNLOAD) ? nullptr : info->wmdrm_context;
  const upnp_wmdrm_callbacks *hooks = info->wmdrm_hooks;
  bool current = info->receiver == generation && info->state < STREAM_EVENT_STOPPED;
  LeaveCriticalSection(&info->lock);
  *handled = 0;
  if (!context) return 0;
  if (code == STREAM_EVENT_PAUSED || code == STREAM_EVENT_SEEK) {
    if (current && hooks->reset) hooks->reset(context);
    return 0;
  }
  if (code == STREAM_EVENT_END) {
    *handled = 1;
    int abort = stream_notify_plain(info, generation, code, count);
    stream_wmdrm_finish(info);
    return abort;
  }
  if (code != STREAM_EVENT_DATA) return 0;
  *handled = 1;
  if (!current) return 1;
  // The piece is copied out of the buffer first: the clear bytes go back
  // into the same buffer.
  char *copy = static_cast<char *>(upnp_malloc_impl(count ? count : 1));
  if (!copy || !stream_enter_buffer(info, generation)) {
    upnp_free_impl(copy);
    return 1;
  }
  std::memcpy(copy, info->buffer, count);
  stream_leave_buffer(info);
  delivery d{info, generation, 0, 0};
  int abort = hooks->process(context, copy, count, deliver, &d);
  upnp_free_impl(copy);
  // A pause that took effect within the piece holds for the whole piece
  // (a later clear piece set the data state again).
  if (d.paused) {
    EnterCriticalSection(&info->lock);
    if (info->receiver == generation && info->state == STREAM_EVENT_DATA) info->state = STREAM_EVENT_PAUSED;
    LeaveCriticalSection(&info->lock);
  }
  return abort || d.aborted ? 1 : 0;
}
