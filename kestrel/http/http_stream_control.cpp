// Starting HTTP streams and moving them: start, resume, seek and re-get, each
// of which replaces the receiver by a new one.
#include <cinttypes>
#include <cstdio>
#include <cstring>

#include "base/upnp_log.h"
#include "base/upnp_mem.h"
#include "base/upnp_thread.h"
#include "http/http_stream.h"
#include "http/http_stream_internal.h"

namespace {

int start_stream(char *buffer, uint32_t size, const char *url, const char *extra_fields, const char *caller_fields,
                 upnp_stream_callback callback, uint64_t features, StreamInfo **out) {
  if (out) *out = nullptr;
  if (!buffer || size == 0 || !url || !*url || !out) return STREAM_MISSING_ARGUMENT;
  StreamInfo *info = upnp_client_createStreamInfo();
  if (!info) return STREAM_FAILED;
  info = upnp_client_initStreamInfo(info, buffer, size, url, extra_fields, caller_fields, callback, features);
  if (!info) return STREAM_FAILED;
  // Protected content gets its context before the first byte arrives.
  stream_wmdrm_prepare(info);
  // The record is handed out before the receiver can call back with it.
  *out = info;
  if (!upnp_client_startHttpStream(info)) {
    *out = nullptr;
    return STREAM_FAILED;
  }
  return STREAM_OK;
}

int restart(StreamInfo *info, uint32_t state, const char *who) {
  return stream_restart(info, state, stream_http_receive_thread, who);
}

// Re-request with new extra fields (none: from the start).
int rerequest(StreamInfo *info, char *fields, const char *who) {
  EnterCriticalSection(&info->lock);
  upnp_free_impl(info->extra_fields);
  info->extra_fields = fields;
  LeaveCriticalSection(&info->lock);
  stream_replace_receiver(info, STREAM_EVENT_SEEK);
  EnterCriticalSection(&info->lock);
  uint32_t state = info->state;
  LeaveCriticalSection(&info->lock);
  if (state != STREAM_EVENT_SEEK && state != STREAM_EVENT_PAUSED) return STREAM_NOT_ALLOWED;
  return restart(info, STREAM_EVENT_SEEK, who);
}

}  // namespace

StreamInfo *upnp_client_startHttpStream(StreamInfo *info) {
  if (!info) return nullptr;
  EnterCriticalSection(&info->lock);
  uint32_t state = info->state;
  LeaveCriticalSection(&info->lock);
  if (!stream_start_receiver(info, state, stream_http_receive_thread)) {
    upnp_log_impl(LOG_LEVEL_ERROR, LOG_HTTP, __func__, "Cannot create receiver thread");
    upnp_renderer_decrease_streaminfo_use(info);
    return nullptr;
  }
  return info;
}

int upnp_renderer_get_http_stream(char *buffer, uint32_t size, const char *url, const char *extra_fields,
                                  const char *caller_fields, upnp_stream_callback callback, StreamInfo **out) {
  return start_stream(buffer, size, url, extra_fields, caller_fields, callback, 0, out);
}

int upnp_renderer_get_http_live_stream(char *buffer, uint32_t size, const char *url, const char *caller_fields,
                                       upnp_stream_callback callback, StreamInfo **out) {
  return start_stream(buffer, size, url, nullptr, caller_fields, callback, STREAM_FEATURE_LIVE, out);
}

int upnp_renderer_download_http_stream(char *buffer, uint32_t size, const char *url, const char *extra_fields,
                                       const char *caller_fields, upnp_stream_callback callback,
                                       StreamInfo **out) {
  return start_stream(buffer, size, url, extra_fields, caller_fields, callback, STREAM_FEATURE_DOWNLOAD, out);
}

