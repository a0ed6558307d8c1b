// Download of a URL for the application (lm_nmc_download_uri): the stream
// receiver pulls the resource in download mode, and downloadCallback hands
// each piece to the application's callback and makes the one final call.
//
// Ownership. The download record owns the buffer, a copy of the URL and the
// creator's use of the stream record. It is attached to the stream record
// (its consumer field, under the record's lock) before the receiver starts,
// so the first piece always finds it. Whoever detaches it (the final
// notification, or a data callback that stopped the download) makes the
// final call if any, frees the stream record's creator use and the record.
// The receiver that notified is then no longer current and touches neither
// the buffer nor the callback again.
#include "playlist/lm_nmc_download.h"

#include <cstring>
#include <strings.h>

#include "base/upnp_log.h"
#include "base/upnp_mem.h"
#include "http/http_stream.h"

namespace {

constexpr size_t kSchemeLength = 7;  // "http://"

struct DownloadRecord {
  uint32_t context;
  lm_nmc_download_callback callback;
  void *user_data;
  char *url;     // as handed to the stream, scheme in lower case
  char *buffer;  // the stream's buffer
};

void free_record(DownloadRecord *record) {
  if (record == nullptr) return;
  upnp_free_impl(record->url);
  upnp_free_impl(record->buffer);
  upnp_free_impl(record);
}

bool is_http_url(const char *url) { return strncasecmp(url, "http://", kSchemeLength) == 0 && url[kSchemeLength]; }

// A copy of an "http://" URL whose scheme is in lower case; none without
// memory.
char *lower_scheme_copy(const char *url) {
  char *copy = upnp_strdup_impl(url);
  if (copy != nullptr) std::memcpy(copy, "http", 4);
  return copy;
}

int hex_digit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

// The primary DLNA flags of a protocolInfo: the first eight hexadecimal
// digits after "DLNA.ORG_FLAGS="; 0 when fewer than eight characters follow
// or the first is not a decimal digit.
uint32_t dlna_flags_of(const char *protocol_info) {
  const char *p = protocol_info != nullptr ? std::strstr(protocol_info, "DLNA.ORG_FLAGS=") : nullptr;
  if (p == nullptr) return 0;
  p += std::strlen("DLNA.ORG_FLAGS=");
  if (strnlen(p, 8) < 8 || *p < '0' || *p > '9') return 0;
  uint32_t flags = 0;
  for (int i = 0; i < 8; ++i) {
    int digit = hex_digit(p[i]);
    if (digit < 0) break;
    flags = flags * 16 + static_cast<uint32_t>(digit);
  }
  return flags;
}

void log_flags(uint32_t flags) {
  const char *const who = "lm_nmc_download_uri";
  if (flags & DLNA_FLAG_INTERACTIVE) upnp_log_impl(LOG_LEVEL_INFO, LOG_SYSTEM, who, "Interactive flag set.");
  if (flags & DLNA_FLAG_STREAMING) upnp_log_impl(LOG_LEVEL_INFO, LOG_SYSTEM, who, "Streaming flag set.");
  if (flags & DLNA_FLAG_BACKGROUND) upnp_log_impl(LOG_LEVEL_INFO, LOG_SYSTEM, who, "Background flag set.");
}

// DTCP-protected content: its protection session is the stream's hooks'
// business (none unless the application registered them).
bool is_protected(const char *url, const char *protocol_info) {
  if (std::strstr(url, "CONTENTPROTECTIONTYPE=DTCP1") != nullptr) return true;
  return protocol_info != nullptr &&
         (std::strstr(protocol_info, "application/x-dtcp1") != nullptr ||
          std::strstr(protocol_info, "DTCP.COM_FLAGS") != nullptr);
}

// Takes the download record off the stream record; none when it is gone.
DownloadRecord *detach(StreamInfo *info) {
  EnterCriticalSection(&info->lock);
  auto *record = static_cast<DownloadRecord *>(info->context);
  info->context = nullptr;
  LeaveCriticalSection(&info->lock);
  return record;
}

uint32_t final_result(uint32_t code) {
  if (code == STREAM_EVENT_STOPPED) return LM_NMC_DOWNLOAD_STOPPED;
  if (code == STREAM_EVENT_END) return LM_NMC_DOWNLOAD_DONE;
  return LM_NMC_DOWNLOAD_FAILED;
}

// Ends the download: the stream record loses the creator's use (its receiver
// is dropped, so no notification follows) and the record is freed.
void finish(StreamInfo *info, DownloadRecord *record) {
  upnp_renderer_free_streaminfo(info);
  free_record(record);
}

// The stream's consumer. Codes below 32 but data are steps of the stream
// (started, header, paused, seek); codes of 32 and above are its end.
int downloadCallback(uint32_t count, StreamInfo *info) {
  EnterCriticalSection(&info->lock);
  const uint32_t code = info->state;
  auto *record = static_cast<DownloadRecord *>(info->context);
  LeaveCriticalSection(&info->lock);
  if (code < STREAM_EVENT_STOPPED) {
    if (code != STREAM_EVENT_DATA) return 0;
    // Only the notifying receiver detaches the record, so it is still there.
    if (record == nullptr) return 1;
    if (record->callback(record->context, &record->user_data, record->url, info->buffer, count) != 0) return 0;
    upnp_log_impl(LOG_LEVEL_INFO, LOG_SYSTEM, "downloadCallback", "NMC: Download of %s stopped by its callback",
                  record->url);
    finish(info, detach(info));
    return 1;
  }
  record = detach(info);
  if (record == nullptr) return 1;  // stopped by its callback: no final call
  const uint32_t result = final_result(code);
  upnp_log_impl(LOG_LEVEL_INFO, LOG_SYSTEM, "downloadCallback", "NMC: Download of %s ended with %u (stream code %u)",
                record->url, result, code);
  record->callback(record->context, &record->user_data, record->url, nullptr, result);
  finish(info, record);
  return 1;
}

// Builds the download record with its buffer and URL; none without memory.
DownloadRecord *new_record(uint32_t context, void *user_data, const char *url, uint32_t buffer_size,
                           lm_nmc_download_callback callback) {
  auto *record = static_cast<DownloadRecord *>(upnp_calloc_impl(1, sizeof(DownloadRecord)));
  if (record == nullptr) return nullptr;
  record->context = context;
  record->callback = callback;
  record->user_data = user_data;
  record->url = lower_scheme_copy(url);
  record->buffer = static_cast<char *>(upnp_malloc_impl(buffer_size));
  if (record->url == nullptr || record->buffer == nullptr) {
    free_record(record);
    return nullptr;
  }
  return record;
}

}  // namespace

