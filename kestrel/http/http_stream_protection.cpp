// The DTCP-IP hooks of the stream receiver: registration, and the session of
// a protected stream from its answer to its end.
#include <atomic>
#include <new>
#include <cstring>

#include "base/upnp_log.h"
#include "base/upnp_mem.h"
#include "http/http_stream.h"
#include "http/http_stream_internal.h"

namespace {

// A table is immutable once published: a new registration publishes a new
// copy. Old copies are kept, chained (registrations are rare, a few bytes
// each), so that a stream still holding one never reads freed memory.
struct hook_table {
  upnp_dtcp_callbacks callbacks;
  hook_table *previous;
};
std::atomic<hook_table *> g_all{nullptr};
std::atomic<const upnp_dtcp_callbacks *> g_dtcp{nullptr};

constexpr unsigned int kTypeSize = 256;

}  // namespace

void upnp_renderer_set_dtcp_callbacks(const upnp_dtcp_callbacks *callbacks) {
  if (!callbacks || !callbacks->recognise) {
    g_dtcp.store(nullptr);
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
  g_dtcp.store(&table->callbacks);
}

int stream_dtcp_recognises(const char *content_type) {
  const upnp_dtcp_callbacks *hooks = g_dtcp.load();
  return hooks && content_type && hooks->recognise(content_type) ? 1 : 0;
}

int stream_dtcp_open(StreamInfo *info, uint32_t generation) {
  const upnp_dtcp_callbacks *hooks = g_dtcp.load();
  if (!hooks) return 1;
  EnterCriticalSection(&info->lock);
  bool active = (info->features & STREAM_FEATURE_PROTECTED) != 0;
  char *type = upnp_strdup_impl(info->content_type);
  char *url = upnp_strdup_impl(info->url);
  LeaveCriticalSection(&info->lock);
  int result = 1;
  if (!active && type && hooks->recognise(type)) {
    char real_type[kTypeSize] = "";
    void *session = hooks->open_session ? hooks->open_session(url ? url : "", type, real_type, kTypeSize) : nullptr;
    real_type[kTypeSize - 1] = '\0';
    if (!session) {
      upnp_log_impl(LOG_LEVEL_ERROR, LOG_HTTP, __func__, "Cannot open a protection session for %s", type);
      result = 0;
    } else {
      char *replaced = real_type[0] ? upnp_strdup_impl(real_type) : nullptr;
      EnterCriticalSection(&info->lock);
      bool current = info->receiver == generation;
      if (current) {
        info->protection_session = session;
        info->protection_hooks = hooks;
        info->features |= STREAM_FEATURE_PROTECTED;
        if (replaced) {
          upnp_free_impl(info->content_type);
          info->content_type = replaced;
          replaced = nullptr;
        }
      }
      LeaveCriticalSection(&info->lock);
      upnp_free_impl(replaced);
      if (!current && hooks->close_session) hooks->close_session(session);
    }
  }
  upnp_free_impl(type);
  upnp_free_impl(url);
  return result;
}

void stream_dtcp_close(StreamInfo *info) {
  EnterCriticalSection(&info->lock);
  void *session = info->protection_session;
  const upnp_dtcp_callbacks *hooks = info->protection_hooks;
  if (session) {
    info->protection_session = nullptr;
    info->protection_hooks = nullptr;
    info->features &= ~STREAM_FEATURE_PROTECTED;
  }
  LeaveCriticalSection(&info->lock);
  if (!session) return;
  if (hooks && hooks->close_session) hooks->close_session(session);
}