int upnp_renderer_resume_http_stream(StreamInfo *info) {
  if (!info) return STREAM_MISSING_ARGUMENT;
  EnterCriticalSection(&info->lock);
  uint32_t state = info->state;
  uint64_t features = info->features;
  bool running = info->receiver != 0 && info->socket >= 0;
  int64_t position = info->position;
  bool by_request = state < STREAM_EVENT_STOPPED && !(state == STREAM_EVENT_PAUSED && (features & STREAM_FEATURE_BYTE_SEEK));
  if (by_request && running && (state == STREAM_EVENT_PAUSED || info->pause_request)) {
    // Stalled, or not paused yet: the receiver simply carries on.
    info->pause_request = 0;
    if (state == STREAM_EVENT_PAUSED) info->state = STREAM_EVENT_DATA;
    LeaveCriticalSection(&info->lock);
    return STREAM_OK;
  }
  LeaveCriticalSection(&info->lock);
  if (state != STREAM_EVENT_PAUSED || !(features & STREAM_FEATURE_BYTE_SEEK)) {
    upnp_log_impl(LOG_LEVEL_INFO, LOG_HTTP, __func__,
                  "upnp_renderer_resume_http_stream Resume rejected due to non-busy state: %u", state);
    return STREAM_NOT_ALLOWED;
  }
  // Protected content is decrypted from a block boundary on.
  const uint32_t block = stream_wmdrm_block(info);
  const int64_t from = position - position % block;
  char *range = upnp_renderer_create_byte_range(from);
  if (!range) return STREAM_FAILED;
  EnterCriticalSection(&info->lock);
  upnp_free_impl(info->extra_fields);
  info->extra_fields = range;
  LeaveCriticalSection(&info->lock);
  stream_replace_receiver(info, STREAM_EVENT_PAUSED);
  EnterCriticalSection(&info->lock);
  bool still_paused = info->state == STREAM_EVENT_PAUSED;
  if (still_paused) info->pause_request = 0;
  if (still_paused) info->position = from;
  LeaveCriticalSection(&info->lock);
  if (!still_paused) return STREAM_NOT_ALLOWED;
  return restart(info, STREAM_EVENT_DATA, "upnp_renderer_resume_http_stream");
}

int upnp_renderer_seek_http_stream(StreamInfo *info, int mode, int64_t position) {
  if (!info) return STREAM_MISSING_ARGUMENT;
  EnterCriticalSection(&info->lock);
  bool refused = info->state == STREAM_EVENT_SEEK || (info->features & (STREAM_FEATURE_LIVE | STREAM_FEATURE_NO_SEEK));
  int limited = info->limited_random_access;
  LeaveCriticalSection(&info->lock);
  if (refused) return STREAM_NOT_ALLOWED;
  if (position < 0) return STREAM_FAILED;
  char *fields = nullptr;
  if (mode == 0) {
    char *range = upnp_renderer_create_byte_range(position);
    if (!range) return STREAM_FAILED;
    if (limited == 1) {
      size_t n = std::strlen(range) + 40;
      fields = static_cast<char *>(upnp_malloc_impl(n));
      if (fields) std::snprintf(fields, n, "getAvailableSeekRange.dlna.org: 1\r\n%s", range);
      upnp_free_impl(range);
    } else {
      fields = range;
    }
  } else if (mode == 1) {
    fields = upnp_renderer_create_time_range(static_cast<uint64_t>(position), limited);
  } else {
    return STREAM_FAILED;
  }
  if (!fields) return STREAM_FAILED;
  return rerequest(info, fields, "upnp_renderer_seek_http_stream");
}

int upnp_renderer_reget_http_stream(StreamInfo *info) {
  if (!info) return STREAM_MISSING_ARGUMENT;
  EnterCriticalSection(&info->lock);
  bool refused = info->state == STREAM_EVENT_SEEK || (info->features & (STREAM_FEATURE_LIVE | STREAM_FEATURE_NO_SEEK));
  LeaveCriticalSection(&info->lock);
  if (refused) return STREAM_NOT_ALLOWED;
  return rerequest(info, nullptr, "upnp_renderer_reget_http_stream");
}