extern "C" KESTREL_API lm_nmc_result_t lm_nmc_download_uri(uint32_t context, void *user_data, const char *url,
                                                           const char *protocol_info, uint32_t buffer_size,
                                                           lm_nmc_download_callback callback) {
  if (url == nullptr || callback == nullptr) return LM_NMC_INVALID_PARAMETER;
  if (!is_http_url(url)) {
    upnp_log_impl(LOG_LEVEL_WARNING, LOG_SYSTEM, __func__, "NMC: Not an HTTP URL: %s", url);
    return LM_NMC_INVALID_PARAMETER;
  }
  if (!lm_nmc_conn_init()) return LM_NMC_GOING_DOWN;
  if (is_protected(url, protocol_info))
    upnp_log_impl(LOG_LEVEL_INFO, LOG_SYSTEM, __func__, "NMC: Download of protected content %s", url);
  if (buffer_size == 0) buffer_size = LM_NMC_DOWNLOAD_DEFAULT_BUFFER;
  DownloadRecord *record = new_record(context, user_data, url, buffer_size, callback);
  if (record == nullptr) {
    upnp_log_impl(LOG_LEVEL_ERROR, LOG_SYSTEM, __func__, "NMC: Out of memory for a download of %u bytes a piece",
                  buffer_size);
    return LM_NMC_OUT_OF_MEMORY;
  }
  const uint32_t flags = dlna_flags_of(protocol_info);
  log_flags(flags);

  StreamInfo *info = upnp_client_createStreamInfo();
  info = upnp_client_initStreamInfo(info, record->buffer, buffer_size, record->url, nullptr, nullptr, downloadCallback,
                                    STREAM_FEATURE_DOWNLOAD);
  if (info == nullptr) {
    free_record(record);
    return LM_NMC_OUT_OF_MEMORY;
  }
  // Attached before the receiver exists: its first notification finds it.
  EnterCriticalSection(&info->lock);
  info->resource_flags = flags;
  info->context = record;
  LeaveCriticalSection(&info->lock);
  // From here on the stream may end and free both records at any moment.
  if (upnp_client_startHttpStream(info) == nullptr) {
    // No receiver ran, so nothing was notified: the record is still ours.
    free_record(record);
    return LM_NMC_OUT_OF_MEMORY;
  }
  return LM_NMC_OK;
}
